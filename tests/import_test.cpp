// sorvik-import on IDX files as users bring them: class names of any length, and
// files that are damaged or lie about their size, refused before anything is
// written; an import that fails or is stopped leaves none of its files.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <functional>

#include <zlib.h>

using namespace sorvik;

namespace {

// An IDX file: the magic number, the sizes and the bytes that follow them.
QByteArray idx(quint32 magic, std::initializer_list<quint32> sizes, const QByteArray &data)
{
    QByteArray bytes = bigEndian(magic);
    for (const quint32 size : sizes)
        bytes += bigEndian(size);
    return bytes + data;
}

void writeGzip(const QString &path, const QByteArray &bytes)
{
    gzFile file = gzopen(QFile::encodeName(path).constData(), "wb9");
    for (qsizetype at = 0; at < bytes.size(); at += 1 << 20)
        gzwrite(file, bytes.constData() + at, unsigned(std::min<qsizetype>(1 << 20, bytes.size() - at)));
    gzclose(file);
}

// Twelve images of 4 x 3 pixels with these labels.
void twelve(const QString &d, const QByteArray &labels)
{
    writeFile(d + "/images", idx(0x803, {12, 3, 4}, QByteArray(12 * 12, 'x')));
    writeFile(d + "/labels", idx(0x801, {quint32(labels.size())}, labels));
}

// ... labelled 0 to 11, and labelled with digits: 0 to 9, 0 and 1.
void twelveLabels(const QString &d)
{
    twelve(d, QByteArray("\0\1\2\3\4\5\6\7\10\11\12\13", 12));
}

void digits(const QString &d)
{
    twelve(d, QByteArray("\0\1\2\3\4\5\6\7\10\11\0\1", 12));
}

RunResult import(const QString &d, const QStringList &arguments, const QStringList &environment = {})
{
    return runProgram(SORVIK_IMPORT_EXECUTABLE, QStringList{"idx", "images", "labels", "out"} + arguments, d, environment);
}

struct ImportCase {
    const char *name;
    std::function<void(const QString &)> setUp;
    QStringList arguments;
    int exitCode;
    QByteArray expected;  // a fragment of standard output, or of standard error for status 2
    QStringList files = {};  // of out, when it is written
};

// The files name-00000.png to the count's.
QStringList numbered(const QString &name, int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << name + QString("-%1.png").arg(i, 5, 10, QLatin1Char('0'));
    return files;
}

const QByteArray twelveNames = "zero,one,two,three,four,five,six,seven,eight,nine,ten,eleven";

} // namespace

