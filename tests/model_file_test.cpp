// The model file: numbers written exactly as a default QTextStream writes them and
// read exactly as QString::toFloat reads them, proven over millions of floats;
// a large model read piece by piece, and the reader's rules on hand-written files.

#include "support.h"

#include "model/model_file.h"
#include "model/model_number.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

using namespace sorvik;

namespace {

float fromBits(std::uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::uint32_t bitsOf(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

QByteArray fastText(float value)
{
    char buffer[32];
    return QByteArray(buffer, formatModelNumber(value, buffer));
}

// Floats worth checking: every magnitude at random, exact ties, values that round
// up to the next power of ten, and the special values.
std::vector<float> testFloats()
{
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 100000.0f, 999999.0f, 1000000.0f, 1500000.0f, 0.0001f, 0.00001f,
                                 12345.25f, 1234.125f, 100.0625f, -12345.25f, 999999.5f, 9999995.0f, 0.1f, 0.0123456789f,
                                 std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                                 std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
    std::mt19937 random(1);
    for (int i = 0; i < 1000000; ++i)
        values.push_back(fromBits(random()));
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < 300000; ++i)  // the magnitudes of real models
        values.push_back(float(unit(random) * std::pow(10.0, int(random() % 12) - 6)));
    for (int i = 0; i < 200000; ++i) {  // dyadic values with seven or eight significant digits: many ties
        const std::uint32_t n = 1000000 + random() % 90000000;
        values.push_back(std::ldexp(float(n), int(random() % 40) - 24));
        values.push_back(float(n / 10 * 10 + 5) / float(1 << (random() % 5)));
    }
    for (int e = -44; e <= 38; ++e)  // six digits about to carry into the next power of ten, at every scale
        for (const double digits : {999998.5, 999999.0, 999999.49999, 999999.5, 999999.50001, 999999.9, 99999.95, 9999999.5})
            for (int step = -2; step <= 2; ++step)
                values.push_back(fromBits(bitsOf(float(digits * std::pow(10.0, e - 5))) + step));
    for (int e = -38; e <= 38; ++e) {  // around every power of ten, and its round-up boundary
        const float p = float(std::pow(10.0, e));
        const float edge = float(std::pow(10.0, e) * (1 - 5e-7));
        for (float base : {p, edge})
            for (int step = -3; step <= 3; ++step)
                values.push_back(fromBits(bitsOf(base) + step));
    }
    return values;
}

} // namespace

TEST(ModelNumbers, WriteAsAQTextStreamForEveryFloat)
{
    int mismatches = 0;
    for (float value : testFloats()) {
        const QByteArray expected = formatModelNumberReference(value);
        if (fastText(value) != expected && ++mismatches <= 10)
            ADD_FAILURE() << "bits " << std::hex << bitsOf(value) << ": " << fastText(value).constData() << " vs " << expected.constData();
    }
    EXPECT_EQ(0, mismatches);
}

TEST(ModelNumbers, ReadAsQStringToFloatDoes)
{
    std::vector<QByteArray> texts = {"", "-", "+1", " 1", "1 ", "1e", ".5", "1.", "nan", "inf", "-inf", "1,5", "0x10", "1e400",
                                     "1e-400", "-1e-50", "3.4028235e38", "3.4028236e38", "3.40282357e38", "3.5e38", "1e-45",
                                     "7e-46", "00012", "1E5", "1e+5", "1.5e+06", "12345678901234567890123456789012345",
                                     "0.000000000000000000000000000000000000000000001", "1.2.3", "1..5", "1.5.", "-.5", "--1.5",
                                     "1-.5", "1.5-", "-", "12345678.5", "1.12345678", "9999999.9999999", "-1234567.7654321", "-0.0"};
    for (float value : testFloats())
        texts.push_back(formatModelNumberReference(value));
    for (int i = 0; i < 200000; ++i)  // more digits than the writer gives, to exercise rounding to double then float
        texts.push_back(QByteArray::number(1 + i * 1.00000011920928955078125e-7, 'g', 17));
    int mismatches = 0;
    for (const QByteArray &text : texts) {
        const float expected = QString::fromLatin1(text).toFloat();
        float actual = expected;  // a text that readModelNumber leaves is QString::toFloat's own
        readModelNumber(text.constData(), text.size(), actual);
        if (bitsOf(expected) != bitsOf(actual) && ++mismatches <= 10)
            ADD_FAILURE() << "\"" << text.constData() << "\": " << actual << " vs " << expected;
    }
    EXPECT_EQ(0, mismatches);
}

// A large model is parsed piece by piece as it is read: lines that cross the
// pieces, a label line longer than a piece, and a carriage return or a byte beyond
// ASCII late in the file must all give what the text-stream reader gives; and so
// must small models beyond ASCII.
TEST(ModelFile, ReadsAsTheTextStreamReaderLargeOrBeyondAscii)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/model";
    std::mt19937 random(5);
    QByteArray text;
    for (int i = 0; i < 3000; ++i)
        text += QByteArray(1 + int(random() % 40), char('a' + random() % 26)) + ';';
    text += '\n';
    const auto rows = [&](int count) {
        for (int r = 0; r < count; ++r) {
            for (int j = 0, n = 5 + int(random() % 3); j < n; ++j)
                text += QByteArray::number(double(int(random() % 2000000) - 1000000) / (1 + random() % 1000), 'g', 6) + ';';
            text += '\n';
        }
    };
    rows(30);
    text += '\n';
    rows(9000);
    QByteArray accented = text;
    accented.insert(accented.indexOf('\n'), "\xc3\xa9;");
    // The empty line alone at the start of the second piece of 64 KiB, a long row after it.
    const QByteArray boundary = "A;\n" + QByteArray("1;").repeated(32766) + "\n\n" + QByteArray("2;").repeated(32768) + "\n";
    // Small models beyond ASCII: labels in another script, byte-order marks at the start
    // and within, a space that QString::toFloat trims, sequences left unfinished before
    // a ";" and a line end, and a model in UTF-16.
    const QByteArray small[] = {"\xce\xb1;\xce\xb2;\n0.5;\n\n1;\n2;\n",
                                "\xef\xbb\xbf" "A;B;\r\n\xef\xbb\xbf" "0.5;\r\n\r\n1\xc2\xa0;\n2\xd8;\n",
                                "A;\xe2\x82\nB;\n0.25;\n\n\xe2\x82;3;\n",
                                QByteArray("\xff\xfe", 2) + QByteArray(reinterpret_cast<const char *>(u"A;B;\n0.5;\n\n1;\n2;\n"), 2 * 18)};
    const QByteArray cases[] = {text, text.left(text.size() - 1), text + "1;2\r3;\n", accented, text + "\n\n3;", boundary, small[0], small[1], small[2], small[3]};
    for (const QByteArray &c : cases) {
        writeFile(path, c);
        LabelList labels, plainLabels;
        Matrix e, p, plainE, plainP;
        ModelFileReport report, plainReport;
        ASSERT_TRUE(readModelFile(path, labels, e, p, &report, LabelsKept::UpToProjectionRows));
        ASSERT_TRUE(readModelFileReference(path, plainLabels, plainE, plainP, &plainReport, LabelsKept::UpToProjectionRows));
        EXPECT_EQ(plainLabels, labels);
        EXPECT_EQ(plainE, e);
        EXPECT_EQ(plainP, p);
        EXPECT_GE(p.rows, c.size() < 40 || c == boundary ? 1 : 9000);
        EXPECT_EQ(plainReport.labelCount, report.labelCount);
        EXPECT_EQ(plainReport.raggedLine, report.raggedLine);
        EXPECT_EQ(plainReport.nonFiniteLine, report.nonFiniteLine);
    }
}

