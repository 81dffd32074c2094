#pragma once

// The command line of the tools, as console tools usually have it: --help and
// --version answered on standard output with status 0; an unknown option, a bad
// value or a wrong number of arguments refused on standard error with status 2;
// output that the console could not take said at the end.

#include "base/run_end.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <iostream>

#include <poll.h>
#include <unistd.h>

namespace sorvik {

// How every tool begins, before its application object is made: a closed standard
// stream held, and the image libraries' complaints and Qt's messages kept off the
// console.
inline void beginTool()
{
    holdClosedStandardStreams();
    keepLibraryLinesOffStandardError();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// And once it is made: numbers printed with a point, and the tool's name (a string
// that lives on) in its messages and run-end lines.
inline void nameTool(const char *name)
{
    useCNumbers();
    QCoreApplication::setApplicationName(QString::fromLatin1(name));
    setRunEndPrefix(name);
}

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

// Refuses a training and a test folder that are one, by name or through a link:
// the images of both would make one set.
inline void refuseOneFolderForTwo(const QString &train, const QString &test)
{
    const QFileInfo a(train), b(test);
    if (QDir::cleanPath(a.absoluteFilePath()) == QDir::cleanPath(b.absoluteFilePath())
        || (!a.canonicalFilePath().isEmpty() && a.canonicalFilePath() == b.canonicalFilePath()))
        refuseCommandLine(QStringLiteral("the training and test folders are one, \"%1\"; give two").arg(test));
}

// The error of the first flush of standard output that failed.
inline int &consoleError()
{
    static int error = 0;
    return error;
}

// Flushes standard output, keeping the error of a first failure for consoleStatus.
inline void flushConsole()
{
    errno = 0;
    if (std::fflush(stdout) != 0 && consoleError() == 0)
        consoleError() = errno;
}

// The status a tool ends with once what it printed is out. A console that could not
// take it (a full disk, say) is said on standard error and fails the run, for the
// summary is lost; a reader that went away (a pipe into head) fails nothing.
inline int consoleStatus(int status)
{
    flushConsole();
    pollfd console{STDOUT_FILENO, POLLOUT, 0};
    const bool readerGone = consoleError() == EPIPE || (::poll(&console, 1, 0) == 1 && (console.revents & POLLERR) != 0);
    if (!std::ferror(stdout) || readerGone)
        return status;
    const int error = consoleError();
    std::cerr << QCoreApplication::applicationName().toStdString() << ": cannot write to standard output"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
    return status == 0 ? 1 : status;
}

// The value of an option as a whole number from `least` to `most`.
inline int integerOption(const QCommandLineParser &parser, const QString &name, int least, int most = std::numeric_limits<int>::max())
{
    const QString text = parser.value(name);
    bool ok = false;
    const int value = text.toInt(&ok);
    const QString trimmed = text.trimmed(), digits = trimmed.mid(trimmed.startsWith(QLatin1Char('+')) ? 1 : 0);
    // Beyond the bound, or all digits but too large to hold.
    const bool beyond = ok ? value > most
                           : !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    if (beyond)
        refuseCommandLine(QStringLiteral("--%1 takes at most %2, not \"%3\"").arg(name).arg(most).arg(text));
    if (!ok || value < least)
        refuseCommandLine(QStringLiteral("--%1 needs a whole number of at least %2, not \"%3\"").arg(name).arg(least).arg(text));
    return value;
}

} // namespace sorvik
