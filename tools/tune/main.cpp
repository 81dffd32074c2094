// sorvik-tune: which F-transform spacing, share of components and number of
// neighbours read the characters of a training directory best. Stratified
// cross-validation over a grid, one row of the table per configuration, then the
// best configuration trained on the whole directory and written as a model.

#include "tools/command_line.h"
#include "tools/tune/cross_validation.h"
#include "tools/tune/outputs.h"

#include "base/heap_tuning.h"
#include "base/printable_name.h"
#include "base/run_end.h"
#include "base/whole_file.h"
#include "model/model_writer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <iostream>

#include <unistd.h>

using namespace sorvik;

namespace {

struct Options {
    QString directory, modelFile, jsonFile;
    Grid grid;
    bool spacingsGiven = false;
};

// A comma-separated list of numbers, each checked by `valid`; refused as a wrong command line.
template <class Number, class Convert, class Valid>
std::vector<Number> listOption(const QCommandLineParser &parser, const QString &name, const Convert &convert, const Valid &valid, const QString &expected)
{
    std::vector<Number> values;
    for (const QString &item : parser.value(name).split(QLatin1Char(','))) {
        bool ok = false;
        const Number value = convert(item, ok);
        if (!ok || !valid(value))
            refuseCommandLine(QStringLiteral("--%1 takes %2 separated by commas, not \"%3\"").arg(name, expected, parser.value(name)));
        values.push_back(value);
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

// Whether two paths name one file: the same file where both are, else the same
// name in the same folder (links followed).
bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo x(a), y(b);
    if (x.exists() && y.exists())
        return x.canonicalFilePath() == y.canonicalFilePath();
    return x.fileName() == y.fileName() && QFileInfo(x.absolutePath()).canonicalFilePath() == QFileInfo(y.absolutePath()).canonicalFilePath();
}

Options parseOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("TRAIN"), QStringLiteral("a training directory of images named c-xxx.yyy"));
    parser.addOption({QStringLiteral("spacing"), QStringLiteral("node spacings to try (default: 1 up to the largest that gives two nodes a side, at most 8)"),
                      QStringLiteral("LIST")});
    parser.addOption({QStringLiteral("keep"), QStringLiteral("shares of the features kept as components (default 0.1,0.2,0.3,0.5,0.85)"),
                      QStringLiteral("LIST"), QStringLiteral("0.1,0.2,0.3,0.5,0.85")});
    parser.addOption({QStringLiteral("neighbours"), QStringLiteral("numbers of nearest rows that vote (default 1,3,5)"), QStringLiteral("LIST"),
                      QStringLiteral("1,3,5")});
    parser.addOption({QStringLiteral("folds"), QStringLiteral("folds of the cross-validation, or 0 to train one configuration (default 5)"),
                      QStringLiteral("N"), QStringLiteral("5")});
    parser.addOption({QStringLiteral("model"), QStringLiteral("where the best model is written (default tuned.out)"), QStringLiteral("PATH"),
                      QStringLiteral("tuned.out")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("also write the table and the choice as JSON"), QStringLiteral("PATH")});
    const QStringList arguments = parseCommandLine(
        parser, QStringLiteral("Scores every configuration of spacing, components and neighbours by stratified cross-validation on TRAIN, "
                               "then trains the best on all of TRAIN and writes it."), 1);
    Options options;
    options.directory = arguments.at(0);
    options.modelFile = parser.value(QStringLiteral("model"));
    options.jsonFile = parser.value(QStringLiteral("json"));
    const auto toInt = [](const QString &s, bool &ok) { return s.toInt(&ok); };
    const auto toDouble = [](const QString &s, bool &ok) { return s.toDouble(&ok); };
    options.spacingsGiven = parser.isSet(QStringLiteral("spacing"));
    if (options.spacingsGiven)
        options.grid.spacings = listOption<int>(parser, QStringLiteral("spacing"), toInt, [](int v) { return v >= 1 && v <= 64; }, QStringLiteral("spacings of 1 to 64"));
    options.grid.keeps = listOption<double>(parser, QStringLiteral("keep"), toDouble, [](double v) { return v > 0 && v <= 1; },
                                            QStringLiteral("shares above 0 and at most 1"));
    options.grid.neighbours = listOption<int>(parser, QStringLiteral("neighbours"), toInt, [](int v) { return v >= 1 && v <= 1000; },
                                              QStringLiteral("counts of 1 to 1000"));
    options.grid.folds = integerOption(parser, QStringLiteral("folds"), 0);
    if (options.grid.folds == 1)
        refuseCommandLine(QStringLiteral("--folds takes 0 (train one configuration) or 2 and more"));
    if (options.grid.folds == 0 && (options.grid.keeps.size() > 1 || options.grid.neighbours.size() > 1 || options.grid.spacings.size() > 1))
        refuseCommandLine(QStringLiteral("--folds 0 trains one configuration: give one value to each of --spacing, --keep and --neighbours"));
    if (options.modelFile.isEmpty())
        refuseCommandLine(QStringLiteral("--model needs the name of a file"));
    if (!options.jsonFile.isEmpty() && sameFile(options.jsonFile, options.modelFile))  // the table would take the model's place
        refuseCommandLine(QStringLiteral("--json and --model name the same file; give each its own"));
    return options;
}

