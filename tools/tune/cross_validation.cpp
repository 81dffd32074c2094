#include "tools/tune/cross_validation.h"

#include "tools/tune/tuning_arithmetic.h"

#include "base/parallel.h"
#include "linalg/pca.h"
#include "search/neighbours.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <map>

namespace sorvik {

namespace {

std::vector<int> classesOf(const QList<Raster> &images)
{
    QHash<QString, int> classes;
    std::vector<int> classOf;
    for (const Raster &image : images)
        classOf.push_back(classes.insert(image.label, classes.value(image.label, classes.size())).value());
    return classOf;
}

// The features of every image at one spacing, one byte each.
ByteRows featuresAt(const QList<Raster> &images, int spacing)
{
    const Transform transform{spacing, transformOffsetX, transformOffsetY};
    const Raster first = fTransform(images.first(), transform);
    ByteRows x;
    x.rows = images.size();
    x.columns = first.width * first.height;
    x.values.resize(std::size_t(x.rows) * std::size_t(x.columns));
    forEachIndex(x.rows, [&](int i) {
        const Raster r = fTransform(images.at(i), transform);
        std::copy(r.data.begin(), r.data.end(), x.values.begin() + std::ptrdiff_t(i) * x.columns);
    }, 64);
    return x;
}

// The rows of `x` in the fold and out of it.
Matrix rowsOf(const Matrix &x, const std::vector<int> &picked)
{
    Matrix part(int(picked.size()), x.columns);
    for (std::size_t i = 0; i < picked.size(); ++i)
        std::copy(x.row(picked[i]), x.row(picked[i]) + x.columns, part.row(int(i)));
    return part;
}

// How many images of the fold each configuration of one spacing reads right:
// correct[c][v] for component count c and neighbour count v.
std::vector<std::vector<int>> foldCorrect(const ByteRows &x, const Gram &all, const std::vector<int> &classOf, const std::vector<int> &inFold,
                                          const std::vector<int> &components, const std::vector<int> &neighbours)
{
    std::vector<int> training;
    for (int i = 0; i < x.rows; ++i)
        if (!std::binary_search(inFold.begin(), inFold.end(), i))
            training.push_back(i);
    const Matrix e = principalComponents(covarianceWithout(all, gramOf(x, inFold)), components.back());
    const Matrix p = projectRows(x, e, components.back());
    const int most = *std::max_element(neighbours.begin(), neighbours.end());
    const Neighbours nearest = nearestOverPrefixes(rowsOf(p, training), rowsOf(p, inFold), components, most);
    std::vector<int> trainingClass;
    for (const int t : training)
        trainingClass.push_back(classOf[std::size_t(t)]);
    std::vector<std::vector<int>> correct(components.size(), std::vector<int>(neighbours.size(), 0));
    for (std::size_t q = 0; q < inFold.size(); ++q)
        for (std::size_t c = 0; c < components.size(); ++c)
            for (std::size_t v = 0; v < neighbours.size(); ++v) {
                std::vector<int> rows(nearest[q][c].begin(), nearest[q][c].begin() + std::min<std::ptrdiff_t>(neighbours[v], std::ptrdiff_t(nearest[q][c].size())));
                const int voted = rows[std::size_t(votedPosition(rows, trainingClass))];
                correct[c][v] += trainingClass[std::size_t(voted)] == classOf[std::size_t(inFold[q])];
            }
    return correct;
}

} // namespace

std::vector<int> foldsOf(const QList<Raster> &images, int folds)
{
    std::map<QString, int> seen;
    std::vector<int> fold;
    for (const Raster &image : images)
        fold.push_back(folds > 0 ? seen[image.label]++ % folds : 0);
    return fold;
}

QString gridProblem(const QList<Raster> &images, const Grid &grid)
{
    if (grid.folds > images.size())  // said before a count of every fold is made
        return QStringLiteral("cannot tune: %1 images make %2 folds, more folds than images; give fewer --folds").arg(images.size()).arg(grid.folds);
    // Fold f takes image f, f + folds, ... of every class: it holds none when no
    // class has more than f images.
    std::map<QString, int> classSizes;
    for (const Raster &image : images)
        ++classSizes[image.label];
    int largest = 0;
    for (const auto &[label, size] : classSizes)
        largest = std::max(largest, size);
    const QString alone = QStringLiteral("give more images, or --folds 0 and one value of each list to train one configuration unscored");
    if (grid.folds > largest)
        return largest >= 2 ? QStringLiteral("cannot tune: the largest class has %1 images, so fold %2 of the %3, drawn within each class, holds none; "
                                             "give at most %1 --folds").arg(largest).arg(largest + 1).arg(grid.folds)
                            : QStringLiteral("cannot tune: every class has one image, so fold 2 of the %1, drawn within each class, holds none; %2")
                                  .arg(grid.folds).arg(alone);
    std::vector<int> sizes(std::size_t(grid.folds), 0);
    for (const int f : grid.folds > 0 ? foldsOf(images, grid.folds) : std::vector<int>())
        ++sizes[std::size_t(f)];
    for (int f = 0; f < grid.folds; ++f)
        if (images.size() - sizes[std::size_t(f)] < 2)
            return QStringLiteral("cannot tune: fold %1 holds %2 of the %3 images and leaves fewer than two to train on; %4")
                .arg(f + 1).arg(sizes[std::size_t(f)]).arg(images.size()).arg(alone);
    for (const int s : grid.spacings) {
        const Transform t{s, transformOffsetX, transformOffsetY};
        if (images.first().width < leastSide(t) || images.first().height < leastSide(t))
            return QStringLiteral("cannot tune: images of %1 x %2 pixels give no component at spacing %3; they need at least %4 x %4")
                .arg(images.first().width).arg(images.first().height).arg(s).arg(leastSide(t));
    }
    return QString();
}

std::vector<Scored> crossValidate(const QList<Raster> &images, const Grid &grid, const Step &step)
{
    const std::vector<int> classOf = classesOf(images), fold = foldsOf(images, grid.folds);
    std::vector<Scored> scored;
    for (const int spacing : grid.spacings) {
        const ByteRows x = featuresAt(images, spacing);
        std::vector<int> components;
        for (const double keep : grid.keeps)
            components.push_back(keptComponentCount(x.columns, keep));
        std::sort(components.begin(), components.end());
        components.erase(std::unique(components.begin(), components.end()), components.end());
        std::vector<int> everyRow(std::size_t(x.rows));
        for (int i = 0; i < x.rows; ++i)
            everyRow[std::size_t(i)] = i;
        const Gram all = gramOf(x, everyRow);
        // accuracy[c][v][f] in per cent
        std::vector<std::vector<std::vector<double>>> accuracy(components.size(), std::vector<std::vector<double>>(grid.neighbours.size()));
        for (int f = 0; f < grid.folds; ++f) {
            std::vector<int> inFold;
            for (int i = 0; i < x.rows; ++i)
                if (fold[std::size_t(i)] == f)
                    inFold.push_back(i);
            const auto correct = foldCorrect(x, all, classOf, inFold, components, grid.neighbours);
            for (std::size_t c = 0; c < components.size(); ++c)
                for (std::size_t v = 0; v < grid.neighbours.size(); ++v)
                    accuracy[c][v].push_back(100.0 * correct[c][v] / double(inFold.size()));
            if (step)
                step(spacing, f);
        }
        for (std::size_t c = 0; c < components.size(); ++c)
            for (std::size_t v = 0; v < grid.neighbours.size(); ++v) {
                const std::vector<double> &a = accuracy[c][v];
                double mean = 0, squares = 0;
                for (const double value : a)
                    mean += value;
                mean /= double(a.size());
                for (const double value : a)
                    squares += (value - mean) * (value - mean);
                double keep = 0;
                for (const double k : grid.keeps)
                    if (keptComponentCount(x.columns, k) == components[c] && keep == 0)
                        keep = k;
                scored.push_back({spacing, x.columns, components[c], keep, grid.neighbours[v], mean, std::sqrt(squares / double(a.size()))});
            }
    }
    return scored;
}

Scored bestOf(const std::vector<Scored> &scored)
{
    const auto better = [](const Scored &a, const Scored &b) {
        if (a.accuracy != b.accuracy)
            return a.accuracy > b.accuracy;
        if (a.components != b.components)
            return a.components < b.components;
        if (a.features != b.features)
            return a.features < b.features;
        return a.neighbours < b.neighbours;
    };
    return scored.empty() ? Scored() : *std::min_element(scored.begin(), scored.end(), better);
}

} // namespace sorvik
