// The pictures of sorvik-report as functions: PNG files that read back as drawn,
// plots that keep to their area, and the scatter, markers, components, pairs and
// thumbnails drawn where they belong, over models at the edges of what floats hold.

#include "gui_application.h"
#include "support.h"

#include "tools/report/drawing.h"
#include "tools/report/page.h"
#include "tools/report/pictures.h"
#include "tools/report/plots.h"
#include "tools/report/png_encoder.h"

#include <QFontMetrics>

#include <algorithm>
#include <cfloat>
#include <random>

using namespace sorvik;

TEST(ReportPictures, PicturesReadBackPixelForPixel)
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

TEST(ReportPictures, TakeAnyModel)
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
    // Sixteen components in two rows of eight tiles: the lower half is drawn on too.
    const QImage rows = componentsPicture(Matrix(4, 16), grid, std::vector<double>(16, 1.0 / 16), 16);
    EXPECT_NE(whiteCanvas(rows.width(), rows.height() / 2), rows.copy(0, rows.height() - rows.height() / 2, rows.width(), rows.height() / 2));
}

TEST(ReportPictures, PlotsKeepTheirAreaAndTheirMarkLabelsInside)
{
    // The area of a plot lies inside its canvas, below the title line and with a
    // margin at its right. Marks close together on a falling curve, one at the left
    // edge of the area and one in its lower right corner: every label inside the
    // area, clear of the others.
    const Plot plot = plotCanvas("title", "x", "y", 480, 240);
    const QRect area = plot.area;
    EXPECT_TRUE(plot.image.rect().contains(area.adjusted(0, -margin - QFontMetrics(labelFont()).height(), margin, 0)));
    std::vector<QRect> taken;
    for (const QPointF at : {QPointF(140, 40), QPointF(155, 55), QPointF(170, 60), QPointF(2, 20), QPointF(478, 230)}) {
        const QRect place = markLabelPlace(area.topLeft() + at, 90, taken, area);
        EXPECT_TRUE(area.contains(place)) << at.x();
        EXPECT_TRUE(std::none_of(taken.begin(), taken.end(), [&](const QRect &t) { return t.intersects(place); })) << at.x();
        taken.push_back(place);
    }
    // Bars stand up from the axis: six right answers and six misread at one
    // distance draw their bars side by side, as high as the area.
    const std::vector<Answer> right(6, {"a-1", true, "A", "A", 1}), misread(6, {"a-1", true, "A", "B", 1});
    const QImage blue = distanceHistogram(right), red = distanceHistogram(misread);
    EXPECT_GT(pixelsThatDiffer(blue, red, QRect(0, 0, blue.width(), blue.height() / 2)), 0);
}

TEST(ReportPictures, DrawWhatTheModelAndTheReadsGive)
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
