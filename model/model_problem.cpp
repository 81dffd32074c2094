#include "model/model_problem.h"

#include "model/model_bytes.h"
#include "model/model_parameters.h"

namespace sorvik {

QString modelProblem(const Matrix &components, const Matrix &projections, const ModelFileReport &report)
{
    if (report.tooLarge)
        return QStringLiteral("is larger than %1 bytes").arg(maxModelBytes);
    if (report.changedWhileRead)
        return QStringLiteral("changed while it was read; read it again once it is complete");
    if (report.stalled)
        return QStringLiteral("sent nothing for %1 seconds").arg(modelWaitMilliseconds / 1000);
    if (report.longLine != 0)
        return QStringLiteral("has a line (line %1) longer than %2 bytes, more than any model holds").arg(report.longLine).arg(maxModelLineBytes);
    if (report.labelCount == 0)
        return QStringLiteral("has no labels on its first line");
    ModelParameters parameters;
    const QString unreadable = report.parameters.isEmpty() ? QString() : readParametersItem(report.parameters, components.columns, parameters);
    if (!unreadable.isEmpty())
        return unreadable;
    if (components.rows == 0 || components.columns == 0)
        return QStringLiteral("has no component rows before its empty line");
    if (projections.rows == 0)
        return QStringLiteral("has no projection rows after its empty line");
    if (report.raggedLine != 0)
        return QStringLiteral("has %1 values on line %2 where the rows before it have %3")
            .arg(report.raggedLength).arg(report.raggedLine).arg(report.expectedLength);
    if (projections.columns != components.columns)
        return QStringLiteral("has %1 values in each projection row but %2 in each component row; both must have one per component")
            .arg(projections.columns).arg(components.columns);
    if (report.labelCount < projections.rows)
        return QStringLiteral("has %1 labels for %2 projection rows; every projection row needs its label")
            .arg(report.labelCount).arg(projections.rows);
    if (report.nonFiniteLine != 0)
        return QStringLiteral("has a value on line %1 that is not a finite number").arg(report.nonFiniteLine);
    return QString();
}

} // namespace sorvik
