// The figures and pictures of sorvik-report as functions: PNG pictures that read
// back as drawn, and every figure over answers and models at the edges of what
// floats hold (run under the sanitizers, where an undefined conversion ends it).

#include "support.h"

#include "tools/grid.h"
#include "tools/report/drawing.h"
#include "tools/report/figures.h"
#include "tools/report/gallery.h"
#include "tools/report/page.h"
#include "tools/report/pictures.h"
#include "tools/report/plots.h"
#include "tools/report/png_encoder.h"
#include "tools/report/predictions.h"
#include "tools/report/rejection.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cfloat>
#include <cmath>
#include <random>

using namespace sorvik;

namespace {

// Text is drawn with Qt's fonts, which need an application, as sorvik-report has.
class GuiApplication : public testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "report_figures_test", *argv[] = {name, nullptr};
        static QGuiApplication application(argc, argv);
    }
};
testing::Environment *const application = testing::AddGlobalTestEnvironment(new GuiApplication);

} // namespace

TEST(ReportFigures, PicturesReadBackPixelForPixel)
{
    // Grey and colour pictures of odd sizes, and one in a format the encoder
    // converts first: each PNG decodes to the pixels drawn.
    std::mt19937 random(5);
    for (const QImage::Format format : {QImage::Format_Grayscale8, QImage::Format_RGB32, QImage::Format_ARGB32})
        for (const QSize size : {QSize(1, 1), QSize(3, 5), QSize(257, 2), QSize(40, 31)}) {
            QImage image(size, format);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    image.setPixel(x, y, format == QImage::Format_Grayscale8 ? random() % 256 : 0xff000000u | (random() & 0xffffffu));
            const QImage read = QImage::fromData(pngBytes(image), "PNG");
            ASSERT_EQ(size, read.size());
            EXPECT_EQ(format == QImage::Format_Grayscale8, read.isGrayscale());
            EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), read.convertToFormat(QImage::Format_RGB32)) << format << " " << size.width();
        }
    EXPECT_TRUE(pngBytes(QImage()).isEmpty());
}

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

