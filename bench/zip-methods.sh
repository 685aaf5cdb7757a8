#!/usr/bin/env bash
# Further ZIP methods benchmark: the 100 MB text corpus (the one
# inflate-bench.sh uses) as the one item of a ZIP archive made by 7-Zip with
# BZip2, LZMA and PPMd, tested by `kivo-unzip t`, `7zz t -mmt=1` and (bzip2
# only: it reads neither LZMA nor PPMd) `unzip -tq`, alternating in one run.
# Reports the best wall time and the CPU time (user + system) of that run for
# each tool, and the ratios of the others' wall times to ours (above 1: ours
# is faster). A tool that fails on an archive (a method it cannot decode)
# shows "n/a".
#
#   bench/zip-methods.sh [ROUNDS] [METHOD...]
#
# ROUNDS defaults to 5, the methods to "BZip2 LZMA PPMd". The build directory
# is build/release (the release preset's), or $KIVO_BENCH_BUILD; the corpus
# and the archives are kept in <build>/bench-corpora (methods-<METHOD>.zip).
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"
source "$(dirname "$0")/text-corpus.sh"
shift $(($# > 0 ? 1 : 0))
METHODS=("$@")
[ ${#METHODS[@]} -gt 0 ] || METHODS=(BZip2 LZMA PPMd)

make_text_corpus "$CORPORA/text.bin"
for m in "${METHODS[@]}"; do
  if [ ! -s "$CORPORA/methods-$m.zip" ]; then
    echo "compressing the text with 7-Zip $m..." >&2
    (cd "$CORPORA" && 7zz a -tzip "-mm=$m" "methods-$m.zip.tmp" text.bin >/dev/null &&
      mv "methods-$m.zip.tmp" "methods-$m.zip")
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-methods-XXXXXX")
trap 'rm -rf "$work"' EXIT

# One measured run: "<wall s> <cpu s>", or "fail" when the command fails.
measure() {
  if /usr/bin/time -o "$work/time" -f "%e %U %S" "$@" >/dev/null 2>&1; then
    read -r wall user sys <"$work/time"
    echo "$wall $(python3 -c "print(f'{$user + $sys:.2f}')")"
  else
    echo fail
  fi
}

# The command line of a named run on archive $2, in CMD; empty when the
# tool does not read the method $3.
command_for() {
  case "$1" in
    "kivo-unzip t") CMD=("$TOOL" t "$2") ;;
    "7zz t -mmt=1") CMD=(7zz t -mmt=1 "$2") ;;
    "unzip -tq") if [ "$3" = BZip2 ]; then CMD=(unzip -tq "$2"); else CMD=(); fi ;;
  esac
}

names=("kivo-unzip t" "7zz t -mmt=1" "unzip -tq")
results=()
for m in "${METHODS[@]}"; do
  zipfile="$CORPORA/methods-$m.zip"
  declare -A runs=()
  for r in $(seq "$ROUNDS"); do
    line="$m round $r:"
    for name in "${names[@]}"; do
      command_for "$name" "$zipfile" "$m"
      if [ ${#CMD[@]} -eq 0 ]; then
        result=skip
      else
        result=$(measure "${CMD[@]}")
      fi
      runs[$name]+="${result// /:} "
      line+=" $name $result;"
    done
    echo "$line"
  done
  for name in "${names[@]}"; do results+=("$m" "$name" "${runs[$name]}"); done
  unset runs
done

python3 - "$ROUNDS" "${results[@]}" <<'PY'
import sys
rounds, rest = sys.argv[1], sys.argv[2:]
table = {}
for i in range(0, len(rest), 3):
    method, name, runs = rest[i], rest[i + 1], rest[i + 2].split()
    ok = [tuple(float(x) for x in r.split(":")) for r in runs if r not in ("fail", "skip")]
    failed = any(r == "fail" for r in runs) or not ok
    table.setdefault(method, []).append((name, None if failed else min(ok)))
print(f"best of {rounds} rounds; wall/ours above 1: ours is faster")
print(f"  {'method':7} {'command':14} {'wall s':>7} {'cpu s':>7} {'wall/ours':>10}")
for method, rows in table.items():
    ours = rows[0][1]
    for name, best in rows:
        if best is None:
            print(f"  {method:7} {name:14} {'n/a':>7} {'n/a':>7} {'n/a':>10}")
        else:
            ratio = f"{best[0] / ours[0]:10.2f}" if ours else f"{'n/a':>10}"
            print(f"  {method:7} {name:14} {best[0]:7.2f} {best[1]:7.2f} {ratio}")
PY
