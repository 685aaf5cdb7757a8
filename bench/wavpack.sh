#!/usr/bin/env bash
# WavPack items: a 100 MiB 16-bit stereo WAV file compressed by `wavpack` and
# stored as a method 97 item, tested by `kivo-unzip t`, extracted by
# `kivo-unzip x` and unpacked by `wvunpack` to a file. Prints the best wall
# and CPU time of ROUNDS runs of each. (bzip2, LZMA and PPMd items are
# measured by zip-methods.sh.)
#
#   bench/wavpack.sh [ROUNDS]
#
# ROUNDS defaults to 3. Corpora are kept in <build>/bench-corpora; output
# goes below $TMPDIR (default /tmp) and is removed after each run.
set -euo pipefail
source "$(dirname "$0")/zip-bench-common.sh"
for t in wavpack wvunpack; do
  command -v "$t" >/dev/null || { echo "$t is not installed (scripts/setup)" >&2; exit 2; }
done
WAV="$CORPORA/audio-100m.wav"
WAVZIP="$CORPORA/wavpack-100m.zip"
WV="$CORPORA/audio-100m.wv"

if [ ! -s "$WAVZIP" ]; then
  echo "making the WavPack corpus (100 MiB WAV, wavpack, stored as method 97)..." >&2
  python3 - "$WAV" "$WV" "$WAVZIP" <<'PY'
import array, math, os, random, struct, subprocess, sys, zlib
wav, wv, out = sys.argv[1:4]
frames = 104857600 // 4
rng = random.Random(1)
with open(wav, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + frames * 4) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, 44100, 44100 * 4, 4, 16) +
            b"data" + struct.pack("<I", frames * 4))
    for start in range(0, frames, 44100):
        block = array.array("h")
        for i in range(start, min(frames, start + 44100)):
            t = i / 44100.0
            for ch in (0, 1):
                s = (0.3 * math.sin(2 * math.pi * 220 * (1 + ch * 0.01) * t) +
                     0.2 * math.sin(2 * math.pi * 330.5 * t + ch) + rng.uniform(-0.06, 0.06))
                block.append(int(s * 20000))
        f.write(block.tobytes())
subprocess.run(["wavpack", "-q", "-y", wav, "-o", wv], check=True)
crc = 0
with open(wav, "rb") as f:
    while chunk := f.read(1 << 20):
        crc = zlib.crc32(chunk, crc)
data = open(wv, "rb").read()
name, size = b"audio.wav", os.path.getsize(wav)
local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 97, 0, 0x21, crc, len(data), size,
                    len(name), 0) + name
central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 97, 0, 0x21, crc, len(data),
                      size, len(name), 0, 0, 0, 0, 0, 0) + name
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(data), 0)
with open(out, "wb") as f:
    f.write(local + data + central + end)
PY
fi

OUT=$(mktemp -d "${TMPDIR:-/tmp}/kivo-bench-wavpack-XXXXXX")
trap 'rm -rf "$OUT"' EXIT

# Best wall and CPU (user + system) seconds of ROUNDS runs of a command.
best() {
  local label=$1 wall cpu bw="" bc=""
  shift
  for _ in $(seq "$ROUNDS"); do
    rm -rf "$OUT/x" && mkdir "$OUT/x"
    /usr/bin/time -o "$OUT/time" -f '%e %U %S' "$@" >/dev/null 2>&1
    read -r wall cpu < <(awk '{ print $1, $2 + $3 }' "$OUT/time")
    if [ -z "$bw" ] || awk "BEGIN { exit !($wall < $bw) }"; then bw=$wall; bc=$cpu; fi
  done
  printf '%-34s wall %6.2f s  cpu %6.2f s\n' "$label" "$bw" "$bc"
}

best "kivo-unzip t (WavPack)" "$TOOL" t "$WAVZIP"
best "kivo-unzip x (WavPack)" "$TOOL" x "$WAVZIP" -d "$OUT/x"
best "wvunpack to a file" wvunpack -q -y "$WV" -o "$OUT/x/audio.wav"
