// Listing a sample directory: which files count, their order, and their labels.

#include "support.h"

#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

QStringList labelsOf(const QList<Raster> &samples)
{
    QStringList labels;
    for (const Raster &sample : samples)
        labels << sample.label;
    return labels;
}

} // namespace

TEST(SampleReader, ListsFilesInCaseInsensitiveOrderWithTheirLabels)
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
}

TEST(SampleReader, AppendsNothingForMissingOrEmptyDirectories)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("only-a-folder"));
    QList<Raster> samples;
    readSampleDirectory(dir.path(), samples);
    readSampleDirectory(dir.path() + "/only-a-folder", samples);
    readSampleDirectory(dir.path() + "/missing", samples);
    EXPECT_TRUE(samples.isEmpty());
}

TEST(SampleReader, LabelsComeFromTheBaseNameUpToTheFirstDash)
{
    EXPECT_EQ("A", labelFromFileName("a-001.png"));
    EXPECT_EQ("Q", labelFromFileName("q-1.2.png"));
    EXPECT_EQ("", labelFromFileName("-5.png"));
    EXPECT_EQ("X", labelFromFileName("x.png"));
    EXPECT_EQ(QString::fromUtf8("SS"), labelFromFileName(QString::fromUtf8("\xc3\x9f-1.png")));  // full Unicode upper case
    EXPECT_EQ(QString::fromUtf8("\xc3\x89"), labelFromFileName(QString::fromUtf8("\xc3\xa9-1.png")));
}

TEST(SampleReader, ListsInTheOrderOfQtsCaseInsensitiveSort)
{
    QTemporaryDir dir;
    const QStringList names = QString::fromUtf8("b A a_ a- a. a0 Z9 z10 _x ~y [q Ä-1 ä_2 é E Ω-3 ω_4 İ ß-5 1 10 9 x-1.PNG X-2.png y.tar.gz").split(" ");
    for (const QString &name : names)
        writeFile(dir.path() + "/" + name, "not an image");
    QStringList listed;
    for (const DirectoryEntry &entry : listSampleDirectory(dir.path()))
        listed << entry.name;
    const QDir qtDir(dir.path(), QString(), QDir::Name | QDir::IgnoreCase, QDir::Files | QDir::NoDotAndDotDot);
    EXPECT_EQ(qtDir.entryList(), listed);
}
