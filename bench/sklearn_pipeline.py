#!/usr/bin/python3
"""The same pipeline written the way a Python user would: Pillow reads the images,
numpy computes the F-transform features (raised-cosine weights, h = 4), scikit-learn
keeps 85 % of the features as principal components and labels every test image by
its nearest training sample (brute-force 1-NN).

    sklearn_pipeline.py train TRAIN_DIR MODEL
    sklearn_pipeline.py class TEST_DIR MODEL
"""
import os
import pickle
import sys
import time

import numpy as np
from PIL import Image
from sklearn.decomposition import PCA
from sklearn.neighbors import KNeighborsClassifier

H, OFFSET = 4, 2
TABLE = ((np.cos(np.pi * np.arange(H + 1) / H) + 1) * 0.5).astype(np.float32).astype(np.float64)


def weight_matrix(size):
    count = max(0, -(-(size - 2 * H - OFFSET) // H))
    matrix = np.zeros((count, size))
    for i in range(count):
        node = H + OFFSET + i * H
        for k in range(-H, H + 1):
            matrix[i, node + k] = TABLE[abs(k)]
    return matrix


def read_directory(directory):
    names = sorted((n for n in os.listdir(directory) if not n.startswith('.')), key=str.lower)
    features, labels, weights = [], [], {}
    for name in names:
        pixels = np.asarray(Image.open(os.path.join(directory, name)).convert('RGBA'), dtype=np.float64)[:, :, 2]
        height, width = pixels.shape
        if (width, height) not in weights:
            wy, wx = weight_matrix(height), weight_matrix(width)
            weights[(width, height)] = (wy, wx, wy.sum(axis=1)[:, None] * wx.sum(axis=1)[None, :])
        wy, wx, total = weights[(width, height)]
        features.append(np.floor(wy @ pixels @ wx.T / total).ravel())
        labels.append(name.split('.')[0].split('-')[0].upper())
    return np.array(features, dtype=np.float32), np.array(labels)


def main():
    command, directory, model = sys.argv[1:4]
    start = time.perf_counter()
    features, labels = read_directory(directory)
    read = time.perf_counter()
    if command == 'train':
        pca = PCA(n_components=int(np.floor(features.shape[1] * 0.85 + 0.5)), svd_solver='full')
        projections = pca.fit_transform(features)
        knn = KNeighborsClassifier(n_neighbors=1, algorithm='brute').fit(projections, labels)
        with open(model, 'wb') as f:
            pickle.dump((pca, knn), f)
        print(f'read {len(labels)} images in {read - start:.3f} s, trained in {time.perf_counter() - read:.3f} s')
    else:
        with open(model, 'rb') as f:
            pca, knn = pickle.load(f)
        predicted = knn.predict(pca.transform(features))
        rate = 100.0 * np.mean(predicted == labels)
        print(f'read {len(labels)} images in {read - start:.3f} s, recognised in {time.perf_counter() - read:.3f} s, '
              f'succ rate {rate:.6f}%')


if __name__ == '__main__':
    main()
