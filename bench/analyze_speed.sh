#!/usr/bin/env bash
# Times `calyx-cli analyze` on the default file (30 s of 1 kHz at 384 kHz,
# 32 bits, 92 MB) beside `ffmpeg -af astats` and `sox stats` in one run:
# medians and ratios; then its peak memory on the default file and on a
# ten times longer one. Usage: bench/analyze_speed.sh [path/to/calyx-cli]
# (RUNS=n, default 7). Benchmarks are not tests: run it by hand.
. "$(dirname "$0")/common.sh"
machine
echo "calyx-cli: $cli -> $(vector_path "$cli") path"
(cd "$out" && "$cli" --quiet --out default.wav)
file=$out/default.wav

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/times.json" \
  -n "calyx-cli analyze" "$cli analyze $file" \
  -n "ffmpeg astats" "ffmpeg -nostdin -i $file -af astats -f null -" \
  -n "sox stats" "sox $file -n stats" >/dev/null 2>&1
python3 - "$out/times.json" <<'PY'
import json, sys
res = json.load(open(sys.argv[1]))["results"]
base = res[0]["median"]
print("medians (default file, 92160140 bytes):")
for r in res:
    print(f"  {r['command']:18s} {r['median'] * 1000:8.1f} ms   analyze / this = {base / r['median']:5.3f}")
PY
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "peak resident memory of calyx-cli analyze:"
kb=$(/usr/bin/time -f %M "$cli" analyze "$file" 2>&1 >/dev/null | tail -1)
printf '  %-38s %6s KiB\n' "default, 92 MB" "$kb"
(cd "$out" && "$cli" --quiet --seconds 300 --rate 768000 --bits 32 --out long.wav)
kb=$(/usr/bin/time -f %M "$cli" analyze "$out/long.wav" 2>&1 >/dev/null | tail -1)
printf '  %-38s %6s KiB\n' "300 s at 768 kHz, 32 bits, 1.8 GB" "$kb"
