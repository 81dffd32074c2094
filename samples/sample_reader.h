#pragma once

#include "samples/raster.h"

#include <QList>
#include <QString>

// The class label of a sample file: the base name up to its first "-", upper-cased.
QString labelFromFileName(const QString &fileName);

// Appends the labelled F-transform raster of every file in `directory`, in
// case-insensitive name order.
void readSampleDirectory(const QString &directory, QList<Raster> &samples);
