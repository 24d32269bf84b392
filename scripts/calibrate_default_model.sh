#!/usr/bin/env bash
# Calibrates the same/different threshold of models/velmora.model (written to
# models/velmora.model.json) on pairs of people the model never saw, from two
# kinds of photos: the 600 pairs of LFW fold 1 (news photos; the default model
# leaves these people out of its training) and 600 pairs of ORL people s1-s20
# (studio photos). Studio photos of different people score higher than news
# photos do, so a threshold taken on news photos alone calls most such pairs
# "same". ORL people s21-s40 stay out, for bench/orl_pairs.py to test on.
#
#   scripts/calibrate_default_model.sh [DATA_DIR] [WORK_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
data="$(realpath "${1:-../shared/data}")"
work="${2:-${TMPDIR:-/tmp}/velmora-model}"
tool="${VELMORA:-build/tools/velmora/velmora}"
lfw="$data/lfw"
orl="$data/orl"
mkdir -p "$work"

# One folder of both sets' people (links), and one fold of 600 same-person then
# 600 different-people pairs: fold 1's LFW pairs of each kind, then ORL's.
set_dir="$work/calibration"
rm -rf "$set_dir"
mkdir -p "$set_dir"
awk -F'\t' 'NR >= 2 && NR <= 601 { print $1; if (NF == 4) print $3 }' "$lfw/pairs_dev.txt" | sort -u |
  while read -r name; do ln -s "$lfw/$name" "$set_dir/$name"; done
for p in $(seq 1 20); do ln -s "$orl/s$p" "$set_dir/s$p"; done

pairs="$work/calibration.pairs"
{
  printf '1\t600\n'
  sed -n '2,301p' "$lfw/pairs_dev.txt"
  # 15 pairs of each of the 20 people: photos k and k+1, k and k+5, and 1 and 10.
  for p in $(seq 1 20); do
    for k in $(seq 1 9); do printf 's%d\t%d\t%d\n' "$p" "$k" $((k + 1)); done
    for k in $(seq 1 5); do printf 's%d\t%d\t%d\n' "$p" "$k" $((k + 5)); done
    printf 's%d\t1\t10\n' "$p"
  done
  sed -n '302,601p' "$lfw/pairs_dev.txt"
  # 15 other people for each person, on varying photos.
  for p in $(seq 1 20); do
    for d in $(seq 1 15); do
      printf 's%d\t%d\ts%d\t%d\n' "$p" $((d % 10 + 1)) $(((p - 1 + d) % 20 + 1)) $(((d + p) % 10 + 1))
    done
  done
} >"$pairs"

"$tool" evaluate lfw "$set_dir" "$pairs" --model models/velmora.model --folds 1 --calibrate \
  --csv "$work/calibration.csv" --roc "$work/calibration.svg" --json >"$work/calibration.json"
threshold="$(sed -n 's/.*"threshold":\([0-9.eE+-]*\).*/\1/p' models/velmora.model.json)"
echo "calibrated threshold: $threshold (models/velmora.model.json)"
# Rates of each kind of photo at that threshold.
awk -F, -v t="$threshold" 'NR > 1 {
    kind = ($5 ~ /^s[0-9]+$/) ? "ORL s1-s20" : "LFW fold 1"
    n[kind]++; if (($3 == 1) == ($4 + 0 >= t)) ok[kind]++
  } END { for (k in n) printf "%s: %d of %d pairs decided rightly (%.1f%%)\n", k, ok[k], n[k], 100 * ok[k] / n[k] }' \
  "$work/calibration.csv" | sort