// Every spacing from 1 that gives at least two nodes a side on images of this size, at most 8.
std::vector<int> defaultSpacings(int width, int height)
{
    std::vector<int> spacings;
    for (int s = 1; s <= 8; ++s)
        if (componentCount(std::min(width, height), s, transformOffsetX) >= 2)
            spacings.push_back(s);
    return spacings;
}

// Progress on standard error while a person watches, with the time left.
Step progressStep(const QList<Raster> &images, const Grid &grid)
{
    if (!isatty(STDERR_FILENO))
        return {};
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    // A fold's work grows with the square of the features.
    auto weights = std::make_shared<std::vector<std::pair<int, double>>>();
    double total = 0;
    for (const int s : grid.spacings) {
        const double m = double(componentCount(images.first().width, s, transformOffsetX)) * componentCount(images.first().height, s, transformOffsetY);
        weights->push_back({s, m * m + 1000});
        total += grid.folds * (m * m + 1000);
    }
    auto done = std::make_shared<double>(0);
    return [=](int spacing, int fold) {
        for (const auto &[s, w] : *weights)
            if (s == spacing)
                *done += w;
        const double left = double(timer->elapsed()) / 1000 * (total - *done) / *done;
        std::cerr << "sorvik-tune: spacing " << spacing << ", fold " << fold + 1 << " of " << grid.folds << " scored; "
                  << (*done >= total ? "training the best configuration on every image"
                      : left < 0.5   ? "under a second left"
                                     : "about " + std::to_string(int(left + 0.5)) + " s left")
                  << "\n";
    };
}

bool fixedRecipeRow(const Scored &s)
{
    return s.spacing == transformH && s.neighbours == 1 && s.components == keptComponentCount(s.features);
}

void printTable(const std::vector<Scored> &scored, const Scored &best)
{
    std::printf("spacing  features  components  neighbours  accuracy      sd\n");
    for (const Scored &s : scored) {
        const bool isBest = s.spacing == best.spacing && s.components == best.components && s.neighbours == best.neighbours;
        std::printf("%7d  %8d  %10d  %10d  %7.2f %%  %6.2f%s%s\n", s.spacing, s.features, s.components, s.neighbours, s.accuracy, s.sd,
                    isBest ? "  best" : "", fixedRecipeRow(s) ? "  fixed recipe" : "");
    }
}

// The best configuration, trained on the whole directory by the recipe's own code.
Model trainBest(const QList<Raster> &images, const Scored &best)
{
    Recipe recipe;
    recipe.parameters.spacing = best.spacing;
    recipe.parameters.neighbours = best.neighbours;
    recipe.keep = best.keep;
    QList<Raster> samples;
    for (const Raster &image : images) {
        samples.append(fTransform(image, transformOf(recipe.parameters)));
        samples.last().label = image.label;
    }
    return trainOnSamples(samples, {}, recipe);
}