TEST(ModelFile, ReaderFollowsItsRulesOnHandWrittenFiles)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/model";
    const struct {
        const char *name;
        QByteArray text;
        QStringList labels;
        std::vector<std::vector<float>> components;
        std::vector<std::vector<float>> projections;
        int raggedLine;
    } cases[] = {
        {"written", "A;B;\n1;2;\n3;4;\n\n5;6;\n7;8;\n", {"A", "B"}, {{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}, 0},
        {"crlf", "A;B;\r\n1;2;\r\n3;4;\r\n\r\n5;6;\r\n7;8;\r\n", {"A", "B"}, {{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}, 0},
        {"no trailing separator", "A;B\n1;2\n\n5;6\n", {"A"}, {{1}}, {{5}}, 0},
        {"empty pieces", "A;;B;\n1;;2;\n\n;5;\n", {"A", "", "B"}, {{1, 0, 2}}, {{0, 5}}, 0},
        {"several empty lines", "A;\n1;\n\n\n\nno separator\n5;\n", {"A"}, {{1}}, {{5}}, 0},
        {"no separator line", "A;\n1;\n2;\n", {"A"}, {{1}, {2}}, {}, 0},
        {"empty file", "", {}, {}, {}, 0},
        {"label with separator", "A;B;\n1;\n\n2;\n", {"A", "B"}, {{1}}, {{2}}, 0},
        {"no final line end", "A;\n1;\n\n2;", {"A"}, {{1}}, {{2}}, 0},
        {"not numbers", "A;\nx;1e;+2;\n\n 3 ;nan;\n", {"A"}, {{0, 0, 2}}, {{3, NAN}}, 0},
        {"ragged rows", "A;\n1;2;\n3;\n4;5;6;\n\n7;\n", {"A"}, {{1, 2}, {3, 0}, {4, 5}}, {{7}}, 3},
        {"lone carriage returns", "A;\rB;\n1;\r2;\n\r\n3;\n", {"A", "B"}, {{1, 2}}, {{3}}, 0},
        {"no labels", "\n1;\n\n2;\n", {}, {{1}}, {{2}}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.text);
        for (bool fast : {true, false}) {
            LabelList labels;
            Matrix e, p;
            ModelFileReport report;
            ASSERT_TRUE(fast ? readModelFile(path, labels, e, p, &report) : readModelFileReference(path, labels, e, p, &report));
            EXPECT_EQ(c.labels, labels);
            EXPECT_EQ(c.raggedLine, report.raggedLine);
            EXPECT_EQ(c.labels.size(), report.labelCount);
            for (const auto &[expected, actual] : {std::pair(&c.components, &e), std::pair(&c.projections, &p)}) {
                ASSERT_EQ(int(expected->size()), actual->rows);
                for (int r = 0; r < actual->rows; ++r)
                    for (int j = 0; j < actual->columns; ++j) {
                        const float want = (*expected)[r][j];
                        EXPECT_TRUE(want == (*actual)(r, j) || (std::isnan(want) && std::isnan((*actual)(r, j))));
                    }
            }
        }
    }
    LabelList labels;
    Matrix e, p;
    EXPECT_FALSE(readModelFile(dir.path() + "/missing", labels, e, p));
}
