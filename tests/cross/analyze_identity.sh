#!/usr/bin/env bash
# Shows that `calyx-cli analyze` reports the same figures, to the printed
# precision, from the Linux build and both Windows builds (under Wine), for
# a Calyx file, a sox file, a float file with fades, a tone near half the
# rate, float samples that are not numbers, a truncated file, and two tones
# with a crosstalk channel (IMD, crosstalk, gain and phase), and responses
# (`--reference`) to a multitone, to noise, and to a Calyx sweep of a
# filtered, delayed, slightly nonlinear path and of a recorder whose clock
# runs 100 ppm fast. Expects
# build/native, build/win-i686 and build/win-x86_64 to be built; uses the
# Wine prefix of tests/win/prefix.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
cli=$root/build/native/src/cli/calyx-cli

. tests/win/prefix.sh
arches=()
for arch in i686 x86_64; do
  if wineruns "$arch"; then arches+=("$arch"); else winenotrun "analyze identity"; fi
done

out=$root/build/analyze-identity
rm -rf "$out"
mkdir -p "$out"
cd "$out"
"$cli" --quiet --rate 48000 --seconds 3 --out calyx.wav
"$cli" --quiet --signal multitone --tones octaves --rate 48000 --seconds 4 --bits 24 --out multitone.wav
"$cli" --quiet --rate 44100 --freq 19999.7 --atten 20 --seconds 2 --bits 24 --out nyquist.wav
sox -n -r 96000 -b 24 -c 2 sox.wav synth 2 sine 997
python3 - <<'PY'
import sys
sys.path.insert(0, "../../tests/analyze")
import wavegen as g
s = g.tone(48000, 48000, 997.3, 0.5, harmonics=[(2, 1e-3), (3, 3e-4)], noise=1e-5, fade=480, lead=100, tail=700)
g.write("float.wav", g.wave_bytes([s, s], 48000, 32, g.FLOAT))
g.write("nan.wav", g.wave_bytes([[0.5, float("nan"), -0.5, float("inf")] * 100], 48000, 32, g.FLOAT))
import math
a = [0.25 * math.sin(2 * math.pi * 19000 * n / 48000) + 0.25 * math.sin(2 * math.pi * 20000 * n / 48000 + 0.7)
     for n in range(48000)]
a = [v + 0.01 * v * v + 0.02 * v ** 3 for v in a]
b = [0.5 * math.sin(2 * math.pi * 997 * n / 48000) for n in range(48000)]
c = [3e-6 * math.sin(2 * math.pi * 997 * n / 48000 + 1) for n in range(48000)]
g.write("twotone.wav", g.wave_bytes([a, b, c, b], 48000, 24))
import random, struct
rnd = random.Random(2)
raw = open("multitone.wav", "rb").read()
data = raw[raw.index(b"data") + 8:]
ints = [int.from_bytes(data[i:i + 3], "little", signed=True) / 8388608 for i in range(0, len(data), 6)]
late = [0.0] * 37 + [0.5 * v + rnd.gauss(0.0, 1e-4) for v in ints]
g.write("multitone-late.wav", g.wave_bytes([late], 48000, 32, g.FLOAT))
noise = [rnd.gauss(0.0, 0.1) for _ in range(48000)]
g.write("noise.wav", g.wave_bytes([noise], 48000, 32, g.FLOAT))
g.write("noise-late.wav", g.wave_bytes([[0.0] * 11 + [0.7 * v + rnd.gauss(0.0, 1e-3) for v in noise]], 48000, 32, g.FLOAT))
data = open("calyx.wav", "rb").read()
g.write("truncated.wav", data[:-5001])
PY

"$cli" --quiet --signal sweep --from 20 --to 12000 --seconds 2 --rate 48000 --bits 24 --out sweep.wav
python3 - <<'PY'
import math, sys, wave
sys.path.insert(0, "../../tests/analyze")
import wavegen as g
with wave.open("sweep.wav") as w:
    raw = w.readframes(w.getnframes())
x = [int.from_bytes(raw[i:i + 3], "little", signed=True) / 2 ** 23 for i in range(0, len(raw), 6)]
# 37 samples later, a gentle one-pole low-pass, y + 0.05 y^2.
x = [0.0] * 37 + x + [0.0] * 3000
y, state = [], 0.0
for a in x:
    state += 0.9 * (a - state)
    y.append(state + 0.05 * state * state)
g.write("path.wav", g.wave_bytes([y], 48000, 24))
# A clock 100 ppm fast, by a Blackman-windowed sinc of 32 taps: flat to
# 12 kHz at 48 kHz.
stretch = 1 + 100e-6
z = []
for m in range(int(len(x) * stretch)):
    t = m / stretch
    i = int(t)
    v = 0.0
    for j in range(max(0, i - 15), min(len(x), i + 17)):
        d = t - j
        u = (d / 16 + 1) / 2
        w = 0.42 - 0.5 * math.cos(2 * math.pi * u) + 0.08 * math.cos(4 * math.pi * u)
        v += x[j] * (math.sin(math.pi * d) / (math.pi * d) if d else 1.0) * w
    z.append(v)
g.write("clock.wav", g.wave_bytes([z], 48000, 24))
PY

status=0
# compare WHAT NAME ARGS...: analyze --json ARGS from every build, compared.
compare() {
  local what=$1 name=$2
  shift 2
  "$cli" analyze --json "$@" >"linux-$name.json"
  for arch in "${arches[@]}"; do
    DISPLAY= "$CALYX_WINE" "$root/build/win-$arch/src/cli/calyx-cli.exe" analyze --json "$@" | tr -d '\r' >"$arch-$name.json"
    if cmp -s "linux-$name.json" "$arch-$name.json"; then
      echo "analyze identity: $what reported the same by Linux and win-$arch"
    else
      echo "analyze identity: $what DIFFERS between Linux and win-$arch" >&2
      diff "linux-$name.json" "$arch-$name.json" >&2 || true
      status=1
    fi
  done
}
for f in calyx.wav nyquist.wav sox.wav float.wav nan.wav truncated.wav twotone.wav; do
  compare "$f" "$f" "$f"
done
compare "the response of multitone-late.wav" response-multitone multitone-late.wav --reference multitone.wav
compare "the response of noise-late.wav" response-noise noise-late.wav --reference noise.wav
compare "the response of path.wav" response-path path.wav --reference sweep.wav
compare "the response of clock.wav" response-clock clock.wav --reference sweep.wav
wineserver -k 2>/dev/null || true
exit $status
