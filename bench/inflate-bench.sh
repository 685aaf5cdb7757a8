#!/usr/bin/env bash
# DEFLATE decoding benchmark: builds the release configuration and the local
# corpora, then runs InflateBench (Inflate vs zlib vs libdeflate, medians of N rounds).
#
#   bench/inflate-bench.sh [--reps N]
#
# The build directory is build/release (the release preset's), or $KIVO_BENCH_BUILD.
# Corpora (kept in <build>/bench-corpora, made once):
#   text.bin    100 MB of text: 50 MB of /usr/share/doc (gzip'ed files unpacked), 50 MB of /usr/include
#   binary.bin  100 MB of shared libraries from /usr/lib
#   *-d64.zip   the same corpora compressed by 7-Zip with Deflate64
set -euo pipefail
source "$(dirname "$0")/text-corpus.sh"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="${KIVO_BENCH_BUILD:-$ROOT/build/release}"
CORPORA="$BUILD/bench-corpora"
SIZE=100000000

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target InflateBench -j2 >/dev/null
mkdir -p "$CORPORA"

make_text_corpus "$CORPORA/text.bin"
if [ ! -s "$CORPORA/binary.bin" ]; then
  echo "building the binary corpus..." >&2
  find /usr/lib -type f \( -name '*.so' -o -name '*.so.*' \) | LC_ALL=C sort | xargs -d '\n' cat 2>/dev/null \
    | head -c "$SIZE" > "$CORPORA/binary.bin" || true
fi
for c in text binary; do
  if [ ! -s "$CORPORA/$c-d64.zip" ]; then
    echo "compressing $c with 7-Zip Deflate64..." >&2
    (cd "$CORPORA" && 7zz a -tzip -mm=Deflate64 "$c-d64.zip" "$c.bin" >/dev/null)
  fi
done

"$BUILD/bench/InflateBench" "$@" text="$CORPORA/text.bin" binary="$CORPORA/binary.bin" \
  --deflate64 "text Deflate64=$CORPORA/text-d64.zip:$CORPORA/text.bin" \
  --deflate64 "binary Deflate64=$CORPORA/binary-d64.zip:$CORPORA/binary.bin"
