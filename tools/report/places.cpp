#include "tools/report/places.h"

#include "tools/command_line.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

namespace sorvik {

namespace {

// The command line as a shell would take it back: arguments quoted where they need it.
QString commandLine()
{
    QStringList words;
    for (const QString &argument : QCoreApplication::arguments())
        words << (argument.contains(QRegularExpression(QStringLiteral("^[A-Za-z0-9_./=:,+-]+$")))
                      ? argument
                      : QLatin1Char('\'') + QString(argument).replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\''));
    return words.join(QLatin1Char(' '));
}

} // namespace

Places parsePlaces(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("TEST_DIR"), QStringLiteral("test images named c-xxx.yyy; images without a class are predicted only"));
    parser.addPositionalArgument(QStringLiteral("MODEL"), QStringLiteral("a model file written by sorvik train or sorvik-tune"));
    parser.addOption({QStringLiteral("train"), QStringLiteral("the model's training directory: names the nearest training image of each test image"),
                      QStringLiteral("TRAIN_DIR")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("the folder of the report, outside the image directories (default: report)"),
                      QStringLiteral("DIR"), QStringLiteral("report")});
    parser.addOption({QStringLiteral("gallery"), QStringLiteral("misread images shown on the page (default: 100)"), QStringLiteral("N"), QStringLiteral("100")});
    parser.addOption({QStringLiteral("grid"), QStringLiteral("the JSON of a sorvik-tune run (--json): its table and choice go on the page"),
                      QStringLiteral("JSON")});
    parser.addOption({QStringLiteral("force"), QStringLiteral("write into a folder that holds entries but no report, replacing its files "
                                                              "of the report's names; what else it holds stays")});
    const QStringList arguments = parseCommandLine(
        parser, QStringLiteral("Classifies TEST_DIR with MODEL as sorvik class does and writes the answer for every image, "
                               "the figures of every class and a page with pictures into one folder."), 2);
    if (parser.value(QStringLiteral("out")).isEmpty())
        refuseCommandLine(QStringLiteral("--out needs the name of a folder"));
    Places places;
    places.testDirectory = arguments.at(0);
    places.modelFile = arguments.at(1);
    places.trainingDirectory = parser.value(QStringLiteral("train"));
    places.out = parser.value(QStringLiteral("out"));
    places.galleryLimit = integerOption(parser, QStringLiteral("gallery"), 0);
    places.force = parser.isSet(QStringLiteral("force"));
    places.grid = parser.value(QStringLiteral("grid"));
    return places;
}

ReportOrigin originOf(const Places &places)
{
    const auto absolute = [](const QString &path) { return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath(); };
    ReportOrigin origin;
    origin.date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    origin.version = QStringLiteral(SORVIK_VERSION);
    origin.command = commandLine();
    origin.testDirectory = absolute(places.testDirectory);
    origin.modelFile = absolute(places.modelFile);
    origin.trainingDirectory = absolute(places.trainingDirectory);
    origin.out = absolute(places.out);
    return origin;
}

} // namespace sorvik
