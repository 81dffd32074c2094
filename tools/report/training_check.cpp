#include "tools/report/training_check.h"

#include "base/printable_name.h"

#include <QFile>

#include <cmath>
#include <set>

namespace sorvik {

namespace {

// How far a value read from a model file may lie from the one that was written:
// half a unit in its sixth significant digit, and the float roundings on the way.
long double writtenError(float value)
{
    const long double v = std::fabs((long double)value);
    return v == 0 ? 0 : 0.5000001L * std::pow(10.0L, std::floor(std::log10(v)) - 5) + v * std::ldexp(1.0L, -22);
}

QStringList usableNames(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model)
{
    QStringList names;
    for (const DirectoryEntry &entry : listing)
        if (entry.kind == Entry::File)
            names << entry.name;
    bool matches = names.size() == model.projections.rows;
    for (int i = 0; matches && i < names.size(); ++i)
        matches = labelFromFileName(names.at(i)) == model.labels.at(i);
    if (matches)  // listing alone suffices when files and classes match the rows one for one
        return names;
    QList<Raster> samples;
    DirectoryReport report;
    readSampleDirectory(directory, samples, &report);
    return report.names;
}

} // namespace

bool projectsOntoRow(const Raster &features, const Model &model, int row)
{
    const Matrix &e = model.components;
    if (std::size_t(e.rows) != features.data.size())
        return false;
    for (int j = 0; j < e.columns; ++j) {
        long double sum = 0, error = 0;
        for (int i = 0; i < e.rows; ++i) {
            sum += (long double)features.data[std::size_t(i)] * e(i, j);
            error += (long double)features.data[std::size_t(i)] * writtenError(e(i, j));
        }
        const float stored = model.projections(row, j);
        if (!(std::fabs(stored - sum) <= error + writtenError(stored) + std::fabs(sum) * std::ldexp(1.0L, -40)))
            return false;
    }
    return true;
}

TrainingFiles trainingFiles(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model)
{
    TrainingFiles result;
    const QStringList names = usableNames(directory, listing, model);
    const int n = model.projections.rows;
    if (names.size() != n) {
        result.problem = QStringLiteral("%1 holds %2 usable images for the model's %3 rows; predictions.csv names no nearest training file")
                             .arg(printableName(directory), QString::number(names.size()), QString::number(n));
        return result;
    }
    for (const int row : std::set<int>{0, n / 4, n / 2, 3 * n / 4, n - 1}) {
        QString failure;  // read as training read it
        const Raster features = sampleFeatures(QFile::encodeName(samplePath(directory, names.at(row))), failure);
        if (!failure.isEmpty() || !projectsOntoRow(features, model, row)) {
            result.problem = QStringLiteral("%1 does not give row %2 of the model: %3 is not the directory the model was trained on; "
                                            "predictions.csv names no nearest training file")
                                 .arg(printableName(samplePath(directory, names.at(row))), QString::number(row + 1), printableName(directory));
            return result;
        }
    }
    result.names = names;
    return result;
}

} // namespace sorvik
