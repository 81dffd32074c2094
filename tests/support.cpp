#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <zlib.h>

#include <random>

using namespace sorvik;

RunResult runProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory, const QStringList &environment)
{
    QProcess process;
    process.setEnvironment(QProcess::systemEnvironment() + environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(600000)) << program.toStdString();
    RunResult result;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1000;
    return result;
}

RunResult runSorvik(const QStringList &arguments, const QString &workingDirectory, const QStringList &environment)
{
    return runProgram(QStringLiteral(SORVIK_EXECUTABLE), arguments, workingDirectory, environment);
}

QImage greyImage(int width, int height, const std::function<int(int, int)> &value)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = value(x, y);
            image.setPixel(x, y, qRgb(v, v, v));
        }
    return image;
}

void noiseImages(const QString &directory, const QStringList &names, unsigned seed)
{
    std::mt19937 random(seed);
    for (const QString &name : names)
        saveImage(greyImage(24, 24, [&](int, int) { return int(random() % 256); }), directory, name);
}

void saveImage(const QImage &image, const QString &directory, const QString &name, const char *format)
{
    QDir().mkpath(directory);
    const QString path = directory + "/" + name;
    ASSERT_TRUE(image.save(path, format)) << path.toStdString();
}

void sixtyTrainingImages(const QString &directory)
{
    for (int i = 0; i < 60; ++i)
        saveImage(greyImage(20, 20, [i](int x, int y) { return (i * 4 + x * 7 + y * 3) % 256; }), directory + "/train",
                  QString("%1-%2.png").arg(i % 2 ? "b" : "a").arg(i));
}

int pixelsThatDiffer(const QImage &a, const QImage &b, const QRect &area)
{
    int differ = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            differ += a.pixel(x, y) != b.pixel(x, y);
    return differ;
}

sorvik::Matrix matrixOf(std::initializer_list<std::initializer_list<float>> rows)
{
    sorvik::Matrix m;
    for (const auto &row : rows) {
        m.columns = int(row.size());
        m.values.insert(m.values.end(), row.begin(), row.end());
        ++m.rows;
    }
    return m;
}

std::string maskTimes(const QByteArray &report)
{
    QString text = QString::fromLatin1(report);
    text.replace(QRegularExpression("\\d+\\.\\d{6}ms"), "T.TTTTTTms");
    text.replace(QRegularExpression("\\d+ms"), "Tms");
    return text.toStdString();
}

QByteArray bigEndian(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &body)
{
    const QByteArray typed = type + body;
    return bigEndian(quint32(body.size())) + typed + bigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size()))));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}
