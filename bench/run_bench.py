#!/usr/bin/python3
"""Runs the stage micro-benchmarks and the whole commands on every data set and
prints the tables of the README's Performance section (markdown).

    run_bench.py BUILD_DIR DIGITS DIGITS60K GLYPHS64 GLYPHS128
"""
import json
import os
import platform
import re
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
SETS = [('digits 28 x 28', sys.argv[2]), ('digits 60k 28 x 28', sys.argv[3]),
        ('glyphs 64 x 64', sys.argv[4]), ('glyphs 128 x 128', sys.argv[5])]
SORVIK = os.path.join(BUILD, 'sorvik')
REFERENCE = os.path.join(BUILD, 'sorvik-reference')
REPORT = os.path.join(BUILD, 'tools', 'sorvik-report')
LABEL = os.path.join(BUILD, 'tools', 'sorvik-label')
TUNE = os.path.join(BUILD, 'tools', 'sorvik-tune')
SKLEARN_TUNE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'sklearn_tune.py')
FLOOR = os.path.join(BUILD, 'bench', 'sorvik-read-floor')
SKLEARN = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'sklearn_pipeline.py')
# Every core for the Python pipeline too, as sorvik uses them; OpenBLAS picks its own kernel for this processor.
PYTHON_ENV = {k: v for k, v in os.environ.items() if k not in ('OPENBLAS_CORETYPE', 'OPENBLAS_L2_SIZE')}
PYTHON_ENV.update(OMP_NUM_THREADS=str(os.cpu_count()), OPENBLAS_NUM_THREADS=str(os.cpu_count()), MKL_NUM_THREADS=str(os.cpu_count()))


