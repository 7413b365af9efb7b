#!/usr/bin/env bash
# Times calyx-cli on the default request (30 s, 384 kHz, 32 bits, stereo)
# beside sox and ffmpeg making the same tone, and reports calyx-cli's peak
# memory. Usage: bench/compare.sh [path/to/calyx-cli]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/native/src/cli/calyx-cli}")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

hyperfine --warmup 1 --runs "${RUNS:-10}" --export-json "$out/times.json" \
  -n calyx-cli "$cli --quiet --out $out/calyx.wav" \
  -n sox "sox -n -r 384000 -b 32 -c 2 $out/sox.wav synth 30 sine 1000" \
  -n ffmpeg "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=1000:sample_rate=384000:duration=30 -ac 2 -c:a pcm_s32le $out/ffmpeg.wav"

python3 - "$out/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
base = results["calyx-cli"]["mean"]
print("\nmean times and ratios to calyx-cli:")
for name, r in results.items():
    print(f"  {name:10s} {r['mean'] * 1000:8.1f} ms +- {r['stddev'] * 1000:5.1f}   x{r['mean'] / base:6.2f}")
PY

for name in calyx-cli sox ffmpeg; do
  case $name in
    calyx-cli) cmd=("$cli" --quiet --out "$out/calyx.wav") ;;
    sox) cmd=(sox -n -r 384000 -b 32 -c 2 "$out/sox.wav" synth 30 sine 1000) ;;
    ffmpeg) cmd=(ffmpeg -nostdin -loglevel error -y -f lavfi
                 -i sine=frequency=1000:sample_rate=384000:duration=30 -ac 2 -c:a pcm_s32le "$out/ffmpeg.wav") ;;
  esac
  rss=$(/usr/bin/time -v "${cmd[@]}" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}')
  echo "peak RSS $name: $rss kB"
done
