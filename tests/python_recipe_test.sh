#!/usr/bin/env bash
# The README's Python recipes as a user runs them: each block of its section on
# using the outputs from Python, on a model and a report of drawn characters
# whose test set holds a name that looks like a formula.
# Usage: tests/python_recipe_test.sh README SORVIK SORVIK_REPORT SORVIK_GLYPHS
set -euo pipefail
readme=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$4" train test --size 24 --per-class 5 >/dev/null
cp test/a-00004.png test/@sum-1.png
"$2" train train >/dev/null || true  # sorvik ends with status 1
"$3" test trained.out --out report >/dev/null
# The python blocks of the section, one after the other, then the checks.
awk '/^## Using the outputs from Python/ { on = 1; next } /^## / { on = 0 }
     on && /^```python/ { code = 1; next } code && /^```/ { code = 0; next } code' "$readme" >recipes.py
[ "$(grep -c . recipes.py)" -gt 10 ] || { echo "no recipes found in $readme"; exit 1; }
cat >>recipes.py <<'CHECKS'
assert list(predictions.columns[:4]) == ["file", "label", "predicted", "correct"], predictions.columns
guarded = predictions[predictions.file == "@sum-1.png"]
assert len(guarded) == 1 and guarded.label.iloc[0] == "@SUM", guarded
assert set(predictions.correct) <= {"0", "1"} and (predictions.label == "0").sum() == 1, predictions.label
assert components.dtype == np.float32 and projections.dtype == np.float32
assert components.shape == (16, 14) and projections.shape == (len(labels), 14), (components.shape, projections.shape)
assert labels[:2] == ["0", "0"] and len(labels) == 36 * 4, labels[:8]
first = open("trained.out").read().split("\n")[1].split(";")[0]
assert components[0, 0] == np.float32(first), (components[0, 0], first)
print("recipes: passed")
CHECKS
/usr/bin/python3 recipes.py
