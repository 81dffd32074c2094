#include "app/commands.h"

#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>
#include <iostream>

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
    silenceStandardError();
    qInstallMessageHandler(discardQtMessage);
    std::cout.setf(std::ios::fixed, std::ios::floatfield);
    std::cout.precision(6);

    const QString command = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
    if (argc == 3 && command == QLatin1String("train")) {
        trainModel(QString::fromUtf8(argv[2]));
        return 1;
    }
    if (argc == 4 && command == QLatin1String("class")) {
        classifySamples(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[3]));
        return 1;
    }
    printUsage(argc > 0 ? argv[0] : "");
    return -1;
}
