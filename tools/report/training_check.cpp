#include "tools/report/training_check.h"

#include "base/parallel.h"
#include "base/printable_name.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace sorvik {

namespace {

// How far a value read from a model file may lie from the one that was written:
// half a unit in its sixth significant digit, which is at most 5e-6 of the value,
// and the float roundings on the way.
long double writtenError(float value)
{
    return std::fabs((long double)value) * (5.0000001e-6L + std::ldexp(1.0L, -22));
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
    readSampleDirectory(directory, samples, &report, transformOf(model.parameters));
    return report.names;
}

// Whether the features of one image, projected onto the model's components, give
// row `row` of its projections as the model file holds them: equal but for the
// rounding to six digits that the file applies to every component and projection
// (`componentErrors`, the bound of each component value, by column).
bool projectsOntoRow(const Raster &features, const Model &model, const std::vector<long double> &componentErrors, int row)
{
    const Matrix &e = model.components;
    if (std::size_t(e.rows) != features.data.size())
        return false;
    for (int j = 0; j < e.columns; ++j) {
        long double sum = 0, error = 0;
        for (int i = 0; i < e.rows; ++i) {
            sum += (long double)features.data[std::size_t(i)] * e(i, j);
            error += (long double)features.data[std::size_t(i)] * componentErrors[std::size_t(j) * std::size_t(e.rows) + std::size_t(i)];
        }
        const float stored = model.projections(row, j);
        if (!(std::fabs(stored - sum) <= error + writtenError(stored) + std::fabs(sum) * std::ldexp(1.0L, -40)))
            return false;
    }
    return true;
}

} // namespace

TrainingFiles trainingFiles(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model, std::vector<int> rows)
{
    TrainingFiles result;
    const QStringList names = usableNames(directory, listing, model);
    const int n = model.projections.rows;
    if (names.size() != n) {
        result.problem = QStringLiteral("%1 holds %2 usable images for the model's %3 rows; predictions.csv names no nearest training file")
                             .arg(printableName(directory), QString::number(names.size()), QString::number(n));
        return result;
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const Matrix &e = model.components;
    std::vector<long double> componentErrors(std::size_t(e.rows) * std::size_t(e.columns));
    for (int j = 0; j < e.columns; ++j)
        for (int i = 0; i < e.rows; ++i)
            componentErrors[std::size_t(j) * std::size_t(e.rows) + std::size_t(i)] = writtenError(e(i, j));
    std::vector<char> proven(rows.size(), 0);
    forEachIndex(int(rows.size()), [&](int i) {
        QString failure;  // read as training read it
        const int row = rows[std::size_t(i)];
        const Raster features = sampleFeatures(QFile::encodeName(samplePath(directory, names.at(row))), failure, transformOf(model.parameters));
        proven[std::size_t(i)] = failure.isEmpty() && projectsOntoRow(features, model, componentErrors, row);
    });
    QStringList unproven;
    for (int r = 0; r < n; ++r)
        result.names << QString();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString &name = names.at(rows[i]);
        if (proven[i])
            result.names[rows[i]] = name;
        else
            unproven << QStringLiteral("%1 (row %2)").arg(printableName(samplePath(directory, name))).arg(rows[i] + 1);
    }
    if (unproven.size() == int(rows.size()) && !rows.empty()) {
        result.names.clear();
        result.problem = QStringLiteral("%1 does not give row %2 of the model, nor does any other training image that the report would name: "
                                        "%3 is not the directory the model was trained on; predictions.csv names no nearest training file")
                             .arg(printableName(samplePath(directory, names.at(rows.front()))), QString::number(rows.front() + 1), printableName(directory));
    } else if (!unproven.isEmpty()) {
        result.problem = QStringLiteral("%1 of the %2 training images that the report names do not give their rows of the model, so %3 has changed "
                                        "since training (%4); their names are left out of predictions.csv and the page")
                             .arg(unproven.size()).arg(rows.size()).arg(printableName(directory))
                             .arg(unproven.mid(0, 3).join(QStringLiteral(", ")) + (unproven.size() > 3 ? QStringLiteral(", ...") : QString()));
    }
    return result;
}

} // namespace sorvik
