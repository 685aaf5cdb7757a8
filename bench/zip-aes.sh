#!/usr/bin/env bash
# AES-encrypted ZIP items: the 100 MB text corpus archived by 7-Zip with
# AES-256, once deflated and once stored, tested by `kivo-unzip t` and
# `7zz t`. Prints the median wall and CPU time of ROUNDS runs of each.
#
#   bench/zip-aes.sh [ROUNDS]
#
# ROUNDS defaults to 5. Corpora are kept in <build>/bench-corpora.
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"
source "$(dirname "$0")/text-corpus.sh"
TEXT="$CORPORA/text-100m.txt"
make_text_corpus "$TEXT"
for level in 0 5; do
  zip="$CORPORA/aes256-mx$level.zip"
  [ -s "$zip" ] || (cd "$CORPORA" && 7zz a -tzip -mem=AES256 "-mx$level" -pbench "$zip" \
    "$(basename "$TEXT")" >/dev/null)
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-aes-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Median wall and CPU (user + system) seconds of ROUNDS runs of a command.
median() {
  local label=$1 walls="" cpus=""
  shift
  for _ in $(seq "$ROUNDS"); do
    /usr/bin/time -o "$WORK/time" -f '%e %U %S' "$@" >/dev/null 2>&1
    read -r wall cpu < <(awk '{ print $1, $2 + $3 }' "$WORK/time")
    walls+="$wall "
    cpus+="$cpu "
  done
  python3 - "$label" "$walls" "$cpus" <<'PY'
import statistics, sys
label, walls, cpus = sys.argv[1], sys.argv[2].split(), sys.argv[3].split()
print(f"{label:<34} wall {statistics.median(map(float, walls)):6.2f} s  "
      f"cpu {statistics.median(map(float, cpus)):6.2f} s")
PY
}

for level in 0 5; do
  zip="$CORPORA/aes256-mx$level.zip"
  median "kivo-unzip t (AES-256, -mx$level)" "$TOOL" t -p bench "$zip"
  median "7zz t (AES-256, -mx$level)" 7zz t -pbench "$zip"
done