TEST(ReportFigures, TakeAnyModel)
{
    // Models whose values are zero, all equal, or the largest floats of either sign:
    // the plots of their projections and the pictures of their components.
    EXPECT_EQ(std::vector<double>({0.8, 0.2}), varianceShares(matrixOf({{1, 0}, {3, 2}, {5, 1}})));  // sums of squares 8 and 2
    Raster grid;
    grid.width = grid.height = 2, grid.sourceWidth = grid.sourceHeight = 20;
    for (const float value : {0.0f, 3.0f, FLT_MAX, -FLT_MAX}) {
        SCOPED_TRACE(value);
        Matrix projections = matrixOf({{value, value}, {value, -value}, {-value, value}, {0, 1}});
        const std::vector<double> shares = varianceShares(projections);
        for (const double share : shares)
            EXPECT_TRUE(share >= 0 && share <= 1) << share;
        EXPECT_FALSE(varianceCurve(shares, 4).isNull());
        EXPECT_FALSE(projectionScatter(projections, {"A", "B", "A", "C"}, 5000).isNull());
        const Matrix components = matrixOf({{value, 1}, {value, value}, {-value, 0}, {0, value}});
        const QImage picture = componentsPicture(components, grid, shares, 16);  // two tiles side by side: the right half is drawn on too
        EXPECT_NE(whiteCanvas(picture.width() / 2, picture.height()), picture.copy(picture.width() / 2, 0, picture.width() / 2, picture.height()));
    }
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

TEST(ReportFigures, MarkLabelsStayApartInsideThePlot)
{
    // Marks close together on a falling curve, one at the left edge of the area and
    // one in its lower right corner: every label inside the area, clear of the others.
    const QRect area(60, 20, 480, 240);
    std::vector<QRect> taken;
    for (const QPointF at : {QPointF(200, 60), QPointF(215, 75), QPointF(230, 80), QPointF(62, 40), QPointF(538, 250)}) {
        const QRect place = markLabelPlace(at, 90, taken, area);
        EXPECT_TRUE(area.contains(place)) << at.x();
        EXPECT_TRUE(std::none_of(taken.begin(), taken.end(), [&](const QRect &t) { return t.intersects(place); })) << at.x();
        taken.push_back(place);
    }
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
    int left = 0, right = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            (x > drawn.width() / 2 ? right : left) += drawn.pixel(x, y) != moved.pixel(x, y);
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

TEST(ReportFigures, DrawWhatTheModelAndTheReadsGive)
{
    // The scatter of a model of two components draws its points: it differs from
    // the same rows drawn with a third value, which the scatter leaves out, only
    // nowhere.
    const Matrix two = matrixOf({{0, 0}, {1, 2}, {3, 1}, {2, 3}}), three = matrixOf({{0, 0, 9}, {1, 2, 8}, {3, 1, 7}, {2, 3, 6}});
    const QImage scatter = projectionScatter(two, {"A", "B", "A", "B"}, 5000);
    EXPECT_EQ(scatter, projectionScatter(three, {"A", "B", "A", "B"}, 5000));
    EXPECT_NE(scatter, projectionScatter(matrixOf({{0, 0}, {3, 3}}), {"A", "B"}, 5000));
    EXPECT_NE(scatter, projectionScatter(two, {"0", "B", "0", "B"}, 5000));  // the same colours: every class named, the first too
    // Every row is drawn and spans the axes, the first too: the same points in another order draw the same.
    EXPECT_EQ(projectionScatter(matrixOf({{0, 0}, {1, 2}, {2, 1}}), {"A", "B", "A"}, 5000),
              projectionScatter(matrixOf({{2, 1}, {1, 2}, {0, 0}}), {"A", "B", "A"}, 5000));
    // Twelve colours and five shapes: the markers of sixty classes all differ.
    std::vector<QImage> markers(60, whiteCanvas(12, 12));
    for (int i = 0; i < 60; ++i) {
        QPainter painter(&markers[std::size_t(i)]);
        drawMarker(painter, QPointF(6, 6), i);
    }
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(i, std::find(markers.begin(), markers.end(), markers[std::size_t(i)]) - markers.begin());
    // A component of one node, the second of the first row of 3 x 3 nodes over 20 x
    // 20 pixels (spacing 4, offsets 2): full white at that node, (10, 6), and nowhere else.
    Raster grid;
    grid.width = grid.height = 3, grid.sourceWidth = grid.sourceHeight = 20;
    Matrix node(9, 1);
    node(1, 0) = 1;
    const QImage component = componentImage(node, 0, grid, Transform{4, 2, 2});
    ASSERT_EQ(QSize(20, 20), component.size());
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(x == 10 && y == 6, component.pixel(x, y) == qRgb(255, 255, 255)) << x << ", " << y;
    // A misread pair: each image two pixels in from the top and left of its place.
    const QImage test = greyImage(3, 4, [](int x, int y) { return 10 * x + y; });
    const QImage nearest = greyImage(5, 2, [](int x, int y) { return 100 + 10 * x + y; });
    const QImage pair = pairPicture(test, nearest);
    ASSERT_EQ(QSize(2 + 3 + 2 + 5 + 2, 2 + 4 + 2), pair.size());
    EXPECT_TRUE(test.pixel(0, 0) == pair.pixel(2, 2) && nearest.pixel(0, 0) == pair.pixel(7, 2) && nearest.pixel(4, 1) == pair.pixel(11, 3));
    // The same two as thumbnails of one class, scaled 9 times, the first at the left.
    const QImage sheet = thumbnailSheet({"A", "A"}, {test, nearest});
    EXPECT_TRUE(test.pixel(2, 3) == sheet.pixel(60 + 2 * 9 + 4, 8 + 3 * 9 + 4) && nearest.pixel(4, 1) == sheet.pixel(113 + 4 * 9 + 4, 8 + 9 + 4));
    // A page where every image is read right: the cells off the diagonal are white.
    PageContent content;
    content.figures = classificationFigures({"A", "B", "B"}, {"A", "B", "B"});
    const QString page = indexPage(content);
    EXPECT_EQ(2, page.count("<td style=\"background:rgb(255,255,255)\""));
    // One labelled image has its table of classes; none has none.
    content.figures = classificationFigures({"A"}, {"B"});
    EXPECT_TRUE(QString(indexPage(content)).contains("id=\"confusion\""));
    content.figures = classificationFigures({}, {});
    EXPECT_FALSE(QString(indexPage(content)).contains("id=\"confusion\""));
}
