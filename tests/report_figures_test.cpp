// The figures of sorvik-report as functions: the classification report and the
// rejection curve worked out by hand, the grid of a tuning read and drawn, and
// every figure over answers at the edges of what floats hold (run under the
// sanitizers, where an undefined conversion ends it).

#include "gui_application.h"
#include "support.h"

#include "tools/grid.h"
#include "tools/report/figures.h"
#include "tools/report/gallery.h"
#include "tools/report/pictures.h"
#include "tools/report/plots.h"
#include "tools/report/predictions.h"
#include "tools/report/rejection.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace sorvik;

TEST(ReportFigures, TakeAnyDistance)
{
    // Three images of A and three of B, four misread, at the distances given: zero,
    // all equal, huge, infinite, not a number, and one infinite among finite ones.
    const float inf = INFINITY, nan = NAN;
    const std::vector<std::vector<float>> distanceSets = {
        {0, 0, 0, 0, 0, 0}, {7, 7, 7, 7, 7, 7}, {1e38f, FLT_MAX, 1, 0, 1e38f, 2}, {inf, inf, inf, inf, inf, inf},
        {nan, nan, nan, nan, nan, nan}, {1, 2, inf, 4, 5, 6}, {1, nan, 3, -0.0f, 5, inf}};
    for (const std::vector<float> &distances : distanceSets) {
        std::vector<Answer> answers;
        QStringList actual, predicted;
        for (int i = 0; i < 6; ++i) {
            answers.push_back({QString("%1-%2.png").arg(i < 3 ? 'a' : 'b').arg(i), true, i < 3 ? "A" : "B", i % 2 ? "A" : "B", distances[std::size_t(i)], i});
            actual << answers.back().label;
            predicted << answers.back().predicted;
        }
        EXPECT_EQ(std::count_if(distances.begin(), distances.end(), [](float d) { return !std::isfinite(d); }), unmeasuredDistances(answers));
        EXPECT_FALSE(distanceHistogram(answers).isNull());
        const Figures figures = classificationFigures(actual, predicted);
        const std::vector<RejectionRow> curve = rejectionCurve(answers);
        EXPECT_FALSE(rejectionPlot(curve, rejectionThresholds(curve)).isNull());
        EXPECT_FALSE(recallPicture(figures).isNull());
        EXPECT_EQ(4u, galleryChoice(answers, 10).size());
        EXPECT_EQ(4u, thumbnailChoice(answers, 2).size());
        const QByteArray csv = predictionsCsv(answers, {});
        EXPECT_EQ(7, csv.count("\r\n"));
        EXPECT_EQ(std::count_if(distances.begin(), distances.end(), [](float d) { return std::isinf(d); }), csv.count(",inf,"));
    }
    EXPECT_EQ(std::vector<int>({0, 1}), galleryChoice(std::vector<Answer>(3), 2));  // images without a class, as they come
}

TEST(ReportFigures, EqualAHandWorkedClassificationReport)
{
    // Ten images of four classes, six read right; D is never predicted, so its
    // precision is 0 (as scikit-learn gives it with zero_division=0).
    const QStringList actual = {"A", "A", "A", "A", "B", "B", "B", "C", "C", "D"};
    const QStringList predicted = {"A", "A", "A", "B", "B", "B", "C", "C", "A", "C"};
    const Figures f = classificationFigures(actual, predicted);
    EXPECT_EQ(10, f.images);
    EXPECT_EQ(6, f.correct);
    EXPECT_DOUBLE_EQ(60.0, accuracyPercent(f));
    EXPECT_EQ(QStringList({"A", "B", "C", "D"}), f.classes);
    const double expected[4][3] = {{3.0 / 4, 3.0 / 4, 3.0 / 4}, {2.0 / 3, 2.0 / 3, 2.0 / 3}, {1.0 / 3, 1.0 / 2, 0.4}, {0, 0, 0}};
    const int support[4] = {4, 3, 2, 1};
    ASSERT_EQ(4u, f.perClass.size());
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(f.classes.at(c), f.perClass[std::size_t(c)].label);
        EXPECT_NEAR(expected[c][0], f.perClass[std::size_t(c)].precision, 1e-12);
        EXPECT_NEAR(expected[c][1], f.perClass[std::size_t(c)].recall, 1e-12);
        EXPECT_NEAR(expected[c][2], f.perClass[std::size_t(c)].f1, 1e-12);
        EXPECT_EQ(support[c], f.perClass[std::size_t(c)].support);
    }
    // Macro: the plain mean of the four; weighted: by the supports 4, 3, 2 and 1.
    EXPECT_NEAR(1.75 / 4, f.macroAverage.precision, 1e-12);
    EXPECT_NEAR((0.75 + 2.0 / 3 + 0.5) / 4, f.macroAverage.recall, 1e-12);
    EXPECT_NEAR((0.75 + 2.0 / 3 + 0.4) / 4, f.macroAverage.f1, 1e-12);
    EXPECT_NEAR((3 + 2 + 2.0 / 3) / 10, f.weightedAverage.precision, 1e-12);
    EXPECT_NEAR(0.6, f.weightedAverage.recall, 1e-12);
    EXPECT_NEAR(0.58, f.weightedAverage.f1, 1e-12);
    EXPECT_EQ(10, f.macroAverage.support);
    EXPECT_EQ(10, f.weightedAverage.support);
    EXPECT_EQ((std::vector<std::vector<int>>{{3, 1, 0, 0}, {0, 2, 1, 0}, {1, 0, 1, 0}, {0, 0, 1, 0}}), f.confusion);
    // Four confusions of one image each: in the order of their labels.
    QStringList order;
    for (const Confusion &c : f.topConfusions)
        order << c.actual + ">" + c.predicted + ":" + QString::number(c.count);
    EXPECT_EQ(QStringList({"A>B:1", "B>C:1", "C>A:1", "D>C:1"}), order);
    // The text as classification_report lays it out, two decimals.
    const QByteArray text = figuresText(f);
    EXPECT_TRUE(text.contains("           C       0.33      0.50      0.40         2\n")) << text.constData();
    EXPECT_TRUE(text.contains("    accuracy                           0.60        10\n")) << text.constData();
    EXPECT_TRUE(text.contains("weighted avg       0.57      0.60      0.58        10\n")) << text.constData();
    // Of twelve confusions, the ten most frequent.
    QStringList many, read;
    for (int i = 0; i < 12; ++i)
        many << QString(QChar('A' + i)), read << QString(QChar('A' + (i + 1) % 12));
    EXPECT_EQ(10u, classificationFigures(many, read).topConfusions.size());
}

