#!/usr/bin/env bash
# Whole-archive ZIP benchmark: an archive of 20,000 files and about 500 MB
# (deflate level 6, made by Info-ZIP zip from files of this machine),
# extracted into a fresh empty folder by `kivo-unzip x` with one worker and
# with two (`-j 1`, `-j 2`), `unzip -q`, `7zz x` and `bsdtar -xf`, then the
# same extraction into a folder on tmpfs (/dev/shm, so that the disk does not
# set the pace), then tested by `kivo-unzip t -j 1` and `-j 2`, `unzip -tq`
# and `7zz t`, alternating in one run. Reports the median wall time, CPU time
# (user + system) and peak memory (maximum resident set size) of each tool
# and their ratios to ours with one worker (above 1: ours is faster or
# smaller); for the tmpfs and test sets also every wall time against the
# two workers' (the goals: x -j 1 and bsdtar, t -j 1 against -j 2), as the
# ratio of the medians and as the median of the ratios within each round.
#
#   bench/zip-extract.sh [ROUNDS]
#   SETS="tmpfs test" bench/zip-extract.sh [ROUNDS]   only some of the sets
#
# ROUNDS defaults to 5. The build directory is build/release (the release
# preset's), or $KIVO_BENCH_BUILD; the corpus is kept in
# <build>/bench-corpora/extract-20k.zip, the extraction folders go below
# $TMPDIR (default /tmp) and /dev/shm and are removed after each run (not
# timed); those of the disk runs only after the last one (about 1.1 GB per
# round), see fresh_folder in extract-common.sh.
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"
source "$(dirname "$0")/extract-common.sh"
ZIPFILE="$CORPORA/extract-20k.zip"

if [ ! -s "$ZIPFILE" ]; then
  echo "making the corpus (20,000 files of this machine, about 500 MB, then zip -6)..." >&2
  src=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-extract-src-XXXXXX")
  trap 'rm -rf "$src"' EXIT
  # A fixed pseudo-random choice of regular files below /usr (200 bytes to
  # 8 MB each), copied into 200 folders so that names cannot clash.
  python3 - "$src" <<'PY'
import os, random, shutil, sys
dest = sys.argv[1]
files = []
for top in ("/usr/share", "/usr/lib", "/usr/include", "/usr/bin", "/usr/libexec"):
    for folder, dirs, names in os.walk(top):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            try:
                if os.path.islink(path) or not os.path.isfile(path) or not os.access(path, os.R_OK):
                    continue
                files.append((path, os.path.getsize(path)))
            except OSError:
                pass
random.Random(20000).shuffle(files)
count, target, budget, taken = 20000, 510_000_000, 0, []
for path, size in files:
    if len(taken) == count:
        break
    left = count - len(taken) - 1
    # No file much larger than the share of the budget still left, so that
    # the last files of a machine with many large ones still fit.
    if (size < 200 or size > 8_000_000 or budget + size > target - left * 200
            or size > 4 * (target - budget) // (left + 1)):
        continue
    taken.append(path)
    budget += size
if len(taken) < count:
    sys.exit("not enough files below /usr for the corpus")
for i, path in enumerate(taken):
    folder = os.path.join(dest, "d%03d" % (i % 200))
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(path, os.path.join(folder, "%05d_%s" % (i, os.path.basename(path))))
    os.utime(os.path.join(folder, "%05d_%s" % (i, os.path.basename(path))), (1600000000, 1600000000))
print("corpus: %d files, %.1f MB" % (len(taken), budget / 1e6), file=sys.stderr)
PY
  (cd "$src" && zip -q -r -6 "$ZIPFILE.tmp" .)
  mv "$ZIPFILE.tmp" "$ZIPFILE"
  rm -rf "$src"
  trap - EXIT
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-extract-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Sanity: ours extracts every file and tests the archive without an error
# (in memory: files deleted on the disk would slow the disk runs, see
# extract-common.sh).
check=$(mktemp -d /dev/shm/kivo-bench-check-XXXXXX)
"$TOOL" x "$ZIPFILE" -d "$check" -q
files=$(find "$check" -type f | wc -l)
rm -rf "$check"
[ "$files" = 20000 ] || { echo "kivo-unzip extracted $files files" >&2; exit 1; }
"$TOOL" t "$ZIPFILE" -q >/dev/null
sync


# The command line of a named run, in CMD.
command_for() {
  case "$1" in
    "kivo-unzip x -j 1") CMD=("$TOOL" x "$ZIPFILE" -d "$work/out" -j 1) ;;
    "kivo-unzip x -j 2") CMD=("$TOOL" x "$ZIPFILE" -d "$work/out" -j 2) ;;
    "unzip -q") CMD=(unzip -q "$ZIPFILE" -d "$work/out") ;;
    "7zz x") CMD=(7zz x "$ZIPFILE" "-o$work/out" -y) ;;
    "bsdtar -xf") CMD=(bsdtar -xf "$ZIPFILE" -C "$work/out") ;;
    "kivo-unzip t -j 1") CMD=("$TOOL" t "$ZIPFILE" -j 1) ;;
    "kivo-unzip t -j 2") CMD=("$TOOL" t "$ZIPFILE" -j 2) ;;
    "unzip -tq") CMD=(unzip -tq "$ZIPFILE") ;;
    "7zz t") CMD=(7zz t "$ZIPFILE") ;;
  esac
}

echo "archive: $ZIPFILE ($(stat -c %s "$ZIPFILE") bytes)"
SETS=" ${SETS:-disk tmpfs test} "
if [[ $SETS == *" disk "* ]]; then
  KEEP_OUTPUTS=1 run_set extract "kivo-unzip x -j 1" "kivo-unzip x -j 2" "unzip -q" "7zz x" "bsdtar -xf"
fi
disk_work=$work
work=$(mktemp -d /dev/shm/kivo-bench-extract-XXXXXX)
trap 'rm -rf "$disk_work" "$work"' EXIT
if [[ $SETS == *" tmpfs "* ]]; then
  FRESH_PAUSE=0 COMPARE_TO="kivo-unzip x -j 2" run_set extract-tmpfs \
    "kivo-unzip x -j 1" "kivo-unzip x -j 2" "unzip -q" "7zz x" "bsdtar -xf"
fi
if [[ $SETS == *" test "* ]]; then
  COMPARE_TO="kivo-unzip t -j 2" run_set test "kivo-unzip t -j 1" "kivo-unzip t -j 2" "unzip -tq" "7zz t"
fi
