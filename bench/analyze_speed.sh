#!/usr/bin/env bash
# Times `calyx-cli analyze` on the default file (30 s of 1 kHz at 384 kHz,
# 32 bits, 92 MB) beside `ffmpeg -af astats` and `sox stats` in one run:
# medians and ratios; then its peak memory on the default file and on a
# ten times longer one; then the response to a 10 s 96 kHz 24-bit stereo
# sweep (`analyze SWEEP --reference SWEEP`) beside astats on the same file,
# with its peak memory per frame and channel. Usage: bench/analyze_speed.sh [path/to/calyx-cli]
# (RUNS=n, default 7). Benchmarks are not tests: run it by hand.
. "$(dirname "$0")/common.sh"
machine
echo "calyx-cli: $cli -> $(vector_path "$cli") path"
(cd "$out" && "$cli" --quiet --out default.wav)
file=$out/default.wav

# Times the commands after the title in one hyperfine run: medians, and
# the first's time over each's.
timed() {
  local title=$1
  shift
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/times.json" "$@" >/dev/null 2>&1
  python3 - "$out/times.json" "$title" <<'PY'
import json, sys
res = json.load(open(sys.argv[1]))["results"]
base = res[0]["median"]
print(f"medians ({sys.argv[2]}):")
for r in res:
    print(f"  {r['command']:22s} {r['median'] * 1000:8.1f} ms   first / this = {base / r['median']:5.3f}")
PY
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

timed "default file, 92160140 bytes" \
  -n "calyx-cli analyze" "$cli analyze $file" \
  -n "ffmpeg astats" "ffmpeg -nostdin -i $file -af astats -f null -" \
  -n "sox stats" "sox $file -n stats"

echo "peak resident memory of calyx-cli analyze:"
kb=$(/usr/bin/time -f %M "$cli" analyze "$file" 2>&1 >/dev/null | tail -1)
printf '  %-38s %6s KiB\n' "default, 92 MB" "$kb"
(cd "$out" && "$cli" --quiet --seconds 300 --rate 768000 --bits 32 --out long.wav)
kb=$(/usr/bin/time -f %M "$cli" analyze "$out/long.wav" 2>&1 >/dev/null | tail -1)
printf '  %-38s %6s KiB\n' "300 s at 768 kHz, 32 bits, 1.8 GB" "$kb"

# The response to a sweep: the whole command (the file's own figures too)
# against astats over the same file.
(cd "$out" && "$cli" --quiet --signal sweep --from 20 --to 20000 --seconds 10 --rate 96000 --bits 24 --out sweep.wav)
sweep=$out/sweep.wav
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
timed "10 s 96 kHz 24-bit stereo sweep" \
  -n "analyze --reference" "$cli analyze $sweep --reference $sweep" \
  -n "analyze" "$cli analyze $sweep" \
  -n "ffmpeg astats" "ffmpeg -nostdin -i $sweep -af astats -f null -"
kb=$(/usr/bin/time -f %M "$cli" analyze "$sweep" --reference "$sweep" 2>&1 >/dev/null | tail -1)
frames=$((($(stat -c %s "$sweep") - 44) / 6))
echo "peak resident memory of the response: $kb KiB, $((kb * 1024 / (frames * 2))) bytes per frame and channel"
