#include "linalg/nearest.h"

int nearestRowReference(const Matrix &stored, const float *query)
{
    int best = 0;
    float bestDistance = 9e30f;
    for (int r = 0; r < stored.rows; ++r) {
        const float *row = stored.row(r);
        float distance = 0;
        for (int j = 0; j < stored.columns; ++j) {
            const double difference = double(row[j]) - double(query[j]);
            distance = float(distance + difference * difference);
        }
        if (distance < bestDistance) {
            bestDistance = distance;
            best = r;
        }
    }
    return best;
}

int nearestRow(const Matrix &stored, const float *query)
{
    return nearestRowReference(stored, query);
}