TEST(Import, NamesEveryClassAsToldOrRefusesBeforeWriting)
{
    const ImportCase cases[] = {
        {"digits", digits, {}, 0, "wrote 12 images of 4 x 3 to out\n",
         {"0-00000.png", "0-00010.png", "1-00001.png", "1-00011.png", "2-00002.png", "3-00003.png", "4-00004.png", "5-00005.png", "6-00006.png",
          "7-00007.png", "8-00008.png", "9-00009.png"}},
        {"names of any length", twelveLabels, {"--class-names", twelveNames}, 0, "wrote 12 images",
         {"eight-00008.png", "eleven-00011.png", "five-00005.png", "four-00004.png", "nine-00009.png", "one-00001.png", "seven-00007.png",
          "six-00006.png", "ten-00010.png", "three-00003.png", "two-00002.png", "zero-00000.png"}},
        {"one image", [](const QString &d) { writeFile(d + "/images", idx(0x803, {1, 3, 4}, QByteArray(12, 'x'))), writeFile(d + "/labels", idx(0x801, {1}, "\7")); },
         {}, 0, "wrote 1 images of 4 x 3 to out\n", {"7-00000.png"}},
        {"a name of 200 bytes", [](const QString &d) { twelve(d, QByteArray(12, '\0')); }, {"--class-names", QString(200, 'n')}, 0, "wrote 12 images",
         numbered(QString(200, 'n'), 12)},
        {"a name of 201 bytes", twelveLabels, {"--class-names", QString(201, 'n')}, 2, "is longer than 200 bytes, too long for a file name"},
        {"a label that is no digit", twelveLabels, {}, 1, "sorvik-import: labels: label 10 of image 10 has no class name in the digits"},
        {"a label beyond the names", twelveLabels, {"--class-names", "a,b,c"}, 1, "label 3 of image 3 has no class name in --class-names, which names the labels 0 to 2"},
        {"letters and a label 0", twelveLabels, {"--letters"}, 1, "label 0 of image 0 has no class name in --letters, which names the labels 1 to 26"},
        {"names that repeat as labels compare them", twelveLabels, {"--class-names", "Coat,shirt,coat"}, 2,
         "the name of label 2, \"coat\", repeats an earlier one (class names are compared upper-cased)"},
        {"an empty name", twelveLabels, {"--class-names", "a,,b"}, 2, "the name of label 1, \"\", is empty"},
        {"a dash", twelveLabels, {"--class-names", "t-shirt,b"}, 2, "the name of label 0, \"t-shirt\", holds \"-\", which a sample name cannot carry"},
        {"a slash", twelveLabels, {"--class-names", "a,b/c"}, 2, "holds \"/\""},
        {"a semicolon", twelveLabels, {"--class-names", "a;b,c"}, 2, "holds \";\""},
        {"a full stop", twelveLabels, {"--class-names", "t.shirt,b"}, 2, "holds \".\""},
        {"a control character", twelveLabels, {"--class-names", "a\tb,c"}, 2, "holds \"\\t\""},
        {"names with letters", twelveLabels, {"--class-names", "a", "--letters"}, 2, "give --letters or --class-names, not both"},
        // Files that do not hold what their headers announce.
        {"a plain file of the wrong size", [](const QString &d) { digits(d), QFile::resize(d + "/images", 16 + 12 * 12 - 1); }, {}, 1,
         "sorvik-import: images is 159 bytes; its header announces 160 bytes\n"},
        {"a compressed file that ends early", [](const QString &d) { digits(d), writeGzip(d + "/images", idx(0x803, {12, 3, 4}, QByteArray(12 * 11, 'x'))); },
         {}, 1, "sorvik-import: images ends before image 11, which its header announces\n"},
        {"a compressed file that unpacks to far more than its header says",
         [](const QString &d) { digits(d), writeGzip(d + "/images", idx(0x803, {12, 3, 4}, QByteArray(64 << 20, '\0'))); }, {}, 1,
         "sorvik-import: images holds more than its header announces; check that it is the file you meant\n"},
        {"a header of absurd sizes", [](const QString &d) { digits(d), writeGzip(d + "/images", idx(0x803, {4000000000u, 28, 28}, {})); }, {}, 1,
         "images announces 4000000000 images of 28 x 28 pixels"},
        {"labels for other images", [](const QString &d) { digits(d), writeFile(d + "/labels", idx(0x801, {11}, QByteArray(11, '\1'))); }, {}, 1,
         "sorvik-import: labels holds 11 labels for the 12 images of the image file\n"},
        {"not an IDX file", [](const QString &d) { digits(d), writeFile(d + "/images", "hello"); }, {}, 1,
         "sorvik-import: images is not an IDX image file (magic number 0x00000803 expected)\n"},
        {"a pipe that no program writes, said at once", [](const QString &d) { digits(d), QFile::remove(d + "/images"), ::mkfifo(QFile::encodeName(d + "/images").constData(), 0600); },
         {}, 1, "sorvik-import: images is not an IDX image file (magic number 0x00000803 expected)\n"},
        // A folder that holds a file of a name the import writes.
        {"a folder with a file of its names", [](const QString &d) { digits(d), QDir(d).mkdir("out"), writeFile(d + "/out/3-00003.png", "mine"); }, {}, 1,
         "sorvik-import: cannot write into out: it holds 3-00003.png already, a name this run writes; give an empty or new folder\n", {"3-00003.png"}},
        {"a folder with other files", [](const QString &d) { digits(d), QDir(d).mkdir("out"), writeFile(d + "/out/notes.txt", "mine"); }, {}, 0,
         "wrote 12 images", {"0-00000.png", "0-00010.png", "1-00001.png", "1-00011.png", "2-00002.png", "3-00003.png", "4-00004.png", "5-00005.png",
                             "6-00006.png", "7-00007.png", "8-00008.png", "9-00009.png", "notes.txt"}},
    };
    for (const ImportCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        c.setUp(dir.path());
        const RunResult run = import(dir.path(), c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_TRUE((c.exitCode == 2 ? run.err : run.out).contains(c.expected)) << run.out.constData() << run.err.constData();
        EXPECT_EQ(c.files, QDir(dir.path() + "/out").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        EXPECT_EQ(QStringList(), QDir(dir.path()).entryList({".out.new-*"}, QDir::AllEntries | QDir::Hidden));
    }
}

#ifdef SORVIK_FAULTS
TEST(Import, AnImportThatEndsPartWayLeavesNoneOfItsFiles)
{
    // Stopped, or out of memory, after the third image it writes.
    for (const char *fault : {"create:3:term", "create:3:int", "create:3:memory"}) {
        SCOPED_TRACE(fault);
        QTemporaryDir dir;
        twelve(dir.path(), QByteArray(12, '\1'));
        const RunResult run = import(dir.path(), {}, {"LD_PRELOAD=" SORVIK_FAULTS, QString("SORVIK_FAULT=") + fault});
        EXPECT_NE(0, run.exitCode);
        if (QByteArray(fault).endsWith(":memory")) {
            EXPECT_TRUE(run.out.startsWith("sorvik-import: this machine ran out of memory: the run held ")) << run.out.constData();
        }
        EXPECT_EQ(QStringList({"images", "labels"}), QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
}
#endif
