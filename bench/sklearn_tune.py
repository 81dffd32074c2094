#!/usr/bin/python3
"""The parameter study a scikit-learn user writes: Pillow reads the images once,
numpy computes the F-transform features for each spacing, and GridSearchCV scores a
pipeline of PCA and a nearest-neighbour classifier over the component counts and
neighbour counts with StratifiedKFold(5). Prints the best configuration, its mean
accuracy and the seconds taken.

    sklearn_tune.py TRAIN_DIR SPACINGS KEEPS NEIGHBOURS      (lists: 1,2,3,4 0.1,0.3 1,3,5)
"""
import os
import sys
import time

import numpy as np
from PIL import Image
from sklearn.decomposition import PCA
from sklearn.model_selection import GridSearchCV, StratifiedKFold
from sklearn.neighbors import KNeighborsClassifier
from sklearn.pipeline import Pipeline


def weights(size, h, offset=2):
    table = (np.cos(np.pi * np.arange(h + 1) / h) + 1) * 0.5
    count = max(0, -(-(size - 2 * h - offset) // h))
    matrix = np.zeros((count, size))
    for i in range(count):
        for k in range(-h, h + 1):
            matrix[i, h + offset + i * h + k] = table[abs(k)]
    return matrix


def features(images, h):
    wy, wx = weights(images.shape[1], h), weights(images.shape[2], h)
    sums = np.einsum('iy,nyx,jx->nij', wy, images, wx)
    return np.floor(sums / np.outer(wy.sum(1), wx.sum(1))).reshape(len(images), -1)


start = time.time()
directory, spacings, keeps, neighbours = sys.argv[1], *[s.split(',') for s in sys.argv[2:5]]
names = sorted((n for n in os.listdir(directory) if not n.startswith('.')), key=str.lower)
images = np.stack([np.asarray(Image.open(os.path.join(directory, n)).convert('RGBA'), dtype=np.float64)[:, :, 2] for n in names])
labels = np.array([n.split('-')[0].upper() for n in names])
best = None
for h in map(int, spacings):
    x = features(images, h)
    grid = {'pca__n_components': sorted({max(1, int(round(x.shape[1] * float(k)))) for k in keeps}),
            'knn__n_neighbors': [int(n) for n in neighbours]}
    search = GridSearchCV(Pipeline([('pca', PCA()), ('knn', KNeighborsClassifier(algorithm='brute'))]), grid, cv=StratifiedKFold(5), n_jobs=1)
    search.fit(x, labels)
    if best is None or search.best_score_ > best[0]:
        best = (search.best_score_, h, search.best_params_)
print(f'best: spacing {best[1]}, {best[2]}: {100 * best[0]:.2f} %; {time.time() - start:.1f} s')