// The training images, each as large as the smallest spacing given needs; where
// none is, they are read as any spacing takes them, so that the spacing, not
// every image, is named as what does not fit.
void readTrainingImages(const Options &options, QList<Raster> &images, DirectoryReport &report)
{
    const int smallest = options.spacingsGiven ? options.grid.spacings.front() : 1;
    readGreyDirectory(options.directory, images, &report, Transform{smallest, transformOffsetX, transformOffsetY});
    if (images.isEmpty() && smallest > 1) {
        report = DirectoryReport();
        readGreyDirectory(options.directory, images, &report, Transform{1, transformOffsetX, transformOffsetY});
    }
}

// Ends the run with one line on standard output.
[[noreturn]] void refuse(const QString &line)
{
    std::cout << line.toStdString() << "\n";
    flushConsole();
    std::_Exit(1);
}

QString cannotWrite(const QString &path, const QString &reason)
{
    return QStringLiteral("cannot write %1: %2").arg(printableName(path), reason);
}

// Ends the run when the model or the table cannot be written, or would replace a
// file of the user's: said before the tuning, not after it.
void refuseUnwritable(const Options &options)
{
    for (const QString &path : {options.modelFile, options.jsonFile}) {
        const QString obstacle = path.isEmpty() ? QString() : outputObstacle(path, path == options.modelFile ? Output::Model : Output::Table);
        if (!obstacle.isEmpty())
            refuse(cannotWrite(path, obstacle));
    }
}

// The configuration to train: the best of the grid, its table printed, or with
// --folds 0 the one that the lists give, unscored.
Scored chosenConfiguration(const QList<Raster> &images, const Grid &grid, std::vector<Scored> &scored)
{
    Scored best;
    if (grid.folds == 0) {
        best.spacing = grid.spacings.front();
        best.keep = grid.keeps.front();
        best.neighbours = grid.neighbours.front();
        best.accuracy = best.sd = NAN;  // not measured: null in the JSON
        return best;
    }
    scored = crossValidate(images, grid, progressStep(images, grid));
    best = bestOf(scored);
    printTable(scored, best);
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    beginTool();
    tuneHeap();
    QCoreApplication app(argc, argv);
    nameTool("sorvik-tune");
    QCommandLineParser parser;
    Options options = parseOptions(parser);
    refuseUnwritable(options);

    QList<Raster> images;
    DirectoryReport report;
    readTrainingImages(options, images, report);
    for (const SkippedFile &file : report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    QString problem = trainingProblem(options.directory, images, report);
    if (problem.isEmpty() && !options.spacingsGiven)
        options.grid.spacings = defaultSpacings(images.first().width, images.first().height);
    if (problem.isEmpty())
        problem = gridProblem(images, options.grid);
    if (!problem.isEmpty())
        refuse(problem.replace(QLatin1String("cannot train:"), QLatin1String("cannot tune:")));

    std::vector<Scored> scored;
    Scored best = chosenConfiguration(images, options.grid, scored);
    flushConsole();

    const Model model = trainBest(images, best);
    best.features = model.components.rows;
    best.components = model.components.columns;
    std::cout << "trained: spacing " << best.spacing << ", "
              << QStringList{counted(model.components.rows, "feature"), counted(model.components.columns, "component"), counted(best.neighbours, "neighbour")}
                     .join(QStringLiteral(", ")).toStdString() << "\n";
    QString reason;
    if (!writeModelFile(options.modelFile, model, &reason))
        refuse(cannotWrite(options.modelFile, reason));
    std::cout << "model written to " << printableName(options.modelFile).toStdString() << "\n";
    flushConsole();  // before a table sent to the same output
    if (!options.jsonFile.isEmpty() && !writeWholeFile(options.jsonFile, gridJson(scored, best), reason))
        refuse(cannotWrite(options.jsonFile, reason));
    std::_Exit(consoleStatus(0));
}
