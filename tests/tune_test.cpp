// sorvik-tune as users meet it: grids whose accuracies can be worked out by hand,
// the fixed recipe's model byte for byte sorvik train's, a tuned model that sorvik
// class refuses, the same bytes from two runs, a table written into a pipe or the
// program's own output, and its cross-validation's sums against plain ones.

#include "support.h"

#include "tools/tune/tuning_arithmetic.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorvik;

namespace {

RunResult tune(const QString &d, const QStringList &arguments)
{
    return runProgram(SORVIK_TUNE_EXECUTABLE, QStringList{"train"} + arguments, d);
}

// Three identical images of A, two of B, and b-1, a copy of the A image that its
// name calls B. With two folds (image j of a class in fold j % 2):
// - fold 1 reads a-1, a-3, b-1 and b-3 against a-2 and b-2; b-1 is read as A, so
//   3 of 4 are right, with one neighbour or three (A and B tie; the nearer wins);
// - fold 2 reads a-2 and b-2 against a-1, a-3, b-1 and b-3: both right with one
//   neighbour; with three, b-2 has b-3 and then a-1 and a-3, the earliest of the
//   three rows at the A image's distance, so it is read as A: 1 of 2.
// One neighbour: 75 and 100, mean 87.5, standard deviation 12.5; three: 75 and 50,
// mean 62.5, standard deviation 12.5.
void handWorkedSet(const QString &d)
{
    std::mt19937 random(4);
    QImage a = greyImage(24, 24, [&](int, int) { return int(random() % 256); });
    QImage b = greyImage(24, 24, [&](int, int) { return int(random() % 256); });
    for (const char *name : {"a-1.png", "a-2.png", "a-3.png", "b-1.png"})
        saveImage(a, d + "/train", name);
    for (const char *name : {"b-2.png", "b-3.png"})
        saveImage(b, d + "/train", name);
}

} // namespace

TEST(Tune, ScoresAGridWorkedOutByHand)
{
    QTemporaryDir dir;
    handWorkedSet(dir.path());
    const RunResult run = tune(dir.path(), {"--spacing", "4", "--keep", "0.85", "--neighbours", "3,1", "--folds", "2", "--json", "grid.json"});
    ASSERT_EQ(0, run.exitCode) << run.out.constData();
    EXPECT_EQ("spacing  features  components  neighbours  accuracy      sd\n"
              "      4        16          14           1    87.50 %   12.50  best  fixed recipe\n"
              "      4        16          14           3    62.50 %   12.50\n"
              "trained: spacing 4, 16 features, 14 components, 1 neighbour\n"
              "model written to tuned.out\n",
              run.out);
    const QJsonObject json = QJsonDocument::fromJson(readFile(dir.path() + "/grid.json")).object(), best = json["best"].toObject();
    EXPECT_EQ(2, json["grid"].toArray().size());
    EXPECT_TRUE(best["accuracy"] == 87.5 && best["sd"] == 12.5 && best["neighbours"] == 1) << QJsonDocument(best).toJson().constData();
    // The fixed recipe's parameters make sorvik train's model, byte for byte.
    runSorvik({"train", "train"}, dir.path());
    EXPECT_EQ(readFile(dir.path() + "/trained.out"), readFile(dir.path() + "/tuned.out"));
    // A spacing too wide for the images is named once, scored or trained alone,
    // rather than every image passed over.
    for (const char *folds : {"2", "0"})
        EXPECT_EQ("cannot tune: images of 24 x 24 pixels give no component at spacing 11; they need at least 25 x 25\n",
                  tune(dir.path(), {"--spacing", "11", "--keep", "0.5", "--neighbours", "1", "--folds", folds}).out) << folds;
    // One of each is named in the singular.
    EXPECT_EQ("trained: spacing 9, 1 feature, 1 component, 1 neighbour\nmodel written to tuned.out\n",
              tune(dir.path(), {"--spacing", "9", "--keep", "1", "--neighbours", "1", "--folds", "0"}).out);
    // More folds than images, said before a count of each fold is made (a billion
    // of them would take gigabytes; ten million, should this go, 40 MB).
    EXPECT_EQ("cannot tune: 6 images make 10000000 folds, more folds than images; give fewer --folds\n", tune(dir.path(), {"--folds", "10000000"}).out);
    // Folds are drawn within each class: one that no class reaches is named with
    // the most folds that serve; one that leaves too few images to train on asks
    // for more images.
    EXPECT_EQ("cannot tune: the largest class has 3 images, so fold 4 of the 4, drawn within each class, holds none; give at most 3 --folds\n",
              tune(dir.path(), {"--folds", "4"}).out);
    QTemporaryDir few;
    noiseImages(few.path() + "/train", {"a-1.png", "a-2.png", "b-1.png"}, 8);
    EXPECT_EQ("cannot tune: fold 1 holds 2 of the 3 images and leaves fewer than two to train on; give more images, or --folds 0 and one "
              "value of each list to train one configuration unscored\n",
              tune(few.path(), {"--folds", "2"}).out);
    EXPECT_EQ("cannot tune: the largest class has 2 images, so fold 3 of the 3, drawn within each class, holds none; give at most 2 --folds\n",
              tune(few.path(), {"--folds", "3"}).out);
    // Without a-3 and b-1 each image is read right by the other of its class, in its fold; a-2 by a-1, the first row.
    QFile::remove(dir.path() + "/train/a-3.png"), QFile::remove(dir.path() + "/train/b-1.png");
    EXPECT_TRUE(tune(dir.path(), {"--spacing", "4", "--keep", "0.85", "--neighbours", "1", "--folds", "2"}).out.contains(" 100.00 %    0.00"));
}

