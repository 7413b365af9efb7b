#!/usr/bin/env bash
# Each signal kind against the default sine request, side by side in one run,
# medians of RUNS runs (default 7): the same rate, width and length (30 s at
# 384 kHz, 32 bits; the sweep without its silence, so its bytes are within
# 0.2 % of the sine's). Ratios are of the time per byte written.
# Usage: bench/signals.sh [path/to/calyx-cli]
. "$(dirname "$0")/common.sh"
machine
echo "calyx-cli: $cli -> $(vector_path "$cli") path"

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores"
flags=$(grep -m1 '^flags' /proc/cpuinfo)
case "$flags" in
  *avx512f*) echo "vector path: AVX-512 (the engine's target clones)" ;;
  *avx2*) echo "vector path: AVX2 (the engine's target clones)" ;;
  *) echo "vector path: the default (SSE2)" ;;
esac

hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/signals.json" --prepare "rm -f $out/x.wav" \
  -n "sine" "$cli --quiet --out $out/x.wav" \
  -n "sine --phase exact" "$cli --quiet --phase exact --out $out/x.wav" \
  -n "sine 997 Hz --phase exact" "$cli --quiet --freq 997 --phase exact --out $out/x.wav" \
  -n "sweep" "$cli --quiet --signal sweep --silence 0 --out $out/x.wav" \
  -n "multitone" "$cli --quiet --signal multitone --out $out/x.wav" \
  -n "smpte" "$cli --quiet --signal smpte --out $out/x.wav" \
  -n "ccif" "$cli --quiet --signal ccif --out $out/x.wav" \
  -n "sine --channels left" "$cli --quiet --channels left --out $out/x.wav" \
  >/dev/null

# The sweep's bytes differ a little from the others': ratios are per byte.
$cli --quiet --out "$out/x.wav"
sine_bytes=$(stat -c %s "$out/x.wav")
$cli --quiet --signal sweep --silence 0 --out "$out/x.wav"
sweep_bytes=$(stat -c %s "$out/x.wav")
python3 - "$out/signals.json" "$sine_bytes" "$sweep_bytes" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
sine_bytes, sweep_bytes = int(sys.argv[2]), int(sys.argv[3])
base = results[0]["median"]
for r in results:
    b = sweep_bytes if r["command"] == "sweep" else sine_bytes
    ratio = r["median"] / base * sine_bytes / b
    print(f"  {r['command']:28s} median {r['median'] * 1000:7.1f} ms  user {r['user'] * 1000:6.1f} ms   "
          f"{ratio:5.2f} x the sine per byte")
PY
