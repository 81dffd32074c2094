// The decoding limit and the allocator that holds it: every way to allocate obeys
// the limit; a file that only the limit can stop is refused for that reason; and
// an allocation that fails at any step of a decode, of every format, ends the run
// with the out-of-memory line, never a crash, an exception or a reason that
// blames the file.

#include "support.h"

#include "decode/allocator.h"
#include "decode/decode_limit.h"
#include "decode/image_loader.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdlib>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorvik;

namespace {

const char *const limitReason = "needs more memory to decode than an image of at most 16777216 pixels";

// A GIF whose logical screen is 16000 x 13000 pixels around an image of one
// pixel: its size passes, and only what its decoder allocates for the screen
// gives it away.
const QByteArray hugeScreen("GIF89a\x80\x3e\xc8\x32\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0\1\0\1\0\0\2\2D\1\0;", 35);

struct Outcome {
    int status;      // the exit status, or -1 for a signal
    QByteArray out;  // what it printed: the failure of the decode, or the line that ended the run
};

// Decodes `path` in a child process while the n-th allocation of the decode fails.
Outcome decodeFailingAt(const QByteArray &path, long n)
{
    int channel[2];
    if (pipe(channel) != 0)
        return {-2, {}};
    const pid_t child = fork();
    if (child == 0) {
        dup2(channel[1], STDOUT_FILENO);
        QString failure;
        try {
            const AllocationCountdown countdown(n);
            loadSamplePixels(path, failure);
        } catch (...) {
            _exit(3);  // an exception out of the loader
        }
        const QByteArray text = failure.toUtf8();
        (void)!write(STDOUT_FILENO, text.constData(), std::size_t(text.size()));
        _exit(0);
    }
    close(channel[1]);
    Outcome outcome{-1, {}};
    char buffer[512];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        outcome.out.append(buffer, int(got));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace

TEST(DecodeLimit, RefusesAllocationsBeyondTheLimitInEveryWay)
{
    if (SORVIK_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer owns malloc and sets its own limit";
    // Every way a decoder can allocate, called through volatile pointers so that the
    // compiler cannot fold the calls away: within the limit each gives memory,
    // beyond it each fails and the limit says so.
    void *(*volatile allocate)(std::size_t) = std::malloc;
    void *(*volatile allocateZeroed)(std::size_t, std::size_t) = std::calloc;
    void *(*volatile reallocate)(void *, std::size_t) = std::realloc;
    void *(*volatile reallocateArray)(void *, std::size_t, std::size_t) = reallocarray;
    void *(*volatile alignedAllocate)(std::size_t, std::size_t) = aligned_alloc;
    void *(*volatile alignedMemory)(std::size_t, std::size_t) = memalign;
    int (*volatile posixAligned)(void **, std::size_t, std::size_t) = posix_memalign;
    void *(*volatile pageAligned)(std::size_t) = valloc;
    const std::size_t within = 1 << 19, beyond = std::size_t(2) << 20;
    const AllocationLimit limit(1 << 20);
    void *block = nullptr;
    for (void *given : {allocate(within), allocateZeroed(within, 1), reallocate(nullptr, within), reallocateArray(nullptr, within, 1),
                        alignedAllocate(64, within), alignedMemory(64, within), pageAligned(within),
                        posixAligned(&block, 64, within) == 0 ? block : nullptr}) {
        EXPECT_NE(nullptr, given);
        std::free(given);
    }
    EXPECT_FALSE(limit.refused());
    block = allocate(16);
    EXPECT_EQ(nullptr, reallocate(block, beyond));
    EXPECT_EQ(nullptr, reallocateArray(block, beyond, 1));
    std::free(block);
    void *aligned = nullptr;
    for (void *refused : {allocate(beyond), allocateZeroed(1024, 2048), alignedAllocate(64, beyond), alignedMemory(64, beyond),
                          pageAligned(beyond), posixAligned(&aligned, 64, beyond) == 0 ? aligned : nullptr})
        EXPECT_EQ(nullptr, refused);
    EXPECT_TRUE(limit.refused());
}

TEST(DecodeLimit, NamesTheLimitAsTheReasonOfAFileOnlyTheLimitStops)
{
    if (SORVIK_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer's limit returns null without a word";
    // The screen of 16000 x 13000 pixels, and one of 6000 x 6000 whose 144 MB lie
    // just beyond the 129 MiB that 16777216 pixels of 8 bytes and their padding take.
    QTemporaryDir dir;
    for (const QByteArray &gif : {hugeScreen, QByteArray(hugeScreen).replace(6, 4, "\x70\x17\x70\x17")}) {
        writeFile(dir.path() + "/c-1.gif", gif);
        QString failure;
        EXPECT_EQ(0, loadSamplePixels(QFile::encodeName(dir.path() + "/c-1.gif"), failure).width);
        EXPECT_EQ(limitReason, failure.toStdString());
    }
}

TEST(DecodeLimit, AnAllocationThatFailsAtAnyStepOfADecodeEndsCleanly)
{
    if (SORVIK_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer owns malloc";
    // One small image of each format that Qt decodes (XPM, which takes thousands of
    // allocations, aside), a plain PNG that the direct
    // decoder reads and a PNG of 16 bits a sample that Qt reads. Each is decoded
    // once here, so that the plugins are loaded, then again with its first,
    // second, ... allocation failing, until a decode passes that allocates no more.
    QTemporaryDir dir;
    const QImage image = greyImage(20, 20, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    QStringList files;
    for (const char *format : {"png", "bmp", "jpg", "tiff", "webp", "ico", "ppm"}) {
        saveImage(image, dir.path(), QString("a-1.%1").arg(format), format);
        files << dir.path() + "/a-1." + format;
    }
    saveImage(image.convertToFormat(QImage::Format_RGBA64), dir.path(), "deep.png");  // 16 bits a sample: Qt's
    files << dir.path() + "/deep.png" << SORVIK_SOURCE_DIR "/tests/fuzz/seeds-fuzz_image/pattern.gif";  // Qt writes no GIF
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray path = QFile::encodeName(file);
        QString failure;
        ASSERT_LT(0, loadSamplePixels(path, failure).width) << failure.toStdString();
        long n = 1;
        for (; n < 5000; ++n) {
            const Outcome outcome = decodeFailingAt(path, n);
            ASSERT_NE(-1, outcome.status) << "a crash when allocation " << n << " fails";
            ASSERT_NE(3, outcome.status) << "an exception out of the loader when allocation " << n << " fails";
            if (outcome.status == 0) {
                EXPECT_EQ(QByteArray(), outcome.out) << "when allocation " << n << " fails";
                break;  // no allocation failed: the walk is over
            }
            EXPECT_EQ(1, outcome.status);
            EXPECT_TRUE(QRegularExpression("^cannot go on: this machine ran out of memory: the run held [0-9.]+ MB and needed [0-9.]+ ([kM]B|bytes) more\n$")
                            .match(QString::fromUtf8(outcome.out)).hasMatch()) << "when allocation " << n << " fails: " << outcome.out.constData();
        }
        EXPECT_LT(n, 5000);

    }
}
