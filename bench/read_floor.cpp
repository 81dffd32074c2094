// sorvik-read-floor PATH...: reads every file of each sample directory as the
// loader reads it (the same listing, the same open, fstat, read and close, on the
// same threads), and each other path as one file, and does nothing else with the
// bytes; prints the wall time in milliseconds. Loading cannot take less.

#include "decode/image_loader.h"
#include "decode/sample_file.h"
#include "samples/sample_reader.h"

#include "base/heap_tuning.h"
#include "base/parallel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

using namespace sorvik;

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
        return 2;
    }
    tuneHeap();  // as the program does
    QElapsedTimer timer;
    timer.start();
    std::atomic<qint64> files{0}, bytes{0};
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromUtf8(argv[i]);
        QList<QByteArray> paths;
        if (QFileInfo(path).isDir()) {
            const QByteArray directoryBytes = QFile::encodeName(path) + '/';
            for (const DirectoryEntry &entry : listSampleDirectory(path))
                if (entry.kind == Entry::File)
                    paths << directoryBytes + entry.bytes;
        } else {
            paths << QFile::encodeName(path);
        }
        forEachIndex(paths.size(), [&](int k) {
            static thread_local QByteArray content;
            QString failure;
            if (readSampleFile(paths.at(k), content, failure)) {
                ++files;
                bytes += content.size();
            }
        });
    }
    std::printf("%lld ms: %lld files, %lld bytes\n", timer.elapsed(), qint64(files), qint64(bytes));
    return 0;
}
