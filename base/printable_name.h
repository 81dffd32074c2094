#pragma once

#include <QByteArray>
#include <QString>

namespace sorvik {

// A name or path as it can be printed on one line: control characters and bytes
// that are not UTF-8 become escapes ("\n", "\xff"); everything else stays.
QString printableName(const QByteArray &bytes);
QString printableName(const QString &name);

// A count and its noun, in the plural unless the count is one: "1 image", "3 images".
inline QString counted(qint64 count, const char *noun)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(noun) + QLatin1String(count == 1 ? "" : "s");
}

} // namespace sorvik
