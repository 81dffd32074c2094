#pragma once

// The text forms that the tools write answers in: fields of RFC 4180 CSV, JSON
// strings, and numbers as the shortest text that reads back as the same value.

#include <QByteArray>
#include <QString>

#include <charconv>

namespace sorvik {

// Appends a field as RFC 4180 writes it, quoted where it needs to be. A field
// that a spreadsheet would run as a formula (one that begins with =, +, - or @),
// or one that begins with an apostrophe, gets an apostrophe in front, which
// spreadsheets show as text; a script drops the first character of a field that
// begins with one.
inline void appendCsvField(QByteArray &csv, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const bool guarded = !bytes.isEmpty() && QByteArray::fromRawData("=+-@'", 5).contains(bytes.front());
    const bool quoted = bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r');
    if (quoted)
        csv += '"';
    if (guarded)
        csv += '\'';
    csv += quoted ? QByteArray(bytes).replace("\"", "\"\"") : bytes;
    if (quoted)
        csv += '"';
}

// The shortest text that reads back as the same value ("inf", "nan" as C++ writes them).
template <typename Number>
void appendCsvNumber(QByteArray &csv, Number value)
{
    char text[32];
    csv.append(text, int(std::to_chars(text, text + sizeof text, value).ptr - text));
}

// Appends a JSON string: quoted, with quotes, backslashes and control characters escaped.
inline void appendJsonString(QByteArray &json, const QString &text)
{
    json += '"';
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            json += '\\', json += c;
        else if (static_cast<unsigned char>(c) < 0x20)
            json += "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        else
            json += c;
    }
    json += '"';
}

} // namespace sorvik