TEST(Tune, WritesTheSameBytesTwiceAndAModelThatSorvikClassRefuses)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}, 8);
    // Spacing 2 with the fixed recipe's share of components is no fixed recipe: its parameters go with it.
    const QStringList chosen = {"--spacing", "2", "--keep", "0.85", "--neighbours", "3", "--folds", "0", "--model", "m.out"};
    ASSERT_EQ(0, tune(d, chosen).exitCode);
    EXPECT_TRUE(readFile(d + "/m.out").startsWith("sorvik-tune:spacing=2:offsets=2,2:components=69:neighbours=3;A;A;A;B;"));
    // The same bytes from a second run, and from a cross-validation, table and all.
    const QByteArray model = readFile(d + "/m.out");
    ASSERT_EQ(0, tune(d, chosen).exitCode);
    EXPECT_EQ(model, readFile(d + "/m.out"));
    const QStringList grid = {"--spacing", "2,3", "--keep", "0.2,0.5", "--neighbours", "1,3", "--folds", "3", "--json", "g.json"};
    const RunResult first = tune(d, grid);
    const QByteArray firstJson = readFile(d + "/g.json"), firstModel = readFile(d + "/tuned.out");
    EXPECT_EQ(first.out, tune(d, grid).out);
    EXPECT_EQ(firstJson, readFile(d + "/g.json"));
    EXPECT_EQ(firstModel, readFile(d + "/tuned.out"));
    for (const char *build : {SORVIK_EXECUTABLE, SORVIK_REFERENCE_EXECUTABLE}) {
        const RunResult refused = runProgram(build, {"class", "train", "m.out"}, d);
        EXPECT_TRUE(refused.out.endsWith("cannot classify: model m.out was made by sorvik-tune with spacing 2, 69 components and 3 neighbours, "
                                         "not with the fixed spacing of 4 that this program reads; read it with sorvik-label or sorvik-report\n"))
            << refused.out.constData();
    }
    // The JSON of a configuration trained unscored has no table to draw, and says so.
    ASSERT_EQ(0, tune(d, chosen + QStringList{"--json", "one.json"}).exitCode);
    const QByteArray unscored = runProgram(SORVIK_REPORT_EXECUTABLE, {"train", "m.out", "--out", "report", "--grid", "one.json"}, d).out;
    EXPECT_EQ("cannot draw the tuning: one.json scores no configuration, as sorvik-tune --folds 0 writes it; give the "
              "JSON of a cross-validation, or no --grid\n", unscored);
}

