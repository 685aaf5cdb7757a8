#!/usr/bin/env bash
# Compressed tar benchmark: a tree of about 500 MB of text in 5,000 files,
# packed by GNU tar as .tar.gz (gzip -6) and .tar.bz2 (bzip2 -9), extracted
# into a fresh empty folder by `kivo-unzip x` (the .tar.bz2 with its blocks
# decoded by one thread, -j 1, and by two, -j 2), `tar -xzf` / `tar -xjf` and
# `bsdtar -xf`, alternating in one run. Reports the median wall time, CPU
# time (user + system) and peak memory of each tool and their ratios to ours
# (above 1: ours is faster or smaller).
#
#   bench/tar-extract.sh [ROUNDS]
#
# ROUNDS defaults to 5. The build directory is build/release (or
# $KIVO_BENCH_BUILD); the archives are kept in <build>/bench-corpora, the
# extraction folders go below $TMPDIR (default /tmp). kivo-unzip decodes the
# whole tar into its swap-backed stream (in $TMPDIR) before it extracts.
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"
source "$(dirname "$0")/extract-common.sh"
source "$(dirname "$0")/text-corpus.sh"
TGZ="$CORPORA/text-500m.tar.gz"
TBZ="$CORPORA/text-500m.tar.bz2"

if [ ! -s "$TGZ" ] || [ ! -s "$TBZ" ]; then
  make_text_corpus "$CORPORA/text.bin"
  src=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-tar-src-XXXXXX")
  trap 'rm -rf "$src"' EXIT
  echo "making the tree (5 x 100 MB of text in 100 KB files)..." >&2
  for copy in 1 2 3 4 5; do
    mkdir -p "$src/copy$copy"
    (cd "$src/copy$copy" && split -b 100000 -a 4 -d "$CORPORA/text.bin" part)
  done
  (cd "$src" && tar --format=pax --mtime=@1600000000 -czf "$TGZ.tmp" . && mv "$TGZ.tmp" "$TGZ")
  (cd "$src" && tar --format=pax --mtime=@1600000000 -cjf "$TBZ.tmp" . && mv "$TBZ.tmp" "$TBZ")
  rm -rf "$src"
  trap - EXIT
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-tar-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Sanity: ours extracts every file of both archives.
for archive in "$TGZ" "$TBZ"; do
  "$TOOL" x "$archive" -d "$work/check" -q
  files=$(find "$work/check" -type f | wc -l)
  [ "$files" = 5000 ] || { echo "kivo-unzip extracted $files files of $archive" >&2; exit 1; }
  rm -rf "$work/check"
done

FRESH_PAUSE=3

command_for() {
  case "$1" in
    "kivo-unzip x .tar.gz") CMD=("$TOOL" x "$TGZ" -d "$work/out" -q) ;;
    "tar -xzf") CMD=(tar -xzf "$TGZ" -C "$work/out") ;;
    "bsdtar -xf .tar.gz") CMD=(bsdtar -xf "$TGZ" -C "$work/out") ;;
    "kivo-unzip x .tar.bz2") CMD=("$TOOL" x "$TBZ" -d "$work/out" -q -j 1) ;;
    "kivo-unzip x .tar.bz2 -j 2") CMD=("$TOOL" x "$TBZ" -d "$work/out" -q -j 2) ;;
    "tar -xjf") CMD=(tar -xjf "$TBZ" -C "$work/out") ;;
    "bsdtar -xf .tar.bz2") CMD=(bsdtar -xf "$TBZ" -C "$work/out") ;;
  esac
}


echo "archives: $TGZ ($(stat -c %s "$TGZ") bytes), $TBZ ($(stat -c %s "$TBZ") bytes)"
run_set tar.gz "kivo-unzip x .tar.gz" "tar -xzf" "bsdtar -xf .tar.gz"
run_set tar.bz2 "kivo-unzip x .tar.bz2" "kivo-unzip x .tar.bz2 -j 2" "tar -xjf" "bsdtar -xf .tar.bz2"
