// sorvik-label as users meet it: a model that sorvik-tune wrote, read against
// images whose names carry no class, a damaged file and a text file, as CSV and
// as JSON Lines; models whose parameters disagree, cannot be read or are out of
// range; names with a line break or not in UTF-8; a model through a pipe; and a
// console that cannot take the labels.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

using namespace sorvik;

namespace {

RunResult label(const QString &d, const QStringList &arguments)
{
    return runProgram(SORVIK_LABEL_EXECUTABLE, arguments, d);
}

// Three classes of three noise images, the model m.out that sorvik-tune trains on
// them (spacing 2, 69 components, 3 neighbours), and an empty folder to label.
void tunedModel(const QString &d)
{
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}, 8);
    ASSERT_EQ(0, runProgram(SORVIK_TUNE_EXECUTABLE, {"train", "--spacing", "2", "--keep", "0.85", "--neighbours", "3", "--folds", "0", "--model", "m.out"}, d)
                     .exitCode);
    QDir().mkpath(d + "/new");
}

} // namespace

TEST(Label, ReadsATunedModelAndSaysWhatItCannotRead)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    tunedModel(d);
    // Copies of training images under names that carry no class, a damaged file, and a text file.
    QFile::copy(d + "/train/a-2.png", d + "/new/first.png");
    QFile::copy(d + "/train/c-1.png", d + "/new/second.png");
    writeFile(d + "/new/broken.png", readFile(d + "/train/b-1.png").left(60));
    writeFile(d + "/new/notes.txt", "not an image");
    const RunResult labels = label(d, {"new", "m.out"});
    EXPECT_EQ(1, labels.exitCode);  // a file could not be read
    EXPECT_EQ(QByteArray(), labels.err);  // its row says why; libpng's own complaint is kept off the console
    const QList<QByteArray> lines = labels.out.split('\n');
    ASSERT_EQ(6, lines.size()) << labels.out.constData();
    EXPECT_EQ("file,label,squared_distance,nearest_row,nearest_class,other_row,other_class,other_squared_distance,reason\r", lines[0]);
    EXPECT_TRUE(lines[1].startsWith("broken.png,,,,,,,,is a damaged or truncated image")) << lines[1].constData();
    // Copies of training rows, but for the rounding of the model file's numbers.
    EXPECT_TRUE(QRegularExpression("^first\\.png,A,[0-9.e-]+,1,A,[0-9]+,[BC],[0-9.]+,\r$").match(QString(lines[2])).hasMatch()) << lines[2].constData();
    EXPECT_EQ("notes.txt,,,,,,,,is not an image in a format that can be read\r", lines[3]);
    EXPECT_TRUE(QRegularExpression("^second\\.png,C,[0-9.e-]+,6,C,[0-9]+,[AB],[0-9.]+,\r$").match(QString(lines[4])).hasMatch()) << lines[4].constData();
    const RunResult near = label(d, {"new", "m.out", "--format", "jsonl", "--reject-distance", "0.001", "--neighbours", "1"});
    EXPECT_TRUE(near.out.contains("{\"file\":\"first.png\",\"label\":\"A\",\"squared_distance\":")) << near.out.constData();
    const RunResult far = label(d, {"new", "m.out", "--format", "jsonl", "--reject-distance", "0"});
    EXPECT_TRUE(far.out.count('\n') == 4 && far.out.count("\"label\":null") == 4) << far.out.constData();
    writeFile(d + "/odd.out", readFile(d + "/m.out").replace("components=69:", "components=99:"));
    EXPECT_EQ("sorvik-label: cannot classify: model odd.out names 99 components in its parameters but holds 69\n", label(d, {"new", "odd.out"}).err);
    // Parameters that cannot be read: one line, never a row for each image that
    // misses the spacing it falls back to.
    writeFile(d + "/odd.out", readFile(d + "/m.out").replace("spacing=2:", "spacing=nan:"));
    const RunResult unreadable = label(d, {"new", "odd.out"});
    EXPECT_TRUE(unreadable.out.isEmpty() && unreadable.err == "sorvik-label: cannot classify: model odd.out has parameters that this version cannot "
                                                              "read (\"sorvik-tune:spacing=nan:offsets=2,2:components=69:neighbours=3\")\n")
        << unreadable.err.constData();
    // A spacing of 0 is out of range, said in one line before any image is read with it.
    writeFile(d + "/odd.out", readFile(d + "/m.out").replace("spacing=2:", "spacing=0:"));
    const RunResult zero = label(d, {"new", "odd.out"});
    EXPECT_TRUE(zero.exitCode == 3 && zero.err == "sorvik-label: cannot classify: model odd.out has parameters out of range (spacing 0, offsets 2 and 2, 3 "
                                                  "neighbours)\n") << zero.err.constData();
    EXPECT_TRUE(runProgram(SORVIK_REPORT_EXECUTABLE, {"new", "odd.out", "--out", "report"}, d)
                    .out.endsWith("\ncannot classify: model odd.out has parameters out of range (spacing 0, offsets 2 and 2, 3 neighbours)\n"));
    const RunResult report = runProgram(SORVIK_REPORT_EXECUTABLE, {"new", "m.out", "--out", "report"}, d);
    EXPECT_EQ(0, report.exitCode) << report.out.constData();
    EXPECT_EQ(3, QJsonDocument::fromJson(readFile(d + "/report/summary.json")).object()["model"].toObject()["neighbours"].toInt());
}

TEST(Label, LabelsFilesWhateverTheirNamesFromAModelAnywhere)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    tunedModel(d);
    // Images to label whatever their names: one with a line break, one that is not UTF-8.
    ASSERT_EQ(0, ::link(QFile::encodeName(d + "/train/a-2.png").constData(), QFile::encodeName(d + "/new/odd\nname.png").constData()));
    ASSERT_EQ(0, ::link(QFile::encodeName(d + "/train/c-1.png").constData(), (QFile::encodeName(d) + "/new/z\xff.png").constData()));
    const QByteArray any = label(d, {"new", "m.out", "--format", "jsonl", "--neighbours", "1"}).out;
    EXPECT_TRUE(any.contains("{\"file\":\"odd\\u000aname.png\",\"label\":\"A\",")) << any.constData();
    EXPECT_TRUE(any.contains("{\"file\":\"z\\\\xff.png\",\"label\":\"C\",")) << any.constData();
    // A model that comes through a pipe, read once, labels as the file does.
    const RunResult piped = runProgram("sh", {"-c", "cat m.out | \"$0\" new /dev/stdin --format jsonl --neighbours 1", SORVIK_LABEL_EXECUTABLE}, d);
    EXPECT_EQ(any, piped.out) << piped.err.constData();
    // Labels that cannot be written are said, not lost in silence.
    const RunResult full = runProgram("sh", {"-c", "exec \"$0\" new m.out > /dev/full", SORVIK_LABEL_EXECUTABLE}, d);
    EXPECT_EQ(3, full.exitCode);
    EXPECT_EQ("sorvik-label: cannot write the labels: No space left on device\n", full.err);
}
