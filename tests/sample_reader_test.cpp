// Listing a sample directory: which files count, their order, and their labels.

#include "support.h"

#include "decode/decode_limit.h"
#include "decode/image_loader.h"
#include "samples/features.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

#include <malloc.h>

#include <sys/stat.h>

using namespace sorvik;

namespace {

QStringList labelsOf(const QList<Raster> &samples)
{
    QStringList labels;
    for (const Raster &sample : samples)
        labels << sample.label;
    return labels;
}

} // namespace

TEST(SampleReader, ListsFilesInQtsCaseInsensitiveOrderWithTheirLabels)
{
    QTemporaryDir dir;
    // Each file's single grey value tells which file a sample came from.
    const QStringList names = {"c-3.png", "a-9.png", "B-1.png", "a-10.png", "7-12.bmp", "ab-3.png",
                               "q-1.2.png", "x.png", "-5.png", "c-d-1.png", "Z-3.png", "a-2.png"};
    for (int i = 0; i < names.size(); ++i)
        saveImage(greyImage(15, 15, [i](int, int) { return 10 * (i + 1); }), dir.path(), names[i]);
    saveImage(greyImage(15, 15, [](int, int) { return 1; }), dir.path(), ".x-1.png");
    ASSERT_TRUE(QDir(dir.path()).mkdir("d-sub.png"));
    saveImage(greyImage(15, 15, [](int, int) { return 2; }), dir.path() + "/d-sub.png", "e-1.png");

    const QStringList expectedOrder = {"-5.png", "7-12.bmp", "a-10.png", "a-2.png", "a-9.png", "ab-3.png",
                                       "B-1.png", "c-3.png", "c-d-1.png", "q-1.2.png", "x.png", "Z-3.png"};
    const QStringList expectedLabels = {"", "7", "A", "A", "A", "AB", "B", "C", "C", "Q", "X", "Z"};
    for (const QString &path : {dir.path(), dir.path() + "/"}) {
        QList<Raster> samples;
        readSampleDirectory(path, samples);
        ASSERT_EQ(expectedOrder.size(), samples.size()) << path.toStdString();
        EXPECT_EQ(expectedLabels, labelsOf(samples));
        for (int i = 0; i < samples.size(); ++i) {
            const int value = 10 * (names.indexOf(expectedOrder[i]) + 1);
            EXPECT_EQ(std::vector<std::uint8_t>(4, std::uint8_t(value)), samples[i].data) << expectedOrder[i].toStdString();
        }
    }
    // Names of every kind beside them (not images) list in the order of Qt's case-insensitive sort.
    for (const QString &name : QString::fromUtf8("b A a_ a- a. a0 Z9 z10 _x ~y [q Ä-1 ä_2 é E Ω-3 ω_4 İ ß-5 1 10 9 x-1.PNG X-2.png y.tar.gz").split(" "))
        writeFile(dir.path() + "/" + name, "not an image");
    QStringList listed;
    for (const DirectoryEntry &entry : listSampleDirectory(dir.path()))
        listed << entry.name;
    EXPECT_EQ(QDir(dir.path(), QString(), QDir::Name | QDir::IgnoreCase, QDir::Files | QDir::NoDotAndDotDot).entryList(), listed);
}

TEST(SampleReader, PrintsNamesWithControlsAndForeignBytesEscaped)
{
    // Well-formed UTF-8 of two, three and four bytes stays; C0, DEL and C1 controls,
    // stray continuation bytes, overlong forms, surrogates and code points beyond
    // U+10FFFF are escaped byte by byte.
    const char *wellFormed = "a\xc2\xb0\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e";  // a, degree sign (the first lead byte), e acute, euro, G clef
    EXPECT_EQ(QString::fromUtf8(wellFormed), printableName(QByteArray(wellFormed)));
    EXPECT_EQ("\\n\\r\\t\\x7f\\xc2\\x85\\x80\\x80", printableName(QByteArray("\n\r\t\x7f\xc2\x85\x80\x80")).toStdString());
    EXPECT_EQ("\\xe0\\x80\\x80\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xc1\\xbf", printableName(QByteArray("\xe0\x80\x80\xed\xa0\x80\xf4\x90\x80\x80\xc1\xbf")).toStdString());
    // Sequences broken at their second, third or fourth byte, or cut by the end of
    // the name: the lead byte is escaped, and what follows is read afresh.
    const std::pair<QByteArray, const char *> broken[] = {
        {"\xe2(\xa1", "\\xe2(\\xa1"}, {"\xe2\x82(", "\\xe2\\x82("}, {"\xf0\x9d\x84(", "\\xf0\\x9d\\x84("},
        {"\xf0\x9d(\x9e", "\\xf0\\x9d(\\x9e"}, {"a\xe2\x82", "a\\xe2\\x82"}, {"\xf0\x9d\x84", "\\xf0\\x9d\\x84"}, {"\xc3", "\\xc3"}};
    for (const auto &[bytes, shown] : broken)
        EXPECT_EQ(shown, printableName(bytes).toStdString());
}

TEST(SampleReader, NeverWaitsOnAPipe)
{
    // A sample replaced by a pipe after the listing: refused at once, not waited on.
    QTemporaryDir dir;
    const QString path = dir.path() + "/a-1.png";
    ASSERT_EQ(0, mkfifo(QFile::encodeName(path).constData(), 0600));
    QString failure;
    EXPECT_TRUE(loadSampleImage(path, failure).isNull());
    EXPECT_EQ("is not a regular file", failure.toStdString());
}