TEST(Tune, WritesWhereverThePathLeads)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}, 8);
    const QStringList chosen = {"--spacing", "2", "--keep", "0.3", "--neighbours", "3", "--folds", "0", "--model", "m.out"};
    // A model that cannot be written is said before anything is tuned.
    const RunResult nowhere = tune(d, {"--model", "missing/m.out", "--folds", "2"});
    EXPECT_TRUE(nowhere.exitCode == 1 && nowhere.out == "cannot write missing/m.out: No such file or directory\n") << nowhere.out.constData();
    // A file of the user's is never replaced: only a model by a model, a table by a
    // table (as a second run does, above).
    const QByteArray image = readFile(d + "/train/a-1.png");
    writeFile(d + "/notes.txt", "mine");
    EXPECT_EQ("cannot write train/a-1.png: it holds something other than a model; give --model a new name or move it away\n",
              tune(d, chosen + QStringList{"--model", "train/a-1.png"}).out);
    EXPECT_EQ("cannot write notes.txt: it holds something other than a tuning's table; give --json a new name or move it away\n",
              tune(d, chosen + QStringList{"--json", "notes.txt"}).out);
    EXPECT_TRUE(readFile(d + "/train/a-1.png") == image && readFile(d + "/notes.txt") == "mine");
    // A pipe in place of the table is written into and stays a pipe; with no
    // program reading it, one line says so at once.
    const QByteArray pipe = QFile::encodeName(d + "/pipe");
    ASSERT_EQ(0, ::mkfifo(pipe.constData(), 0600));
    const RunResult unread = tune(d, chosen + QStringList{"--json", "pipe"});
    EXPECT_TRUE(unread.exitCode == 1 && unread.out.endsWith("cannot write pipe: it is a pipe that no program is reading\n")) << unread.out.constData();
    const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(0, tune(d, chosen + QStringList{"--json", "pipe"}).exitCode);
    char table[4096];
    const ssize_t got = ::read(reader, table, sizeof table);
    ::close(reader);
    EXPECT_EQ(2, QJsonDocument::fromJson(QByteArray(table, int(std::max<ssize_t>(got, 0)))).object()["best"].toObject()["spacing"].toInt());
    struct stat status;
    EXPECT_TRUE(::stat(pipe.constData(), &status) == 0 && S_ISFIFO(status.st_mode));
    // Sent to the program's own output, here a file, the table follows its lines and
    // names the configuration trained.
    const RunResult own = runProgram("sh", {"-c", "exec \"$0\" train --spacing 2 --keep 0.3 --neighbours 3 --folds 0 --json /proc/self/fd/1 > out.txt",
                                            SORVIK_TUNE_EXECUTABLE}, d);
    EXPECT_EQ(0, own.exitCode) << own.err.constData();
    const QByteArray out = readFile(d + "/out.txt");
    EXPECT_TRUE(out.startsWith("trained: spacing 2, 81 features, 24 components, 3 neighbours\nmodel written to tuned.out\n{")) << out.constData();
    const QJsonObject trained = QJsonDocument::fromJson(out.mid(out.indexOf('{'))).object()["best"].toObject();
    EXPECT_EQ(24, trained["components"].toInt());
    EXPECT_TRUE(trained["accuracy"].isNull());
    // Standard error takes it as well: the image libraries' complaints are kept off
    // it, not what the user sends there.
    const RunResult error = tune(d, {"--spacing", "2", "--keep", "0.3", "--neighbours", "3", "--folds", "0", "--json", "/dev/stderr"});
    EXPECT_TRUE(error.err.startsWith("{") && error.err.contains("\"best\"")) << error.err.constData();
}

TEST(Tune, CrossValidationArithmeticAgreesWithPlainSums)
{
    // The fast sums of the folds against the same figures summed plainly in double
    // over random byte features with many zeros: the covariance of the rows left
    // out of a fold, every row's projection, and the nearest rows over each prefix.
    std::mt19937 random(5);
    ByteRows x;
    x.rows = 70, x.columns = 37;  // not a multiple of any vector width
    for (int i = 0; i < x.rows * x.columns; ++i)
        x.values.push_back(random() % 3 == 0 ? 0 : std::uint8_t(random()));
    std::vector<int> every(std::size_t(x.rows)), part;
    std::iota(every.begin(), every.end(), 0);
    for (int r = 1; r < x.rows; r += 3)
        part.push_back(r);
    const Matrix s = covarianceWithout(gramOf(x, every), gramOf(x, part));
    std::vector<int> kept;
    std::set_difference(every.begin(), every.end(), part.begin(), part.end(), std::back_inserter(kept));
    const double n = double(kept.size());
    for (int i = 0; i < x.columns; ++i)
        for (int j = 0; j < x.columns; ++j) {
            double mi = 0, mj = 0, products = 0;
            for (const int r : kept)
                mi += x.row(r)[i] / n, mj += x.row(r)[j] / n;
            for (const int r : kept)
                products += (x.row(r)[i] - mi) * (x.row(r)[j] - mj);
            EXPECT_NEAR(products / (n - 1), s(i, j), 1e-3 + 1e-5 * std::fabs(products / (n - 1))) << i << ", " << j;
        }
    Matrix components(x.columns, 5);
    for (float &v : components.values)
        v = float(random() % 2001) / 1000 - 1;
    const Matrix p = projectRows(x, components, 4);
    for (int r = 0; r < x.rows; ++r)
        for (int k = 0; k < 4; ++k) {
            double sum = 0;
            for (int j = 0; j < x.columns; ++j)
                sum += double(x.row(r)[j]) * components(j, k);
            EXPECT_NEAR(sum, p(r, k), 1e-3) << r << ", " << k;
        }
    const Neighbours nearest = nearestOverPrefixes(p, p, {1, 4}, 3);
    for (int q = 0; q < x.rows; q += 7)
        for (const int prefix : {0, 1}) {
            std::vector<std::pair<double, int>> plain;
            for (int r = 0; r < x.rows; ++r) {
                double d = 0;
                for (int k = 0; k < (prefix == 0 ? 1 : 4); ++k)
                    d += (double(p(r, k)) - p(q, k)) * (double(p(r, k)) - p(q, k));
                plain.emplace_back(d, r);
            }
            std::sort(plain.begin(), plain.end());
            EXPECT_EQ(q, nearest[std::size_t(q)][std::size_t(prefix)][0]);  // a row is its own nearest
            EXPECT_EQ(plain[1].second, nearest[std::size_t(q)][std::size_t(prefix)][1]) << q;
        }
}