TEST(ReportFigures, RejectionKeepsTheNearestAnswers)
{
    // Six labelled images at distances 1, 2, 2, 3, 5 and infinity, the third and the
    // last misread, and one without a class.
    const struct { float distance; bool right; } read[] = {{2, false}, {1, true}, {5, true}, {2, true}, {3, true}, {INFINITY, false}};
    std::vector<Answer> answers;
    for (const auto &r : read)
        answers.push_back({"", true, "A", r.right ? "A" : "B", r.distance});
    answers.push_back(Answer());  // no class
    const std::vector<RejectionRow> curve = rejectionCurve(answers);
    ASSERT_EQ(4u, curve.size());
    const double expected[4][3] = {{1, 1.0 / 6, 1}, {2, 3.0 / 6, 2.0 / 3}, {3, 4.0 / 6, 3.0 / 4}, {5, 5.0 / 6, 4.0 / 5}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(float(expected[i][0]), curve[std::size_t(i)].squaredDistance);
        EXPECT_DOUBLE_EQ(expected[i][1], curve[std::size_t(i)].answered);
        EXPECT_DOUBLE_EQ(expected[i][2], curve[std::size_t(i)].accuracy);
    }
    // Every asked accuracy from 99.5 to 90 % is met only at distance 1; then the largest.
    const std::vector<RejectionRow> marked = rejectionThresholds(curve);
    ASSERT_EQ(2u, marked.size());
    EXPECT_EQ(1.0f, marked[0].squaredDistance);
    EXPECT_DOUBLE_EQ(0.995, marked[0].target);
    EXPECT_EQ(5.0f, marked[1].squaredDistance);
    EXPECT_EQ(0.0, marked[1].target);
}

TEST(ReportFigures, DrawOnlyTheGridOfATuning)
{
    // A grid read back as written and drawn at the edges of what a tuning gives;
    // every figure beyond those edges refuses the whole file.
    Scored edge{64, 1, 1, 0.85, 1, 0, 100};
    const std::vector<Scored> written = {edge, Scored{1, 784, 784, 1, 99, 100, 0}};
    std::vector<Scored> grid;
    Scored best;
    ASSERT_EQ(GridFile::Read, readGridJson(gridJson(written, edge), grid, best));
    ASSERT_EQ(2u, grid.size());
    EXPECT_TRUE(grid[1].features == 784 && grid[1].neighbours == 99 && grid[0].sd == 100.0);
    EXPECT_EQ(64, best.spacing);
    // The best configuration, moved from 99 to 97 %, is redrawn at its 784 components, the right of the plot.
    const Scored high{1, 784, 784, 1, 1, 99, 0}, low{1, 784, 784, 1, 1, 97, 0};
    const QImage drawn = gridPlot({edge, high}, high), moved = gridPlot({edge, low}, low);
    const int half = drawn.width() / 2 + 1, left = pixelsThatDiffer(drawn, moved, QRect(0, 0, half, drawn.height())),
              right = pixelsThatDiffer(drawn, moved, QRect(half, 0, drawn.width() - half, drawn.height()));
    EXPECT_TRUE(left == 0 && right > 0) << left << " " << right;
    const auto refused = [&](const char *what, void (*change)(Scored &)) {
        Scored wrong = edge;
        change(wrong);
        EXPECT_EQ(GridFile::NotGrid, readGridJson(gridJson({edge, wrong}, edge), grid, best)) << what;
        EXPECT_EQ(GridFile::NotGrid, readGridJson(gridJson({edge}, wrong), grid, best)) << what << " as the choice";
    };
    refused("spacing 0", [](Scored &s) { s.spacing = 0; });
    refused("spacing 65", [](Scored &s) { s.spacing = 65; });
    refused("no features", [](Scored &s) { s.features = 0; });
    refused("no components", [](Scored &s) { s.components = 0; });
    refused("more components than features", [](Scored &s) { s.features = 3, s.components = 4; });
    refused("no neighbour", [](Scored &s) { s.neighbours = 0; });
    refused("accuracy below 0", [](Scored &s) { s.accuracy = -0.01; });
    refused("accuracy above 100", [](Scored &s) { s.accuracy = 100.01; });
    refused("accuracy not a number", [](Scored &s) { s.accuracy = NAN; });
    refused("sd below 0", [](Scored &s) { s.sd = -1; });
    refused("sd above 100", [](Scored &s) { s.sd = 1e38; });
    for (const char *json : {"", "[]", "{\"grid\": [], \"best\": {}}", "{\"grid\": 5}"})
        EXPECT_EQ(GridFile::NotGrid, readGridJson(json, grid, best)) << json;
    const char *unscored = R"({"grid": [], "best": {"spacing": 2, "features": 9, "components": 3, "neighbours": 1, "accuracy": null, "sd": null}})";
    EXPECT_EQ(GridFile::Unscored, readGridJson(unscored, grid, best));
}
