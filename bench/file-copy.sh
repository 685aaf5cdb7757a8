#!/usr/bin/env bash
# File copy throughput: a 1 GiB file copied by `kivo-webcopy get FILE -d DIR`
# and by `cp`, alternating in one run, on the file system of a folder.
#
#   bench/file-copy.sh [KIVO_WEBCOPY] [ROUNDS] [FOLDER]
#
# KIVO_WEBCOPY defaults to build/release/tools/kivo-webcopy, ROUNDS to 5,
# FOLDER to $TMPDIR (or /tmp); give /dev/shm for tmpfs. Prints MB/s (10^6
# bytes per second, wall clock) and the CPU seconds (user + system) of every
# run, the medians and the ratio of kivo-webcopy's median throughput to cp's.
# Each copy goes to a new name, so neither tool overwrites; the target is
# removed before the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

tool="${1:-build/release/tools/kivo-webcopy}"
rounds="${2:-5}"
base="${3:-${TMPDIR:-/tmp}}"
size=$((1024 * 1024 * 1024))
[ -x "$tool" ] || { echo "no executable at $tool (build the kivo-webcopy target first)" >&2; exit 2; }

work="$(mktemp -d "$base/kivo-bench-copy-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"
head -c "$size" /dev/urandom > "$work/big.bin"
sync

now() { date +%s.%N; }
mbps() { python3 -c "print(f'{$size / ($2 - $1) / 1e6:.1f}')"; }
cpu() { awk '{printf "%.2f", $1 + $2}' "$work/cpu"; }
check() {
  [ "$(stat -c %s "$work/out/big.bin")" = "$size" ] || { echo "$1: wrong size" >&2; exit 1; }
  rm -f "$work/out/big.bin"
}

kivo_runs=()
cp_runs=()
kivo_cpu=()
cp_cpu=()
run_kivo() {
  local t0 t1
  t0=$(now); /usr/bin/time -o "$work/cpu" -f "%U %S" "$tool" get "$work/big.bin" -d "$work/out" -q; t1=$(now)
  kivo_runs+=("$(mbps "$t0" "$t1")")
  kivo_cpu+=("$(cpu)")
  check kivo-webcopy
}
run_cp() {
  local t0 t1
  t0=$(now); /usr/bin/time -o "$work/cpu" -f "%U %S" cp "$work/big.bin" "$work/out/big.bin"; t1=$(now)
  cp_runs+=("$(mbps "$t0" "$t1")")
  cp_cpu+=("$(cpu)")
  check cp
}
# One copy that is not measured: the first copy after the file was written
# pays for reclaiming the page cache, whichever tool makes it.
cp "$work/big.bin" "$work/out/big.bin" && rm -f "$work/out/big.bin"
for r in $(seq "$rounds"); do
  # The tools take turns going first.
  if [ $((r % 2)) -eq 1 ]; then run_kivo; run_cp; else run_cp; run_kivo; fi
  echo "round $r: kivo-webcopy ${kivo_runs[-1]} MB/s (${kivo_cpu[-1]} s CPU), cp ${cp_runs[-1]} MB/s (${cp_cpu[-1]} s CPU)"
done

python3 - "${kivo_runs[*]}" "${cp_runs[*]}" "${kivo_cpu[*]}" "${cp_cpu[*]}" <<'PY'
import statistics, sys
k, c, kc, cc = ([float(x) for x in a.split()] for a in sys.argv[1:5])
mk, mc = statistics.median(k), statistics.median(c)
print(f"median: kivo-webcopy {mk:.1f} MB/s, cp {mc:.1f} MB/s, ratio {mk / mc:.2f}; "
      f"CPU kivo-webcopy {statistics.median(kc):.2f} s, cp {statistics.median(cc):.2f} s")
PY