def timed(command, cwd, env=None):
    """Wall seconds, peak resident MB and standard output of one run (GNU time -v)."""
    with tempfile.NamedTemporaryFile('r') as log:
        out = subprocess.run(['/usr/bin/time', '-v', '-o', log.name] + command, cwd=cwd, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        text = log.read()
    wall = re.search(r'Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)', text)
    seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
    peak = int(re.search(r'Maximum resident set size \(kbytes\): (\d+)', text).group(1)) / 1024
    return seconds, peak, out


def best_of(runs, command, cwd, env=None):
    results = [timed(command, cwd, env) for _ in range(runs)]
    return min(results, key=lambda r: r[0])


def masked(report):
    return re.sub(r'\d+ms', 'Tms', re.sub(r'\d+\.\d{6}ms', 'T.TTTTTTms', report))


def count_files(path):
    return len([n for n in os.listdir(path) if not n.startswith('.')])


def stages():
    # Repetitions interleaved at random, so that a drift of the shared machine
    # reaches a fast path and its plain one alike.
    out = subprocess.run([os.path.join(BUILD, 'bench', 'sorvik-bench'), '--benchmark_format=json',
                          '--benchmark_min_time=0.2', '--benchmark_enable_random_interleaving=true'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    times = {}
    for b in json.loads(out)['benchmarks']:
        if b.get('run_type', 'iteration') != 'iteration':
            continue
        name = b.get('run_name', b['name']).replace('/iterations:1', '').replace('/repeats:3', '')
        time = b['real_time'] * {'ms': 1, 'us': 1e-3, 'ns': 1e-6}[b['time_unit']]
        times[name] = min(time, times.get(name, time))  # the best of the repetitions
    return times


def main():
    with open('/proc/cpuinfo') as info:
        model = next((line.split(':', 1)[1].strip() for line in info if line.startswith('model name')), platform.machine())
    print(f'Machine: {model}, {os.cpu_count()} cores; {time.strftime("%Y-%m-%d")}. sorvik reads and transforms images, sums the '
          'covariance and the product and searches on every core, in the micro-benchmarks too; Qt decoding, JAMA and the plain '
          'kernels run on one.')
    print()

    s = stages()
    print('Stage micro-benchmarks (ms; fast path beside the plain rule-by-rule loop):\n')
    print('| stage | shape | sorvik | plain | speed-up |')
    print('|---|---|---:|---:|---:|')
    pairs = [('covariance', 'BM_Covariance', 'BM_CovarianceReference', ['8004/25', '60000/25', '2880/196', '2880/900']),
             ('projection', 'BM_Projection', 'BM_ProjectionReference', ['8004/25', '60000/25', '2880/196', '2880/900']),
             ('nearest rows', 'BM_NearestRow', 'BM_NearestRowReference', ['60000/25/200', '2880/196/200', '2880/900/50'])]
    for name, fast, plain, shapes in pairs:
        for shape in shapes:
            f, p = s[f'{fast}/{shape}'], s[f'{plain}/{shape}']
            print(f'| {name} | {shape} | {f:.2f} | {p:.2f} | {p / f:.1f}x |')
    for name, fast, plain in [('model write 60000 x 21', 'BM_ModelWrite/60000/25/1', 'BM_ModelWrite/60000/25/0'),
                              ('model read 60000 x 21', 'BM_ModelRead/60000/25/1', 'BM_ModelRead/60000/25/0')]:
        print(f'| {name} | QTextStream / toFloat | {s[fast]:.2f} | {s[plain]:.2f} | {s[plain] / s[fast]:.1f}x |')
    for side in (28, 128):
        f, q = s[f'BM_ImageReading/{side}'], s[f'BM_QtDecodeAndConvert/{side}']
        print(f'| image reading, 1000 files {side} x {side} | against Qt decode + convert | {f:.2f} | {q:.2f} | {100 * (f / q - 1):+.0f} % |')
    for m in (900, 1600):
        f, p = s[f'BM_Eigen/{m}'], s[f'BM_EigenReference/{m}']
        print(f'| eigen decomposition, against JAMA | {m} x {m} | {f:.0f} | {p:.0f} | {p / f:.1f}x |')
    print(f'| eigen decomposition, against JAMA | 3969 x 3969 | {s["BM_Eigen/3969"]:.0f} | not run (523 s once) | |')
    print(f'| centring | 60000/25 | {s["BM_Centring/60000/25"]:.2f} | | |')
    print(f'| data matrix | 60000/25 | {s["BM_DataMatrix/60000/5"]:.2f} | | |')
    print(f'| F-transform of one image | 28 / 128 | {s["BM_FTransform/28"]:.4f} / {s["BM_FTransform/128"]:.4f} | | |')

    print('\nWhole commands (wall seconds / peak MB, best of 3; sklearn: Pillow + numpy + scikit-learn PCA and 1-NN):\n')
    print('| data set | train / test images | features / kept | sorvik train | sklearn train | ratio | sorvik class | sklearn class | ratio '
          '| search ms sorvik / plain | same bytes as plain |')
    print('|---|---|---|---|---|---|---|---|---|---|---|')
    scaling = []
    reports = []
    floors = []
    for name, path in SETS:
        train, test = os.path.join(path, 'train'), os.path.join(path, 'test')
        with tempfile.TemporaryDirectory() as work:
            runs = {}
            for tool in ('sorvik', 'plain', 'sklearn'):
                os.makedirs(os.path.join(work, tool))
            cwd = {t: os.path.join(work, t) for t in ('sorvik', 'plain', 'sklearn')}
            runs['sorvik train'] = best_of(3, [SORVIK, 'train', train], cwd['sorvik'])
            runs['sorvik class'] = best_of(3, [SORVIK, 'class', test, 'trained.out'], cwd['sorvik'])
            runs['report'] = best_of(3, [REPORT, test, 'trained.out', '--train', train, '--out', 'report'], cwd['sorvik'])
            runs['label'] = best_of(3, [LABEL, test, 'trained.out'], cwd['sorvik'])
            runs['floor train'] = best_of(3, [FLOOR, train], cwd['sorvik'])
            runs['floor class'] = best_of(3, [FLOOR, test, 'trained.out'], cwd['sorvik'])
            runs['plain train'] = timed([REFERENCE, 'train', train], cwd['plain'])
            runs['plain class'] = timed([REFERENCE, 'class', test, 'trained.out'], cwd['plain'])
            model = os.path.join(cwd['sklearn'], 'model.pickle')
            runs['sklearn train'] = best_of(3, [SKLEARN, 'train', train, model], cwd['sklearn'], PYTHON_ENV)
            runs['sklearn class'] = best_of(3, [SKLEARN, 'class', test, model], cwd['sklearn'], PYTHON_ENV)
            with open(os.path.join(cwd['sorvik'], 'trained.out'), 'rb') as a, open(os.path.join(cwd['plain'], 'trained.out'), 'rb') as b:
                same_model = a.read() == b.read()
        same = same_model and all(masked(runs[f'sorvik {c}'][2]) == masked(runs[f'plain {c}'][2]) for c in ('train', 'class'))
        sizes = re.search(r'input matrix size: (\d+) x (\d+).*eigen matrix size: \d+ x (\d+)', runs['sorvik train'][2], re.S)
        n, m, k = (int(g) for g in sizes.groups())
        t = count_files(test)
        search = int(re.search(r'recognized in (\d+)ms', runs['sorvik class'][2]).group(1))
        plain_search = int(re.search(r'recognized in (\d+)ms', runs['plain class'][2]).group(1))
        rate = re.search(r'succ rate: ([\d.]+)%', runs['sorvik class'][2]).group(1)
        st, sp, _ = runs['sorvik train']
        kt, kp, _ = runs['sklearn train']
        sc, scp, _ = runs['sorvik class']
        kc, kcp, _ = runs['sklearn class']
        print(f'| {name} ({rate} %) | {n} / {t} | {m} / {k} | {st:.2f} s / {sp:.0f} MB | {kt:.2f} s / {kp:.0f} MB | '
              f'{st / kt:.2f} / {sp / kp:.2f} | {sc:.2f} s / {scp:.0f} MB | {kc:.2f} s / {kcp:.0f} MB | {sc / kc:.2f} / {scp / kcp:.2f} | '
              f'{search} / {plain_search} ({plain_search / max(search, 1):.0f}x) | {"yes" if same else "NO"} |')
        scaling.append((name, n, m, k, t, search))
        accuracy = re.search(r'accuracy: ([\d.]+)%', runs['report'][2]).group(1)
        reports.append((name, runs['sorvik class'][0], runs['report'][0], runs['report'][1], accuracy == rate, runs['label'][0]))
        floors.append((name, n, t, runs['floor train'][0], st, runs['floor class'][0], sc))

    print('\nAgainst the reading floor (wall seconds, best of 3). The floor lists the directory and opens, reads and closes '
          'every file as the loader does, on the same threads, and does nothing with the bytes; for class it reads the model file too:\n')
    print('| data set | train images | train floor | sorvik train | ratio | test images | class floor | sorvik class | ratio |')
    print('|---|---:|---:|---:|---:|---:|---:|---:|---:|')
    for name, n, t, train_floor, train_time, class_floor, class_time in floors:
        print(f'| {name} | {n} | {train_floor:.2f} | {train_time:.2f} | {train_time / train_floor:.1f}x | {t} | {class_floor:.2f} | '
              f'{class_time:.2f} | {class_time / class_floor:.1f}x |')

    print('\nsorvik-report (--train, gallery of 100) and sorvik-label against sorvik class (wall seconds, best of 3):\n')
    print('| data set | sorvik class | sorvik-report | ratio | report peak MB | same accuracy | sorvik-label | ratio |')
    print('|---|---:|---:|---:|---:|---|---:|---:|')
    for name, classify, report, peak, same_rate, label in reports:
        print(f'| {name} | {classify:.2f} | {report:.2f} | {report / classify:.2f} | {peak:.0f} | {"yes" if same_rate else "NO"} '
              f'| {label:.2f} | {label / classify:.2f} |')

    tuning()

    print('\nScaling (time per unit of work; flat or falling means no faster growth than n m^2 and t s k):\n')
    print('| shape | covariance ns per n m^2 | search ns per t s k |')
    print('|---|---:|---:|')
    for shape, (n, m) in (('8004/25', (8004, 25)), ('60000/25', (60000, 25)), ('2880/196', (2880, 196)), ('2880/900', (2880, 900))):
        print(f'| covariance {shape} | {s["BM_Covariance/" + shape] * 1e6 / (n * m * m):.3f} | |')
    for name, n, m, k, t, search in scaling:
        print(f'| search, {name} | | {search * 1e6 / (t * n * k):.4f} |')


def tuning():
    # One run each, side by side: the study takes long enough that a second run
    # would add minutes and little certainty.
    digits = SETS[0][1]
    grid = ['1,2,3,4', '0.1,0.3,0.5,0.85', '1,3,5']
    with tempfile.TemporaryDirectory() as work:
        ours = timed([TUNE, os.path.join(digits, 'train'), '--spacing', grid[0], '--keep', grid[1], '--neighbours', grid[2],
                      '--folds', '5', '--model', 'tuned.out'], work)
        rate = timed([LABEL, os.path.join(digits, 'test'), 'tuned.out'], work)[2]
    theirs = timed([SKLEARN_TUNE, os.path.join(digits, 'train')] + grid, digits, PYTHON_ENV)
    rows = [line.split(',') for line in rate.splitlines()[1:]]
    right = sum(1 for r in rows if r[1] == r[0].split('-')[0].upper())
    best = next(line for line in ours[2].splitlines() if line.startswith('trained: '))[len('trained: '):]
    print('\nsorvik-tune against the scikit-learn study (GridSearchCV, 5 folds) on the demo training digits, '
          f'spacings {grid[0]}, shares {grid[1]}, neighbours {grid[2]} (one run each):\n')
    print('| tool | wall seconds | peak MB | best configuration | chosen model on the test digits |')
    print('|---|---:|---:|---|---:|')
    print(f'| sorvik-tune | {ours[0]:.2f} | {ours[1]:.0f} | {best} | {100 * right / len(rows):.2f} % |')
    print(f'| scikit-learn | {theirs[0]:.2f} | {theirs[1]:.0f} | {theirs[2].strip()} | |')


if __name__ == '__main__':
    main()
