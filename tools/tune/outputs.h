#pragma once

// The files a tuning writes, checked before the tuning begins.

#include <QString>

namespace sorvik {

enum class Output { Model, Table };

// Why `path` cannot take the model or the table's JSON, or an empty string: it
// cannot be written, or a regular file there holds something else than what
// this program writes to it (a model that serves, a tuning's table), which is the
// user's and is never replaced. An empty file may be; pipes and devices are
// written where they stand.
QString outputObstacle(const QString &path, Output output);

} // namespace sorvik
