#!/usr/bin/env bash
# Trains the default model, models/velmora.model, with the velmora tool on the LFW
# people of ../shared/data/lfw and calibrates its threshold on people it never saw:
# the people of fold 1 of pairs_dev.txt are left out of training, and
# scripts/calibrate_default_model.sh writes models/velmora.model.json from fold 1's
# pairs and pairs of ORL people s1-s20.
#
#   scripts/train_default_model.sh [DATA_DIR] [WORK_DIR]
#
# DATA_DIR holds lfw/ and orl/. RECIPE=train|refit chooses the training recipe
# (default refit, see models/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
data="${1:-../shared/data}"
lfw="$data/lfw"
work="${2:-${TMPDIR:-/tmp}/velmora-model}"
recipe="${RECIPE:-refit}"
tool="${VELMORA:-build/tools/velmora/velmora}"
mkdir -p "$work" models

# Fold 1 is the 600 lines after the header: 300 same-person, then 300 different-people pairs.
awk -F'\t' 'NR >= 2 && NR <= 601 { print $1; if (NF == 4) print $3 }' "$lfw/pairs_dev.txt" |
  sort -u >"$work/fold1.people"

# Everyone with at least two photos: a person seen once adds nothing to the
# within-person scatter the discriminant stage learns from.
"$tool" samples "$lfw" -o "$work/lfw.samples" --min-images 2
# The statistics of the training faces go beside the model, for adding people
# to it later (velmora increase, velmora evaluate orl --adapt).
"$tool" train "$work/lfw.samples" --exclude "$work/fold1.people" --recipe "$recipe" -o models/velmora.model \
  --stats models/velmora.model.stats
scripts/calibrate_default_model.sh "$data" "$work"
