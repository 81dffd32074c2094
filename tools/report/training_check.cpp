#include "tools/report/training_check.h"

#include "base/parallel.h"
#include "base/printable_name.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

// How far a value read from a model file may lie from the one that was written:
// half a unit in its sixth significant digit, which is at most 5e-6 of the value,
// and the float roundings on the way.
long double writtenError(float value)
{
    return std::fabs((long double)value) * (5.0000001e-6L + std::ldexp(1.0L, -22));
}

} // namespace

bool namesClass(const QString &name, const QString &label)
{
    const int size = name.size();
    int end = 0;
    while (end < size && name[end] != QLatin1Char('.') && name[end] != QLatin1Char('-'))
        ++end;
    if (end != label.size())
        return labelFromFileName(name) == label;
    for (int k = 0; k < end; ++k) {
        const ushort c = name[k].unicode();
        if (c >= 0x80 || label[k].unicode() >= 0x80)
            return labelFromFileName(name) == label;
        if ((c >= 'a' && c <= 'z' ? c - 32 : c) != label[k].unicode())
            return false;
    }
    return true;
}

namespace {

QStringList usableNames(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model)
{
    QStringList names;
    for (const DirectoryEntry &entry : listing)
        if (entry.kind == Entry::File)
            names << entry.name;
    bool matches = names.size() == model.projections.rows;
    for (int i = 0; matches && i < names.size(); ++i)
        matches = namesClass(names.at(i), model.labels.at(i));
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

// A file of a directory as its status names it: inode, size and time of change.
struct Identity {
    qint64 inode = -1, size = -1, changed = -1;
    bool operator==(const Identity &o) const { return inode == o.inode && size == o.size && changed == o.changed; }
};

// Asked of the directory (`folder`, a descriptor of it) by name: a whole path
// would be walked again for every file.
Identity identityOf(int folder, const QByteArray &name)
{
    struct stat status;
    if (::fstatat(folder, name.constData(), &status, 0) != 0)
        return Identity();
    return {qint64(status.st_ino), qint64(status.st_size), qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec};
}

// The header of a proofs file for this model and directory.
QByteArray proofsHeader(const QByteArray &modelIdentity, const QString &directory)
{
    return "sorvik-report training proofs 1\nmodel " + modelIdentity + "\ntraining " + QFile::encodeName(QFileInfo(directory).canonicalFilePath()) + "\n";
}

// The rows an earlier proofs file holds for this model and directory: for each
// row, its identity and name (as bytes), read in place; nothing where the header
// differs, and no row whose line does not read.
struct Proven {
    Identity identity;
    QByteArray name;
};
std::vector<Proven> earlierProofs(const QByteArray &earlier, const QByteArray &header, int rows)
{
    std::vector<Proven> proven;
    if (!earlier.startsWith(header))
        return proven;
    proven.resize(std::size_t(rows));
    const char *p = earlier.constData() + header.size(), *end = earlier.constData() + earlier.size();
    while (p < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd)
            break;
        qint64 numbers[4];
        bool ok = true;
        for (qint64 &number : numbers) {
            const auto [next, error] = std::from_chars(p, lineEnd, number);
            ok = ok && error == std::errc() && next < lineEnd && *next == '\t';
            p = ok ? next + 1 : lineEnd;
        }
        if (ok && numbers[0] >= 0 && numbers[0] < rows)
            proven[std::size_t(numbers[0])] = {{numbers[1], numbers[2], numbers[3]}, QByteArray::fromRawData(p, int(lineEnd - p))};
        p = lineEnd + 1;
    }
    return proven;
}

// The error of every component as the model file wrote it, component by component.
std::vector<long double> writtenErrors(const Matrix &e)
{
    std::vector<long double> errors(std::size_t(e.rows) * std::size_t(e.columns));
    for (int j = 0; j < e.columns; ++j)
        for (int i = 0; i < e.rows; ++i)
            errors[std::size_t(j) * std::size_t(e.rows) + std::size_t(i)] = writtenError(e(i, j));
    return errors;
}

// The line of training-proofs.txt for a proven row; none where the file changed
// while it was proven, or where its name would break the line.
QByteArray proofLine(int row, const Identity &identity, const QString &name)
{
    if (identity.inode < 0 || name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\t')))
        return QByteArray();
    char numbers[4 * 21];
    char *at = numbers;
    for (const qint64 value : {qint64(row), identity.inode, identity.size, identity.changed}) {
        at = std::to_chars(at, numbers + sizeof numbers, value).ptr;
        *at++ = '\t';
    }
    return QByteArray(numbers, int(at - numbers)) + QFile::encodeName(name) + '\n';
}

} // namespace

QByteArray fileIdentity(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return QByteArray();  // a pipe or a device may give other bytes each time
    return QByteArray::number(qulonglong(status.st_dev)) + ' ' + QByteArray::number(qulonglong(status.st_ino)) + ' '
         + QByteArray::number(qint64(status.st_size)) + ' ' + QByteArray::number(qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec);
}

TrainingFiles trainingFiles(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model, std::vector<int> rows,
                            const QByteArray &modelIdentity, const QByteArray &earlier, QByteArray &proofs)
{
    TrainingFiles result;
    const QStringList names = usableNames(directory, listing, model);
    const int n = model.projections.rows;
    if (names.size() != n) {
        const QString why = unlisted(directory);
        const QString held = why.isEmpty() ? QStringLiteral("holds %1 for the model's %2").arg(counted(names.size(), "usable image"), counted(n, "row")) : why;
        result.problem = QStringLiteral("%1 %2; predictions.csv names no nearest training file").arg(printableName(directory), held);
        return result;
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const std::vector<long double> componentErrors = writtenErrors(model.components);
    const QByteArray header = proofsHeader(modelIdentity, directory);
    const std::vector<Proven> before = modelIdentity.isEmpty() ? std::vector<Proven>() : earlierProofs(earlier, header, n);
    std::vector<char> proven(rows.size(), 0);
    std::vector<Identity> identities(rows.size());
    const int folder = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    forEachIndex(int(rows.size()), [&](int i) {
        const int row = rows[std::size_t(i)];
        const QByteArray name = QFile::encodeName(names.at(row));
        const Identity identity = identityOf(folder, name);
        if (!before.empty() && identity.inode >= 0 && before[std::size_t(row)].identity == identity && before[std::size_t(row)].name == name) {
            proven[std::size_t(i)] = 1, identities[std::size_t(i)] = identity;  // unchanged since it was proven
            return;
        }
        QString failure;  // read as training read it
        const Raster features = sampleFeatures(QFile::encodeName(directory) + '/' + name, failure, transformOf(model.parameters));
        proven[std::size_t(i)] = failure.isEmpty() && projectsOntoRow(features, model, componentErrors, row);
        // Kept for the next report only when the file did not change meanwhile.
        if (identityOf(folder, name) == identity)
            identities[std::size_t(i)] = identity;
    });
    if (folder >= 0)
        ::close(folder);
    proofs = header;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (proven[i])
            proofs += proofLine(rows[i], identities[i], names.at(rows[i]));
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
        const bool one = unproven.size() == 1;
        result.problem = QStringLiteral("%1 of the %2 training images that the report names %3 of the model, so %4 has changed "
                                        "since training (%5); %6 left out of predictions.csv and the page")
                             .arg(unproven.size()).arg(rows.size())
                             .arg(one ? QStringLiteral("does not give its row") : QStringLiteral("do not give their rows"), printableName(directory))
                             .arg(unproven.mid(0, 3).join(QStringLiteral(", ")) + (unproven.size() > 3 ? QStringLiteral(", ...") : QString()),
                                  one ? QStringLiteral("its name is") : QStringLiteral("their names are"));
    }
    return result;
}

} // namespace sorvik
