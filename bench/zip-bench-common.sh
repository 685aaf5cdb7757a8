# Shared start of the ZIP benchmark scripts (sourced, not run): the build
# directory, the corpus folder, the number of rounds, the tools compared, and
# a release build of kivo-unzip.
#
# Sets ROOT, BUILD (build/release, or $KIVO_BENCH_BUILD), CORPORA
# (<build>/bench-corpora, created), ROUNDS (the script's first argument,
# default 5) and TOOL (the built kivo-unzip).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${KIVO_BENCH_BUILD:-$ROOT/build/release}"
CORPORA="$BUILD/bench-corpora"
ROUNDS="${1:-5}"
for t in zip unzip 7zz bsdtar python3; do
  command -v "$t" >/dev/null || { echo "$t is not installed (scripts/setup)" >&2; exit 2; }
done

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target kivo-unzip -j2 >/dev/null
TOOL="$BUILD/tools/kivo-unzip"
mkdir -p "$CORPORA"
