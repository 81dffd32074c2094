#pragma once

// The command line of the tools, as console tools usually have it: --help and
// --version answered on standard output with status 0; an unknown option, a bad
// value or a wrong number of arguments refused on standard error with status 2.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <iostream>

namespace sorvik {

[[noreturn]] inline void refuseCommandLine(const QString &message)
{
    const std::string name = QCoreApplication::applicationName().toStdString();
    std::cerr << name << ": " << message.toStdString() << "\nTry '" << name << " --help' for more information.\n";
    std::exit(2);
}

// Parses the command line; returns the positional arguments, of which there must
// be `count`.
inline QStringList parseCommandLine(QCommandLineParser &parser, const QString &description, int count)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(SORVIK_VERSION));
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments()))
        refuseCommandLine(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))  // no Qt options to add: the same text
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != count)
        refuseCommandLine(QStringLiteral("expected %1 arguments, got %2").arg(count).arg(positional.size()));
    return positional;
}

// The value of an option as a whole number from `least` to `most`.
inline int integerOption(const QCommandLineParser &parser, const QString &name, int least, int most = std::numeric_limits<int>::max())
{
    const QString text = parser.value(name);
    bool ok = false;
    const int value = text.toInt(&ok);
    const QString trimmed = text.trimmed(), digits = trimmed.mid(trimmed.startsWith(QLatin1Char('+')) ? 1 : 0);
    if (!ok && !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
        refuseCommandLine(QStringLiteral("--%1 takes at most %2, not \"%3\"").arg(name).arg(most).arg(text));
    if (!ok || value < least)
        refuseCommandLine(QStringLiteral("--%1 needs a whole number of at least %2, not \"%3\"").arg(name).arg(least).arg(text));
    if (value > most)
        refuseCommandLine(QStringLiteral("--%1 takes at most %2, not \"%3\"").arg(name).arg(most).arg(text));
    return value;
}

} // namespace sorvik
