#include "model/model_writer.h"

#include "model/model_number.h"
#include "model/model_parameters.h"

#include "base/kernels.h"
#include "base/parallel.h"
#include "base/whole_file.h"

#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

namespace sorvik {

namespace {

// Writes the rows of a matrix to `file`, each value followed by ";", each row by
// a line end. Pieces of rows are formatted side by side into buffers that are
// written in order and then reused, a batch at a time.
void writeRows(WholeFile &file, const Matrix &matrix)
{
    constexpr int batch = 8;
    constexpr std::size_t room = 25;  // what formatModelNumber may touch, and the ";"
    // Pieces of about 256 KiB at most, so that the buffers stay few and warm.
    const std::size_t rowBytes = std::size_t(matrix.columns) * room + 1;
    const int pieceRows = int(std::max<std::size_t>(1, (std::size_t(1) << 18) / rowBytes));
    const std::size_t pieceBytes = std::size_t(pieceRows) * rowBytes;
    std::vector<std::unique_ptr<char[]>> buffers(batch);
    std::vector<std::size_t> lengths(batch);
    for (int first = 0; first < matrix.rows; first += pieceRows * batch) {
        const int pieces = std::min(batch, (matrix.rows - first + pieceRows - 1) / pieceRows);
        forEachIndex(pieces, [&](int b) {
            if (!buffers[b])
                buffers[b].reset(new char[pieceBytes]);
            char *out = buffers[b].get();
            for (int r = first + b * pieceRows, end = std::min(matrix.rows, r + pieceRows); r < end; ++r) {
                const float *row = matrix.row(r);
                for (int c = 0; c < matrix.columns; ++c) {
                    out += formatModelNumber(row[c], out);
                    *out++ = ';';
                }
                *out++ = '\n';
            }
            lengths[b] = std::size_t(out - buffers[b].get());
        }, 1);
        for (int b = 0; b < pieces; ++b)
            if (!file.write(buffers[b].get(), lengths[b]))
                return;
    }
}

bool writeModelFileFast(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections,
                        QString &reason)
{
    WholeFile file(fileName);
    // The label line is encoded at once, as a text stream encodes all it is given.
    file.write((labels.isEmpty() ? QString() : labels.join(QLatin1Char(';')) + QLatin1Char(';')).toLocal8Bit() + '\n');
    writeRows(file, components);
    file.write("\n", 1);
    writeRows(file, projections);
    const bool written = file.commit();
    reason = file.reason();
    return written;
}

} // namespace

bool writeModelFile(const QString &fileName, const Model &model, QString *reason)
{
    const Matrix &e = model.components;
    if (fixedRecipe(model.parameters, e.rows, e.columns))
        return writeModelFile(fileName, model.labels, e, model.projections, reason);
    return writeModelFile(fileName, LabelList{parametersItem(model.parameters, e.columns)} + model.labels, e, model.projections, reason);
}

bool writeModelFile(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections,
                    QString *reason)
{
    QString why;
    const bool written = plainKernels ? writeModelFileReference(fileName, labels, components, projections, &why)
                                      : writeModelFileFast(fileName, labels, components, projections, why);
    if (reason)
        *reason = why;
    return written;
}

bool writeModelFileReference(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections,
                             QString *reason)
{
    QByteArray text;
    QTextStream stream(&text, QIODevice::WriteOnly);
    for (const QString &label : labels)
        stream << label << ";";
    stream << "\n";
    for (int r = 0; r < components.rows; ++r) {
        for (int c = 0; c < components.columns; ++c)
            stream << components(r, c) << ";";
        stream << "\n";
    }
    stream << "\n";
    for (int r = 0; r < projections.rows; ++r) {
        for (int c = 0; c < projections.columns; ++c)
            stream << projections(r, c) << ";";
        stream << "\n";
    }
    stream.flush();
    QString why;
    const bool written = writeWholeFile(fileName, text, why);
    if (reason)
        *reason = why;
    return written;
}

} // namespace sorvik
