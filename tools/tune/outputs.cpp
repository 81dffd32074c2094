#include "tools/tune/outputs.h"

#include "tools/grid.h"

#include "base/opening.h"
#include "base/whole_file.h"
#include "model/model_problem.h"

#include <QFile>

#include <sys/stat.h>

namespace sorvik {

namespace {

bool holdsModel(const QString &path)
{
    LabelList labels;
    Matrix components, projections;
    ModelFileReport report;
    return readModelFile(path, labels, components, projections, &report) && modelProblem(components, projections, report).isEmpty();
}

bool holdsTable(const QString &path)
{
    QByteArray json;
    std::vector<Scored> grid;
    Scored best;
    return readUpTo(path, qint64(64) << 20, json) && readGridJson(json, grid, best) != GridFile::NotGrid;
}

} // namespace

QString outputObstacle(const QString &path, Output output)
{
    const QString obstacle = wholeFileObstacle(path);
    if (!obstacle.isEmpty())
        return obstacle;
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0)
        return QString();
    if (output == Output::Model ? holdsModel(path) : holdsTable(path))
        return QString();
    return output == Output::Model ? QStringLiteral("it holds something other than a model; give --model a new name or move it away")
                                   : QStringLiteral("it holds something other than a tuning's table; give --json a new name or move it away");
}

} // namespace sorvik
