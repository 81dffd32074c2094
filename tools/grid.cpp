#include "tools/grid.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace sorvik {

namespace {

bool readScored(const QJsonValue &value, Scored &s)
{
    const QJsonObject o = value.toObject();
    s.spacing = o.value(QStringLiteral("spacing")).toInt(-1);
    s.features = o.value(QStringLiteral("features")).toInt(-1);
    s.components = o.value(QStringLiteral("components")).toInt(-1);
    s.neighbours = o.value(QStringLiteral("neighbours")).toInt(-1);
    s.accuracy = o.value(QStringLiteral("accuracy")).toDouble(NAN);
    s.sd = o.value(QStringLiteral("sd")).toDouble(NAN);
    // Every figure of a hostile file is held to what a tuning can give.
    return s.spacing >= 1 && s.spacing <= 64 && s.features >= 1 && s.components >= 1 && s.components <= s.features && s.neighbours >= 1
           && s.accuracy >= 0 && s.accuracy <= 100 && s.sd >= 0 && s.sd <= 100;
}

} // namespace

QJsonObject scoredJson(const Scored &s)
{
    return {{"spacing", s.spacing}, {"features", s.features}, {"components", s.components}, {"neighbours", s.neighbours},
            {"accuracy", s.accuracy}, {"sd", s.sd}};
}

QByteArray gridJson(const std::vector<Scored> &grid, const Scored &best)
{
    QJsonArray rows;
    for (const Scored &s : grid)
        rows.append(scoredJson(s));
    return QJsonDocument(QJsonObject{{"grid", rows}, {"best", scoredJson(best)}}).toJson();
}

GridFile readGridJson(const QByteArray &json, std::vector<Scored> &grid, Scored &best)
{
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonValue rows = root.value(QStringLiteral("grid"));
    grid.clear();
    for (const QJsonValue &row : rows.toArray()) {
        Scored s;
        if (!readScored(row, s))
            return GridFile::NotGrid;
        grid.push_back(s);
    }
    if (rows.isArray() && grid.empty()) {
        QJsonObject chosen = root.value(QStringLiteral("best")).toObject();
        chosen.insert(QStringLiteral("accuracy"), 0);  // a configuration trained unscored has neither
        chosen.insert(QStringLiteral("sd"), 0);
        Scored s;
        return readScored(chosen, s) ? GridFile::Unscored : GridFile::NotGrid;
    }
    return !grid.empty() && grid.size() <= 100000 && readScored(root.value(QStringLiteral("best")), best) ? GridFile::Read : GridFile::NotGrid;
}

} // namespace sorvik
