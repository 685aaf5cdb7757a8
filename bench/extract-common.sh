# Shared measuring of the extraction benchmark scripts (sourced, not run,
# after zip-bench-common.sh): the caller sets $work (a scratch folder) and
# defines command_for NAME, which puts the command line of a named run in CMD.
# FRESH_PAUSE (seconds, default 6) is the pause after emptying $work/out.
#   run_set LABEL NAME...   runs every NAME ROUNDS times, alternating, each
#                           into an empty $work/out, and prints medians and
#                           ratios to the first NAME (ours); with COMPARE_TO
#                           set to one of the NAMEs, also each wall time
#                           divided by that one's (above 1: it is faster)

# One measured run: "<wall s> <cpu s> <peak KiB>"; output thrown away. The
# wall time is taken in nanoseconds around the run (time's own is in
# hundredths, 5% of a 0.2 s run); CPU time and memory come from time.
measure() {
  sync
  local start end
  start=$(date +%s%N)
  /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$@" >/dev/null 2>&1 || {
    echo "failed: $*" >&2
    exit 1
  }
  end=$(date +%s%N)
  read -r _ user sys kib <"$work/time"
  python3 -c "print(f'{($end - $start) / 1e9:.3f} {$user + $sys:.2f} $kib')"
}

# An empty $work/out. With KEEP_OUTPUTS=1 the previous run's folder is moved
# aside and removed only when the set ends: ext4 without a journal (the root
# file system of the benchmark machine) skips inodes freed in the last 60 s
# (360 s while their inode table block is dirty) when it allocates new ones,
# scanning past every one of them for each file it makes, so runs right after
# deleting 20,000 files measure that scan (4 to 5 s of kernel time here), not
# the tools. Otherwise the folder is removed, followed by FRESH_PAUSE seconds
# (default 6).
fresh_folder() {
  if [ -e "$work/out" ]; then
    if [ "${KEEP_OUTPUTS:-0}" = 1 ]; then
      mv "$work/out" "$(mktemp -d "$work/kept-XXXXXX")/out"
    else
      rm -rf "$work/out"
      sync
      sleep "${FRESH_PAUSE:-6}"
    fi
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
  rm -rf "$work/out" "$work"/kept-*
  local args=()
  for name in "${names[@]}"; do args+=("$name" "${walls[$name]}" "${cpus[$name]}" "${mems[$name]}"); done
  COMPARE_TO="${COMPARE_TO:-}" python3 - "$label" "${args[@]}" <<'PY'
import os, statistics, sys
label, rest = sys.argv[1], sys.argv[2:]
rows, rounds = [], {}
for i in range(0, len(rest), 4):
    name = rest[i]
    wall, cpu, mem = ([float(x) for x in rest[i + k].split()] for k in (1, 2, 3))
    rows.append((name, statistics.median(wall), statistics.median(cpu), statistics.median(mem)))
    rounds[name] = wall
ours = rows[0]
print(f"{label}: medians of {len(rest[1].split())} rounds")
print(f"  {'command':22} {'wall s':>7} {'cpu s':>7} {'peak MiB':>9} {'wall/ours':>10} {'cpu/ours':>9} {'mem/ours':>9}")
for name, wall, cpu, mem in rows:
    print(f"  {name:22} {wall:7.3f} {cpu:7.2f} {mem / 1024:9.1f} {wall / ours[1]:10.2f} {cpu / ours[2]:9.2f} {mem / ours[3]:9.2f}")
compare = [row for row in rows if row[0] == os.environ["COMPARE_TO"]]
if compare:
    # Also the median of the ratios within each round, whose runs follow one
    # another: steadier where the machine's speed drifts between rounds.
    base = compare[0][0]
    print(f"  wall time against {base} (above 1: {base} is faster)")
    print(f"  {'command':22} {'medians':>8} {'per round':>10}")
    for name, wall, cpu, mem in rows:
        if name != base:
            paired = statistics.median(w / b for w, b in zip(rounds[name], rounds[base]))
            print(f"  {name:22} {wall / compare[0][1]:8.2f} {paired:10.2f}")
PY
}
