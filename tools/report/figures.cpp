#include "tools/report/figures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <set>

namespace sorvik {

namespace {

double ratio(int part, int whole)
{
    return whole == 0 ? 0.0 : double(part) / whole;
}

double harmonicMean(double precision, double recall)
{
    return precision + recall == 0 ? 0.0 : 2 * precision * recall / (precision + recall);
}

QByteArray formatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
QByteArray formatted(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

QJsonObject classJson(const ClassFigures &c)
{
    return {{"precision", c.precision}, {"recall", c.recall}, {"f1-score", c.f1}, {"support", c.support}};
}

} // namespace

double accuracyPercent(const Figures &figures)
{
    return double(figures.correct) / figures.images * 100;
}

QStringList distinctClasses(const QStringList &labels)
{
    std::set<QString> classes;
    for (int i = 0; i < labels.size(); ++i)
        if (i == 0 || labels.at(i) != labels.at(i - 1))
            classes.insert(labels.at(i));
    return QStringList(classes.begin(), classes.end());
}

Figures classificationFigures(const QStringList &actual, const QStringList &predicted)
{
    Figures f;
    f.images = actual.size();
    f.classes = distinctClasses(actual + predicted);
    const int n = f.classes.size();
    const auto index = [&](const QString &label) { return int(std::lower_bound(f.classes.begin(), f.classes.end(), label) - f.classes.begin()); };
    f.confusion.assign(std::size_t(n), std::vector<int>(std::size_t(n), 0));
    for (int i = 0; i < actual.size(); ++i) {
        const int a = index(actual.at(i)), p = index(predicted.at(i));
        ++f.confusion[std::size_t(a)][std::size_t(p)];
        f.correct += a == p;
    }
    for (int c = 0; c < n; ++c) {
        int truePositives = f.confusion[std::size_t(c)][std::size_t(c)], predictedCount = 0, support = 0;
        for (int o = 0; o < n; ++o) {
            predictedCount += f.confusion[std::size_t(o)][std::size_t(c)];
            support += f.confusion[std::size_t(c)][std::size_t(o)];
        }
        ClassFigures figures{f.classes.at(c), ratio(truePositives, predictedCount), ratio(truePositives, support), 0, support};
        figures.f1 = harmonicMean(figures.precision, figures.recall);
        f.perClass.push_back(figures);
    }
    // Means summed in class order, as numpy sums these short arrays.
    f.macroAverage.label = QStringLiteral("macro avg");
    f.weightedAverage.label = QStringLiteral("weighted avg");
    for (const ClassFigures &c : f.perClass) {
        f.macroAverage.precision += c.precision;
        f.macroAverage.recall += c.recall;
        f.macroAverage.f1 += c.f1;
        f.weightedAverage.precision += c.precision * c.support;
        f.weightedAverage.recall += c.recall * c.support;
        f.weightedAverage.f1 += c.f1 * c.support;
    }
    for (ClassFigures *average : {&f.macroAverage, &f.weightedAverage}) {
        const double divisor = average == &f.macroAverage ? n : f.images;
        average->precision = divisor == 0 ? 0 : average->precision / divisor;
        average->recall = divisor == 0 ? 0 : average->recall / divisor;
        average->f1 = divisor == 0 ? 0 : average->f1 / divisor;
        average->support = f.images;
    }
    for (int a = 0; a < n; ++a)
        for (int p = 0; p < n; ++p)
            if (a != p && f.confusion[std::size_t(a)][std::size_t(p)] > 0)
                f.topConfusions.push_back({f.classes.at(a), f.classes.at(p), f.confusion[std::size_t(a)][std::size_t(p)]});
    std::stable_sort(f.topConfusions.begin(), f.topConfusions.end(), [](const Confusion &x, const Confusion &y) { return x.count > y.count; });
    if (f.topConfusions.size() > 10)
        f.topConfusions.resize(10);
    return f;
}

QByteArray figuresText(const Figures &f)
{
    int width = QStringLiteral("weighted avg").size();
    for (const QString &label : f.classes)
        width = std::max(width, label.size());
    const auto row = [&](const ClassFigures &c) {
        return QByteArray(std::max(0, width - c.label.size()), ' ') + c.label.toUtf8()
            + formatted("  %9.2f %9.2f %9.2f %9d\n", c.precision, c.recall, c.f1, c.support);
    };
    QByteArray text = QByteArray(std::size_t(width), ' ') + formatted("  %9s %9s %9s %9s\n\n", "precision", "recall", "f1-score", "support");
    for (const ClassFigures &c : f.perClass)
        text += row(c);
    text += '\n';
    text += QByteArray(width - 8, ' ') + formatted("accuracy  %9s %9s %9.2f %9d\n", "", "", ratio(f.correct, f.images), f.images);
    text += row(f.macroAverage) + row(f.weightedAverage);

    text += "\nconfusion matrix (rows: actual class, columns: predicted class)\n";
    int cell = 1;
    for (const auto &counts : f.confusion)
        for (int count : counts)
            cell = std::max(cell, int(QByteArray::number(count).size()));
    for (const QString &label : f.classes)
        cell = std::max(cell, label.size());
    const auto padded = [&](const QString &text, int to) { return QByteArray(std::max(0, to - text.size()), ' ') + text.toUtf8(); };
    text += QByteArray(std::size_t(width), ' ');
    for (const QString &label : f.classes)
        text += ' ' + padded(label, cell);
    text += '\n';
    for (int a = 0; a < f.classes.size(); ++a) {
        text += padded(f.classes.at(a), width);
        for (int count : f.confusion[std::size_t(a)])
            text += ' ' + padded(QString::number(count), cell);
        text += '\n';
    }
    text += "\nmost frequent confusions (actual -> predicted: images)\n";
    for (const Confusion &c : f.topConfusions)
        text += c.actual.toUtf8() + " -> " + c.predicted.toUtf8() + ": " + QByteArray::number(c.count) + '\n';
    if (f.topConfusions.empty())
        text += "none\n";
    return text;
}

QByteArray figuresJson(const Figures &f, const QJsonObject &more)
{
    QJsonObject classes;
    for (const ClassFigures &c : f.perClass)
        classes.insert(c.label, classJson(c));
    QJsonArray matrix;
    for (const auto &counts : f.confusion) {
        QJsonArray row;
        for (int count : counts)
            row.append(count);
        matrix.append(row);
    }
    QJsonArray confusions;
    for (const Confusion &c : f.topConfusions)
        confusions.append(QJsonObject{{"actual", c.actual}, {"predicted", c.predicted}, {"count", c.count}});
    QJsonObject root{
        {"images", f.images},
        {"correct", f.correct},
        {"accuracy", ratio(f.correct, f.images)},
        {"classes", QJsonArray::fromStringList(f.classes)},
        {"per_class", classes},
        {"macro avg", classJson(f.macroAverage)},
        {"weighted avg", classJson(f.weightedAverage)},
        {"confusion_matrix", matrix},
        {"top_confusions", confusions},
    };
    for (auto item = more.begin(); item != more.end(); ++item)
        root.insert(item.key(), item.value());
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace sorvik
