#pragma once

#include <QByteArray>
#include <QString>

namespace sorvik {

// A name or path as it can be printed on one line: control characters and bytes
// that are not UTF-8 become escapes ("\n", "\xff"); everything else stays.
QString printableName(const QByteArray &bytes);
QString printableName(const QString &name);

} // namespace sorvik
