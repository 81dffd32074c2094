// Fuzz target: any bytes as a model file. The fast reader must agree with the
// text-stream reader in every label, value and remark, and a model that passes
// the checks must serve a search without fault.

#include "search/nearest.h"
#include "model/model_file.h"
#include "model/model_problem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>

using namespace sorvik;

namespace {

QString modelPath;

bool sameReport(const ModelFileReport &a, const ModelFileReport &b)
{
    return a.labelCount == b.labelCount && a.raggedLine == b.raggedLine && a.raggedLength == b.raggedLength
        && a.expectedLength == b.expectedLength && a.nonFiniteLine == b.nonFiniteLine && a.tooLarge == b.tooLarge
        && a.changedWhileRead == b.changedWhileRead && a.stalled == b.stalled && a.longLine == b.longLine;
}

bool sameBits(const Matrix &a, const Matrix &b)
{
    return a.rows == b.rows && a.columns == b.columns && a.values.size() == b.values.size()
        && (a.values.empty() || std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(float)) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir dir;
    modelPath = dir.path() + "/model";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile file(modelPath);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    for (bool usableOnly : {false, true}) {
        LabelList labels, referenceLabels;
        Matrix e, p, referenceE, referenceP;
        ModelFileReport report, referenceReport;
        const LabelsKept kept = usableOnly ? LabelsKept::UpToProjectionRows : LabelsKept::All;
        if (!readModelFile(modelPath, labels, e, p, &report, kept)
            || !readModelFileReference(modelPath, referenceLabels, referenceE, referenceP, &referenceReport, kept))
            std::abort();
        if (labels != referenceLabels || !sameBits(e, referenceE) || !sameBits(p, referenceP) || !sameReport(report, referenceReport))
            std::abort();
        if (usableOnly && modelProblem(e, p, report).isEmpty()) {
            if (labels.size() < p.rows)
                std::abort();
            Matrix row(1, e.rows);
            const Matrix y = multiply(row, e);
            const int nearest = nearestRow(p, y.row(0));
            if (nearest != nearestRowReference(p, y.row(0)) || nearest < 0 || nearest >= p.rows)
                std::abort();
        }
    }
    return 0;
}
