#include "model/model_parameters.h"

#include "base/printable_name.h"
#include "linalg/pca.h"

#include <QRegularExpression>

namespace sorvik {

const QString parametersMark = QStringLiteral("sorvik-tune:");

bool fixedRecipe(const ModelParameters &p, int features, int components)
{
    const ModelParameters fixed;
    return p.spacing == fixed.spacing && p.offsetX == fixed.offsetX && p.offsetY == fixed.offsetY && p.neighbours == fixed.neighbours
           && components == keptComponentCount(features);
}

QString parametersItem(const ModelParameters &p, int components)
{
    return parametersMark + QStringLiteral("spacing=%1:offsets=%2,%3:components=%4:neighbours=%5")
                                .arg(p.spacing).arg(p.offsetX).arg(p.offsetY).arg(components).arg(p.neighbours);
}

QString readParametersItem(const QString &item, int components, ModelParameters &p)
{
    static const QRegularExpression form(QStringLiteral("^sorvik-tune:spacing=(\\d{1,3}):offsets=(\\d{1,3}),(\\d{1,3}):"
                                                        "components=(\\d{1,9}):neighbours=(\\d{1,9})$"));
    const QRegularExpressionMatch match = form.match(item);
    if (!match.hasMatch())
        return QStringLiteral("has parameters that this version cannot read (\"%1\")").arg(item.left(80));
    // Taken only once in range: a reader may build its features from them at once.
    ModelParameters read;
    read.spacing = match.captured(1).toInt();
    read.offsetX = match.captured(2).toInt();
    read.offsetY = match.captured(3).toInt();
    read.neighbours = match.captured(5).toInt();
    if (read.spacing < 1 || read.spacing > 64 || read.offsetX > 64 || read.offsetY > 64 || read.neighbours < 1)
        return QStringLiteral("has parameters out of range (spacing %1, offsets %2 and %3, %4 neighbours)")
            .arg(read.spacing).arg(read.offsetX).arg(read.offsetY).arg(read.neighbours);
    p = read;
    if (components >= 0 && match.captured(4).toInt() != components)
        return QStringLiteral("names %1 components in its parameters but holds %2").arg(match.captured(4)).arg(components);
    return QString();
}

QString parametersInWords(const ModelParameters &p, int components)
{
    return QStringLiteral("spacing %1, %2 and %3").arg(p.spacing).arg(counted(components, "component"), counted(p.neighbours, "neighbour"));
}

} // namespace sorvik
