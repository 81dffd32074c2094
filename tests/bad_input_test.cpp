// Wrong data through the built program: every case must end with one clear line
// naming what is wrong, status 1, nothing on stderr, and a model file that was
// there before a failed training left byte for byte as it was.

#include "support.h"

#include "decode/allocator.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace sorvik;

namespace {

struct Case {
    const char *name;
    std::function<void(const QString &)> setUp;  // builds the input inside the working directory
    QStringList arguments;
    QByteArray expected;                         // a stable fragment of the report
    bool keepsModel;                             // trained.out must survive unchanged
    QStringList environment = {};
};

const QByteArray previousModel = "A;B;\n1;\n\n2;\n3;\n";

void image(const QString &dir, const QString &name, int width = 20, int height = 20, int value = 90)
{
    QDir().mkpath(dir);
    saveImage(greyImage(width, height, [value](int x, int y) { return (value + x * 7 + y * 3) % 256; }), dir, name);
}

// Two usable training images of 20 x 20 pixels (3 x 3 components).
void pair(const QString &dir)
{
    image(dir, "a-1.png", 20, 20, 10);
    image(dir, "b-1.png", 20, 20, 200);
}

// A PNG file of `width` x `height` pixels whose image data is `rows`, with the chunks
// `before` between its header and its data.
QByteArray png(quint32 width, quint32 height, int depth, int colourType, const QByteArray &rows, const QByteArray &before = {})
{
    const QByteArray header = bigEndian(width) + bigEndian(height) + char(depth) + char(colourType) + QByteArray(3, 0);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + before + pngChunk("IDAT", qCompress(rows).mid(4)) + pngChunk("IEND", {});
}

void trainModelIn(const QString &dir)
{
    pair(dir + "/train");
    runSorvik({"train", "train"}, dir);
}

using SetUp = std::function<void(const QString &)>;

// The two usable training images, then whatever `more` adds.
SetUp pairAnd(const SetUp &more)
{
    return [more](const QString &d) { pair(d + "/train"), more(d); };
}

// The two usable training images and one more image `name`.
SetUp pairAndImage(const QString &name, int width = 20, int height = 20)
{
    return pairAnd([=](const QString &d) { image(d + "/train", name, width, height); });
}

// A test image and the model text `text` in the file m.
SetUp testAndModel(const QByteArray &text)
{
    return [text](const QString &d) { image(d + "/test", "a-1.png"), writeFile(d + "/m", text); };
}

const QStringList train = {"train", "train"};
const QStringList classify = {"class", "test", "m"};
const QStringList classifyTrained = {"class", "test", "trained.out"};

// Training directories, and the files in them that are skipped with a word.
std::vector<Case> trainingCases()
{
    return {
        // Training directories without enough usable images, or with images of differing sizes.
        {"missing directory", [](const QString &) {}, {"train", "nowhere"}, "cannot train: nowhere does not exist\n", true},
        {"empty directory", [](const QString &d) { QDir(d).mkdir("train"); }, train,
         "cannot train: train holds no usable images; training needs at least two\n", true},
        {"single image", [](const QString &d) { image(d + "/train", "a-1.png"); }, train,
         "cannot train: train holds only one usable image; training needs at least two\n", true},
        {"nothing but unusable files", [](const QString &d) { QDir().mkpath(d + "/train"), writeFile(d + "/train/a-1.txt", "hello"), writeFile(d + "/train/b-1.png", ""); },
         train, "done\nskipped train/a-1.txt: is not an image in a format that can be read\n"
         "skipped train/b-1.png: is not an image in a format that can be read\n"
         "cannot train: train holds no usable images; training needs at least two\n", true},
        {"differing sizes", pairAndImage("c-1.png", 24, 20), train,
         "cannot train: image train/c-1.png is 24 x 20 pixels; the first image of the directory, train/a-1.png, is 20 x 20\n", true},
        {"training images of 20 and 21 pixels", pairAndImage("c-1.png", 21, 21), train,  // their grids agree
         "cannot train: image train/c-1.png is 21 x 21 pixels; the first image of the directory, train/a-1.png, is 20 x 20\n", true},
        {"images too large to train on", [](const QString &d) { image(d + "/train", "a-1.png", 2048, 2048), image(d + "/train", "b-1.png", 2048, 2048); },
         train, "cannot train: images of 2048 x 2048 pixels give 260100 features, and training on 2 of them needs ", true},
        // Unusable files beside usable ones: skipped with a word, the rest trains.
        {"stray text file", pairAnd([](const QString &d) { writeFile(d + "/train/notes.txt", "not an image"); }), train,
         "done\nskipped train/notes.txt: is not an image in a format that can be read\nstarting training\n", false},
        {"truncated image", pairAnd([](const QString &d) { image(d + "/train", "c-1.png"), QFile::resize(d + "/train/c-1.png", 60); }), train,
         "skipped train/c-1.png: ", false},
        {"truncated bitmap", pairAnd([](const QString &d) {
             saveImage(greyImage(20, 20, [](int x, int y) { return x * y; }), d + "/train", "c-1.bmp"), QFile::resize(d + "/train/c-1.bmp", 1200); }),
         train, "skipped train/c-1.bmp: is a damaged or truncated image\nstarting training\n", false},
        {"dangling link", pairAnd([](const QString &d) { QFile::link(d + "/gone.png", d + "/train/c-1.png"); }), train,
         "skipped train/c-1.png: is a link to nothing\nstarting training\n", false},
        {"loop of links", pairAnd([](const QString &d) { QFile::link(d + "/train/c-1.png", d + "/train/c-1.png"); }), train,
         "skipped train/c-1.png: is a link in a loop of links\nstarting training\n", false},
        {"named pipe", pairAnd([](const QString &d) { mkfifo(QFile::encodeName(d + "/train/c-1.png").constData(), 0600); }), train,
         "skipped train/c-1.png: is not a regular file\nstarting training\n", false},
        {"image too small", pairAndImage("c-1.png", 10, 30), train,
         "skipped train/c-1.png: is 10 x 30 pixels; images need at least 11 x 11 pixels\n", false},
        {"huge image dimensions", pairAnd([](const QString &d) { writeFile(d + "/train/c-1.png", png(100000, 100000, 8, 0, QByteArray(1000, 0))); }), train,
         "skipped train/c-1.png: is 100000 x 100000 pixels; images of at most 16777216 pixels are read\n", false},
        {"huge file", pairAnd([](const QString &d) { writeFile(d + "/train/c-1.png", ""), QFile::resize(d + "/train/c-1.png", 300000000); }), train,
         "skipped train/c-1.png: is 300000000 bytes; image files of at most 268435456 bytes are read\n", false},  // sparse: no disk used
    };
}

// Files refused for their size, their data or their names.
std::vector<Case> refusedFileCases()
{
    return {
        // 400 bytes of grey pixels behind 16 MiB of image data: refused once it has cost a few times its rows.
        {"image data far beyond its rows", pairAnd([](const QString &d) { writeFile(d + "/train/c-1.png", png(20, 20, 8, 0, QByteArray(21 * 20 + (16 << 20), 0))); }),
         train, "skipped train/c-1.png: is a damaged image: its image data unpacks to far more than its 20 x 20 pixels\n", false},
        // Qt leaves part of each row of such an image unwritten.
        {"16-bit colour with a key colour", pairAnd([](const QString &d) {
             writeFile(d + "/train/c-1.png", png(20, 20, 16, 2, QByteArray(121 * 20, 7), pngChunk("tRNS", QByteArray(6, 7)))); }),
         train, "skipped train/c-1.png: is a PNG of 16-bit colour with a transparent key colour (tRNS), which this reader cannot decode\n", false},
        // A GIF with a damaged signature whose logical screen is 16000 x 13000 pixels.
        {"image whose screen is too large to decode", pairAnd([](const QString &d) {
             writeFile(d + "/train/c-1.gif", QByteArray("FIF89a\x80\x3e\xc8\x32\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0\1\0\1\0\0\2\2D\1\0;", 35)); }),
         train, SORVIK_ADDRESS_SANITIZER ? "skipped train/c-1.gif: "  // the sanitizer's limit returns null without a word
                                         : "skipped train/c-1.gif: needs more memory to decode than an image of at most 16777216 pixels\n", false},
        // Names that a model cannot hold or a console cannot print as they are.
        {"separator in a class name", pairAndImage("c;d-1.png"), train,
         "skipped train/c;d-1.png: has a class name with \";\" or a line break, which a model file cannot hold\n", false},
        {"line break in a name", pairAndImage("c\r\nd-1.png"), train,
         "skipped train/c\\r\\nd-1.png: has a class name with \";\" or a line break", false},
        {"name not in UTF-8", pairAnd([](const QString &d) {
             std::ofstream(QFile::encodeName(d).toStdString() + "/train/c\xff-1.png") << readFile(d + "/train/a-1.png").toStdString(); }),
         train, "skipped train/c\\xff-1.png: has a name that is not valid UTF-8\n", false},
    };
}

// Test images that cannot be classified, and models that cannot serve.
std::vector<Case> classificationCases()
{
    return {
        // Test images that cannot be classified.
        {"empty test directory", [](const QString &d) { trainModelIn(d), QDir(d).mkdir("test"); }, classifyTrained,
         "reading images...\tdone\ncannot classify: test holds no usable image\n", true},
        {"test images of another size", [](const QString &d) { trainModelIn(d), image(d + "/test", "a-1.png", 24, 24); }, classifyTrained,
         "cannot classify: image test/a-1.png is 24 x 24 pixels and gives 16 features; model trained.out has 9 features per image\n", true},
        {"names that look like placeholders", [](const QString &d) {
             trainModelIn(d), image(d + "/t%1", "a-1.png", 24, 24), QFile::copy(d + "/trained.out", d + "/m%2"); },
         {"class", "t%1", "m%2"}, "cannot classify: image t%1/a-1.png is 24 x 24 pixels and gives 16 features; model m%2 has 9 features per image\n", true},
        {"test images of 20 and 21 pixels", [](const QString &d) { trainModelIn(d), image(d + "/test", "a-1.png"), image(d + "/test", "b-1.png", 21, 21); },
         classifyTrained, "cannot classify: image test/b-1.png is 21 x 21 pixels; the first image of the directory, test/a-1.png, is 20 x 20\n", true},
        // Models that cannot serve.
        {"model without labels", testAndModel("\n1;\n\n1;\n"), classify, "reading config...\tdone\ncannot classify: model m has no labels on its first line\n", true},
        {"model without components", testAndModel("A;\n\n1;\n"), classify, "cannot classify: model m has no component rows before its empty line\n", true},
        {"model without projections", testAndModel("A;\n1;\n2;\n"), classify, "cannot classify: model m has no projection rows after its empty line\n", true},
        {"empty model", testAndModel(""), classify, "cannot classify: model m has no labels on its first line\n", true},
        {"ragged model rows", testAndModel("A;B;\n1;2;\n3;\n\n1;2;\n1;2;\n"), classify,
         "cannot classify: model m has 1 values on line 3 where the rows before it have 2\n", true},
        {"projection width", testAndModel("A;\n1;2;\n\n1;\n"), classify,
         "cannot classify: model m has 1 values in each projection row but 2 in each component row", true},
        {"too few labels", testAndModel("A;\n1;\n\n1;\n2;\n"), classify,
         "cannot classify: model m has 1 labels for 2 projection rows; every projection row needs its label\n", true},
        {"value not finite", testAndModel("A;\n1;\n\nnan;\n"), classify, "cannot classify: model m has a value on line 4 that is not a finite number\n", true},
        {"infinite component", testAndModel("A;\n-inf;\n\n1;\n"), classify, "cannot classify: model m has a value on line 2 that is not a finite number\n", true},
        {"model is a directory", [](const QString &d) { image(d + "/test", "a-1.png"), QDir(d).mkdir("m"); }, classify,
         "reading config...\tcannot open config name\n", true},
        // Models that are too large, endless, waiting or changing: refused, never waited on.
        {"model without end", testAndModel(""), {"class", "test", "/dev/zero"}, "cannot classify: model /dev/zero has a line (line 1) longer than 67108864 bytes", true},
        {"huge model file", [](const QString &d) { testAndModel("A;\n")(d), QFile::resize(d + "/m", qint64(3) << 30); }, classify,
         "reading config...\tdone\ncannot classify: model m is larger than 1073741824 bytes\n", true},
        {"huge label line", [](const QString &d) { testAndModel("")(d), QFile::resize(d + "/m", (qint64(1) << 26) + 1); }, classify,
         "cannot classify: model m has a line (line 1) longer than 67108864 bytes, more than any model holds\n", true},
        {"model whose size reads as 0", [](const QString &d) { image(d + "/test", "a-1.png"); }, {"class", "test", "/proc/self/maps"},
         "reading config...\tdone\ncannot classify: model /proc/self/maps has no labels on its first line\n", true},
        {"model is a pipe without a writer", [](const QString &d) { image(d + "/test", "a-1.png"), mkfifo(QFile::encodeName(d + "/m").constData(), 0600); },
         classify, "reading config...\tdone\ncannot classify: model m has no labels on its first line\n", true},
    };
}

// A model that cannot be written, or that changes while it is read.
std::vector<Case> writingCases()
{
    return {
        // The model cannot be written where it goes: the report stands, then one line says why.
        {"a folder named trained.out", [](const QString &d) { pair(d + "/train"), QDir(d).mkdir("trained.out"); }, train,
         "ms\ncannot write trained.out: Is a directory\n", true},
#ifdef SORVIK_FAULTS
        {"model shrinks while it is read", [](const QString &d) { trainModelIn(d), image(d + "/test", "a-1.png"); }, classifyTrained,
         "reading config...\tdone\ncannot classify: model trained.out changed while it was read; read it again once it is complete\n", false,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_SHRINK_FILE=trained.out"}},
        {"model with a long line grows while it is read", [](const QString &d) {
             image(d + "/test", "a-1.png"), writeFile(d + "/m", QByteArray("A;").repeated(150000) + "\n1;\n\n2;\n"); }, classify,
         "reading config...\tdone\ncannot classify: model m changed while it was read; read it again once it is complete\n", true,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_SHRINK_FILE=m", "SORVIK_GROW=1"}},
        // The disk fills up while the model is written: before its first byte, in its
        // label line, in its components and in its projections.
        {"disk full from the start", sixtyTrainingImages, train, "ms\ncannot write trained.out: No space left on device\n", true,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_DISK_BYTES=0"}},
        {"disk full in the label line", sixtyTrainingImages, train, "ms\ncannot write trained.out: No space left on device\n", true,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_DISK_BYTES=50"}},
        {"disk full in the components", sixtyTrainingImages, train, "ms\ncannot write trained.out: No space left on device\n", true,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_DISK_BYTES=300"}},
        {"disk full in the projections", sixtyTrainingImages, train, "ms\ncannot write trained.out: No space left on device\n", true,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_DISK_BYTES=3000"}},
        // The disk reports an error only when the model is synced, or closed once it
        // has taken its place.
        {"the sync of the model fails", sixtyTrainingImages, train, "ms\ncannot write trained.out: Input/output error\n", true,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_DISK_FAIL=fsync"}},
        {"the close of the model fails", sixtyTrainingImages, train, "ms\ncannot write trained.out: Input/output error\n", false,
         {"LD_PRELOAD=" SORVIK_FAULTS, "SORVIK_DISK_FAIL=close"}},
#endif
    };
}

} // namespace

TEST(BadInput, GetsOneClearLineAndLeavesTheModelAlone)
{
    for (const std::vector<Case> &group : {trainingCases(), refusedFileCases(), classificationCases(), writingCases()})
        for (const Case &c : group) {
            SCOPED_TRACE(c.name);
            QTemporaryDir dir;
            c.setUp(dir.path());
            const bool modelIsAFolder = QFileInfo(dir.path() + "/trained.out").isDir();
            const QByteArray before = QFile::exists(dir.path() + "/trained.out") ? readFile(dir.path() + "/trained.out") : previousModel;
            if (!modelIsAFolder)
                writeFile(dir.path() + "/trained.out", before);
            const RunResult run = runSorvik(c.arguments, dir.path(), c.environment);
            EXPECT_TRUE(run.out.contains(c.expected)) << run.out.constData();
            EXPECT_EQ(1, run.exitCode);
            EXPECT_EQ(QByteArray(), run.err);
            EXPECT_FALSE(run.out.contains("nan") || run.out.contains("inf")) << run.out.constData();
            if (modelIsAFolder) {
                EXPECT_TRUE(QFileInfo(dir.path() + "/trained.out").isDir());
            } else if (c.keepsModel) {
                EXPECT_EQ(before, readFile(dir.path() + "/trained.out"));
            } else if (c.arguments.first() == "train") {
                EXPECT_NE(before, readFile(dir.path() + "/trained.out"));  // the usable images trained
                EXPECT_TRUE(readFile(dir.path() + "/trained.out").startsWith("A;"));
            }
            EXPECT_EQ(QStringList(), QDir(dir.path()).entryList({"trained.out.*"}, QDir::Files | QDir::Hidden));
        }
}

TEST(BadInput, ADirectoryThisUserMayNotReadIsSaidSo)
{
    // The programs run as nobody, which only root can arrange: a directory that
    // user may not list is named as such, not as one that holds no image.
    const QStringList nobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    if (::geteuid() != 0 || runProgram("setpriv", nobody + QStringList{"true"}).exitCode != 0)
        GTEST_SKIP() << "running the programs as another user needs root, and setpriv";
    QTemporaryDir dir;
    pair(dir.path() + "/train");
    pair(dir.path() + "/test");
    runSorvik({"train", "train"}, dir.path());
    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    ::chmod(QFile::encodeName(dir.path() + "/train").constData(), 0300);
    EXPECT_TRUE(runProgram("setpriv", nobody + QStringList{SORVIK_EXECUTABLE, "train", "train"}, dir.path())
                    .out.endsWith("cannot train: train is a directory that this user may not read\n"));
    EXPECT_EQ("cannot tune: train is a directory that this user may not read\n",
              runProgram("setpriv", nobody + QStringList{SORVIK_TUNE_EXECUTABLE, "train"}, dir.path()).out);
    EXPECT_TRUE(runProgram("setpriv", nobody + QStringList{SORVIK_REPORT_EXECUTABLE, "test", "trained.out", "--train", "train"}, dir.path())
                    .out.contains("\ntrain is a directory that this user may not read; predictions.csv names no nearest training file\n"));
    // A link through a folder that user may not enter leads somewhere; not to nothing.
    QDir().mkpath(dir.path() + "/locked");
    QFile::copy(dir.path() + "/test/a-1.png", dir.path() + "/locked/c-1.png");
    ::chmod(QFile::encodeName(dir.path() + "/locked").constData(), 0700);
    QFile::link("../locked/c-1.png", dir.path() + "/test/c-1.png");
    EXPECT_TRUE(runProgram("setpriv", nobody + QStringList{SORVIK_EXECUTABLE, "class", "test", "trained.out"}, dir.path())
                    .out.contains("\nskipped test/c-1.png: is a link through a folder that this user may not enter\n"));
}
