#include "app/commands.h"

#include "base/heap_tuning.h"
#include "base/run_end.h"

#include <QtGlobal>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <new>

#include <fcntl.h>
#include <unistd.h>

using namespace sorvik;

namespace {

// The image libraries under Qt (libpng among them) also print their complaints
// straight to the standard error stream; it is pointed at /dev/null for good.
void silenceStandardError()
{
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

// Image plugins and libraries report through Qt's message handler, which would
// print on standard error; the program keeps its console to standard output.
void discardQtMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char *argv[])
{
    holdClosedStandardStreams();
    tuneHeap();
    silenceStandardError();
    qInstallMessageHandler(discardQtMessage);
    // The report goes out line by line, so an interrupted run shows how far it got;
    // a reader of the console that goes away stops the report, not the run, which
    // still writes its model.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    std::signal(SIGPIPE, SIG_IGN);
    std::cout.setf(std::ios::fixed, std::ios::floatfield);
    std::cout.precision(6);

    const QString command = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
    setRunEndPrefix(argc == 3 ? "cannot train" : "cannot classify");
    try {
        if (argc == 3 && command == QLatin1String("train")) {
            trainModel(QString::fromUtf8(argv[2]));
            return 1;
        }
        if (argc == 4 && command == QLatin1String("class")) {
            classifySamples(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[3]));
            return 1;
        }
    } catch (const std::bad_alloc &) {
        // Training checks its needs before it starts; this is memory that other
        // processes took meanwhile. An existing model is left as it was.
        endOutOfMemory(0);
    }
    printUsage(argc > 0 ? argv[0] : "");
    return -1;
}
