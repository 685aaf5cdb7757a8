#!/usr/bin/env bash
# ZIP listing benchmark: an archive of 200,000 small entries, listed by
# `kivo-unzip list --tsv`, `unzip -l`, `7zz l` and `bsdtar -tf`, alternating
# in one run. Reports the median wall time and peak memory (maximum resident
# set size) of each tool and their ratios to ours (above 1: ours is faster or
# smaller).
#
#   bench/zip-listing.sh [ROUNDS]
#
# ROUNDS defaults to 5. The build directory is build/release (the release
# preset's), or $KIVO_BENCH_BUILD. Corpora (kept in <build>/bench-corpora,
# made once by Info-ZIP zip from 200,000 files of 8 to 12 bytes in 200
# folders):
#   list-200k.zip     zip -r        (each entry carries the usual time and
#                                    owner extra fields: 24 bytes)
#   list-200k-X.zip   zip -r -X     (no extra fields)
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"

if [ ! -s "$CORPORA/list-200k.zip" ] || [ ! -s "$CORPORA/list-200k-X.zip" ]; then
  echo "making the corpus (200,000 files, then two archives)..." >&2
  src=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-list-XXXXXX")
  trap 'rm -rf "$src"' EXIT
  python3 - "$src" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(200):
    folder = os.path.join(root, "d%03d" % d)
    os.mkdir(folder)
    for i in range(1000):
        n = d * 1000 + i
        with open(os.path.join(folder, "file_%06d.txt" % n), "w") as f:
            f.write("line %d\n" % n)
        os.utime(os.path.join(folder, "file_%06d.txt" % n), (1600000000, 1600000000))
PY
  rm -f "$CORPORA/list-200k.zip" "$CORPORA/list-200k-X.zip"
  (cd "$src" && zip -q -r "$CORPORA/list-200k.zip" . && zip -q -r -X "$CORPORA/list-200k-X.zip" .)
  rm -rf "$src"
  trap - EXIT
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-list-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Sanity: our listing has one line per entry.
for corpus in list-200k list-200k-X; do
  lines=$("$TOOL" list --tsv "$CORPORA/$corpus.zip" | wc -l)
  [ "$lines" = 200200 ] || { echo "$corpus: kivo-unzip listed $lines lines" >&2; exit 1; }
done

# One measured run: "<wall seconds> <peak KiB>".
measure() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -o "$work/mem" -f "%M" "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$(python3 -c "print(f'{$t1 - $t0:.4f}')") $(cat "$work/mem")"
}

names=(kivo-unzip unzip 7zz bsdtar)
for corpus in list-200k list-200k-X; do
  zipfile="$CORPORA/$corpus.zip"
  declare -A times=() mems=()
  for r in $(seq "$ROUNDS"); do
    line="round $r:"
    for name in "${names[@]}"; do
      case "$name" in
        kivo-unzip) set -- "$TOOL" list --tsv "$zipfile" ;;
        unzip) set -- unzip -l "$zipfile" ;;
        7zz) set -- 7zz l "$zipfile" ;;
        bsdtar) set -- bsdtar -tf "$zipfile" ;;
      esac
      read -r secs kib < <(measure "$@")
      times[$name]+="$secs "
      mems[$name]+="$kib "
      line+=" $name ${secs}s ${kib}KiB;"
    done
    echo "$corpus $line"
  done
  python3 - "$corpus" "${times[kivo-unzip]}" "${mems[kivo-unzip]}" "${times[unzip]}" "${mems[unzip]}" \
    "${times[7zz]}" "${mems[7zz]}" "${times[bsdtar]}" "${mems[bsdtar]}" <<'PY'
import statistics, sys
corpus = sys.argv[1]
vals = [[float(x) for x in a.split()] for a in sys.argv[2:]]
names = ["kivo-unzip list --tsv", "unzip -l", "7zz l", "bsdtar -tf"]
med = [(statistics.median(vals[2 * i]), statistics.median(vals[2 * i + 1])) for i in range(4)]
ours_t, ours_m = med[0]
print(f"{corpus}: medians of {len(vals[0])} rounds")
print(f"  {'tool':24} {'wall s':>8} {'peak MiB':>9} {'time/ours':>10} {'memory/ours':>12}")
for n, (t, m) in zip(names, med):
    print(f"  {n:24} {t:8.3f} {m / 1024:9.1f} {t / ours_t:10.2f} {m / ours_m:12.2f}")
PY
  unset times mems
done
