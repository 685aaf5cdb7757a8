#!/usr/bin/env bash
# Whole-archive ZIP benchmark: an archive of 20,000 files and about 500 MB
# (deflate level 6, made by Info-ZIP zip from files of this machine),
# extracted into a fresh empty folder by `kivo-unzip x`, `unzip -q`, `7zz x`
# and `bsdtar -xf`, then tested by `kivo-unzip t`, `unzip -tq` and `7zz t`,
# alternating in one run. Reports the median wall time, CPU time (user +
# system) and peak memory (maximum resident set size) of each tool and their
# ratios to ours (above 1: ours is faster or smaller).
#
#   bench/zip-extract.sh [ROUNDS]
#
# ROUNDS defaults to 5. The build directory is build/release (the release
# preset's), or $KIVO_BENCH_BUILD; the corpus is kept in
# <build>/bench-corpora/extract-20k.zip, the extraction folders go below
# $TMPDIR (default /tmp) and are removed after each run (not timed).
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"
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
    if size < 200 or size > 8_000_000 or budget + size > target - left * 200:
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

# Sanity: ours extracts every file and tests the archive without an error.
"$TOOL" x "$ZIPFILE" -d "$work/check" -q
files=$(find "$work/check" -type f | wc -l)
[ "$files" = 20000 ] || { echo "kivo-unzip extracted $files files" >&2; exit 1; }
rm -rf "$work/check"
"$TOOL" t "$ZIPFILE" -q >/dev/null
sync
sleep 6

# One measured run: "<wall s> <cpu s> <peak KiB>"; output thrown away.
measure() {
  sync
  /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$@" >/dev/null 2>&1 || {
    echo "failed: $*" >&2
    exit 1
  }
  read -r wall user sys kib <"$work/time"
  echo "$wall $(python3 -c "print(f'{$user + $sys:.2f}')") $kib"
}

# An empty $work/out. ext4 skips inodes freed in the last few seconds when it
# allocates new ones, which makes file creation right after deleting 20,000
# files several times slower; the pause lets every run start alike.
fresh_folder() {
  if [ -e "$work/out" ]; then
    rm -rf "$work/out"
    sync
    sleep 6
  fi
  mkdir "$work/out"
}

run_set() {  # run_set <label> <name>... : the commands come from command_for
  local label=$1
  shift
  local names=("$@")
  declare -A walls=() cpus=() mems=()
  for r in $(seq "$ROUNDS"); do
    local line="round $r:"
    for name in "${names[@]}"; do
      fresh_folder
      command_for "$name"
      read -r wall cpu kib < <(measure "${CMD[@]}")
      walls[$name]+="$wall "
      cpus[$name]+="$cpu "
      mems[$name]+="$kib "
      line+=" $name ${wall}s cpu ${cpu}s ${kib}KiB;"
    done
    echo "$label $line"
  done
  rm -rf "$work/out"
  local args=()
  for name in "${names[@]}"; do args+=("$name" "${walls[$name]}" "${cpus[$name]}" "${mems[$name]}"); done
  python3 - "$label" "${args[@]}" <<'PY'
import statistics, sys
label, rest = sys.argv[1], sys.argv[2:]
rows = []
for i in range(0, len(rest), 4):
    name = rest[i]
    wall, cpu, mem = ([float(x) for x in rest[i + k].split()] for k in (1, 2, 3))
    rows.append((name, statistics.median(wall), statistics.median(cpu), statistics.median(mem)))
ours = rows[0]
print(f"{label}: medians of {len(rest[1].split())} rounds")
print(f"  {'command':22} {'wall s':>7} {'cpu s':>7} {'peak MiB':>9} {'wall/ours':>10} {'cpu/ours':>9} {'mem/ours':>9}")
for name, wall, cpu, mem in rows:
    print(f"  {name:22} {wall:7.2f} {cpu:7.2f} {mem / 1024:9.1f} {wall / ours[1]:10.2f} {cpu / ours[2]:9.2f} {mem / ours[3]:9.2f}")
PY
}

# The command line of a named run, in CMD.
command_for() {
  case "$1" in
    "kivo-unzip x") CMD=("$TOOL" x "$ZIPFILE" -d "$work/out") ;;
    "unzip -q") CMD=(unzip -q "$ZIPFILE" -d "$work/out") ;;
    "7zz x") CMD=(7zz x "$ZIPFILE" "-o$work/out" -y) ;;
    "bsdtar -xf") CMD=(bsdtar -xf "$ZIPFILE" -C "$work/out") ;;
    "kivo-unzip t") CMD=("$TOOL" t "$ZIPFILE") ;;
    "unzip -tq") CMD=(unzip -tq "$ZIPFILE") ;;
    "7zz t") CMD=(7zz t "$ZIPFILE") ;;
  esac
}

echo "archive: $ZIPFILE ($(stat -c %s "$ZIPFILE") bytes)"
run_set extract "kivo-unzip x" "unzip -q" "7zz x" "bsdtar -xf"
run_set test "kivo-unzip t" "unzip -tq" "7zz t"
