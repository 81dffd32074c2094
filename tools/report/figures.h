#pragma once

// The figures of a classification: accuracy, precision, recall, F1 and support of
// every class with their macro and weighted averages (as scikit-learn's
// classification_report computes them), the confusion matrix and the most
// frequent confusions, with their text and JSON forms.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace sorvik {

struct ClassFigures {
    QString label;
    double precision = 0;  // 0 where nothing was predicted as the class
    double recall = 0;     // 0 where the class has no test image
    double f1 = 0;         // 0 where precision and recall are both 0
    int support = 0;       // test images of the class
};

struct Confusion {
    QString actual;
    QString predicted;
    int count = 0;
};

struct Figures {
    int images = 0;
    int correct = 0;
    QStringList classes;                     // every true or predicted label, in code unit order
    std::vector<ClassFigures> perClass;      // in the order of `classes`
    ClassFigures macroAverage;               // unweighted mean over the classes
    ClassFigures weightedAverage;            // mean weighted by support
    std::vector<std::vector<int>> confusion; // [actual][predicted], indices into `classes`
    std::vector<Confusion> topConfusions;    // the ten most frequent, most first (then by labels)
};

// The success rate in per cent, formed as the console of `sorvik class` forms it.
double accuracyPercent(const Figures &figures);

// The classes among these labels, each once, in code unit order. A run of one
// class, as a listing in name order gives them, costs one comparison a label.
QStringList distinctClasses(const QStringList &labels);

Figures classificationFigures(const QStringList &actual, const QStringList &predicted);

// The layout of scikit-learn's classification report (two decimals), then the
// confusion matrix with class names and the ten most frequent confusions.
QByteArray figuresText(const Figures &figures);
// The JSON form, with the members of `more` beside the figures.
QByteArray figuresJson(const Figures &figures, const QJsonObject &more = {});

} // namespace sorvik
