// sorvik-glyphs: renders printed characters 0-9 and a-z from the installed fonts,
// each with a small random shift, rotation and scale, into sample directories of
// "c-xxx.png" images: white glyphs on black, like the handwritten digits.
// The same seed, fonts and Qt give the same images.

#include "tools/command_line.h"
#include "tools/image_set.h"

#include "base/run_end.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <random>

using namespace sorvik;

namespace {

QStringList sampleFonts()
{
    // Latin text faces of Debian's DejaVu, Liberation and FreeFont packages.
    QStringList families;
    for (const QString &family : QFontDatabase().families())
        if (family.startsWith("DejaVu") || family.startsWith("Liberation") || family.startsWith("Free"))
            families << family;
    families.sort();
    return families;
}

// One character in white on black, in a font of the list picked at random, with a
// random shift, rotation, scale and weight (drawn in that order, the same for the
// same seed).
QImage renderGlyph(QChar c, int size, const QStringList &fonts, std::mt19937 &random)
{
    std::uniform_real_distribution<double> shift(-0.06, 0.06), angle(-12, 12), scale(0.55, 0.8);
    QImage image(size, size, QImage::Format_Grayscale8);
    image.fill(0);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font(fonts[int(random() % unsigned(fonts.size()))]);
    font.setPixelSize(std::max(8, int(std::lround(size * scale(random)))));
    font.setBold(random() % 4 == 0);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.translate(size * (0.5 + shift(random)), size * (0.5 + shift(random)));
    painter.rotate(angle(random));
    painter.drawText(QRectF(-size / 2.0, -size / 2.0, size, size), Qt::AlignCenter, QString(c));
    painter.end();
    return image;
}

// Ends the run with one line; the images written so far go with it.
[[noreturn]] void fail(const QString &message)
{
    runEndActions();
    std::cout << "sorvik-glyphs: " << message.toStdString() << "\n";
    std::exit(1);
}

} // namespace

int main(int argc, char *argv[])
{
    beginTool();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    nameTool("sorvik-glyphs");
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("TRAIN_DIR"), QStringLiteral("where images 0-3 of every five of a class go"));
    parser.addPositionalArgument(QStringLiteral("TEST_DIR"), QStringLiteral("where image i of a class goes when i % 5 == 4"));
    parser.addOption({QStringLiteral("size"), QStringLiteral("side of the images, 16 to 1024 pixels (default 64)"), QStringLiteral("PIXELS"), QStringLiteral("64")});
    parser.addOption({QStringLiteral("per-class"), QStringLiteral("images of each class, 1 to 100000 (default 100)"), QStringLiteral("N"), QStringLiteral("100")});
    parser.addOption({QStringLiteral("seed"), QStringLiteral("seed of the random shifts, rotations and scales (default 1)"), QStringLiteral("S"), QStringLiteral("1")});
    const QStringList directories = parseCommandLine(
        parser, QStringLiteral("Renders printed characters 0-9 and a-z from the installed fonts (DejaVu, Liberation, FreeFont) "
                               "with small random shifts, rotations and scales."), 2);
    refuseOneFolderForTwo(directories[0], directories[1]);
    // Every name is listed before the first image is drawn: at most 3.6 million.
    const int size = integerOption(parser, QStringLiteral("size"), 16, 1024), perClass = integerOption(parser, QStringLiteral("per-class"), 1, 100000);
    const unsigned seed = unsigned(integerOption(parser, QStringLiteral("seed"), 0));
    const QStringList fonts = sampleFonts();
    if (fonts.isEmpty()) {
        std::cout << "sorvik-glyphs: no DejaVu, Liberation or FreeFont fonts are installed (scripts/setup bench installs them)\n";
        return 1;
    }
    // The images are written beside the two directories and take their place
    // together: an end part way leaves none of them.
    const QString classes = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz");
    const auto name = [](QChar c, int i) { return QStringLiteral("%1-%2.png").arg(c).arg(i, 5, 10, QLatin1Char('0')); };
    QStringList names[2];
    for (const QChar c : classes)
        for (int i = 0; i < perClass; ++i)
            names[i % 5 == 4 ? 1 : 0] << name(c, i);
    ImageSet train(directories[0]), test(directories[1]);
    ImageSet *const sets[2] = {&train, &test};
    for (int s = 0; s < 2; ++s)
        if (!sets[s]->problem(names[s]).isEmpty())
            fail(sets[s]->problem(names[s]));
    std::mt19937 random(seed);
    QString reason;
    int written = 0;
    for (const QChar c : classes)
        for (int i = 0; i < perClass; ++i, ++written)
            if (!sets[i % 5 == 4 ? 1 : 0]->add(name(c, i), renderGlyph(c, size, fonts, random), reason))
                fail(reason);
    for (ImageSet *set : sets)
        if (!set->place(reason))
            fail(reason);
    std::cout << "wrote " << written << " images of " << size << " x " << size << " from " << fonts.size() << " fonts\n";
    return consoleStatus(0);
}
