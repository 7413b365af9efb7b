#!/usr/bin/env bash
# The analysis's complex and real FFT against Eigen's, side by side in one
# run of bench/fft_bench (built with -DCALYX_BENCHMARKS=ON): each length's
# times and Eigen's time over the analysis's. Usage: bench/fft.sh
# [path/to/fft_bench]. Benchmarks are not tests: run it by hand.
. "$(dirname "$0")/common.sh" /dev/null
bench=$(realpath "${1:-build/native/bench/fft_bench}")
machine
echo "fft_bench: $bench -> $(vector_path "$bench") path"
"$bench" --benchmark_min_time=0.5 --benchmark_format=json >"$out/fft.json" 2>/dev/null
python3 - "$out/fft.json" <<'PY'
import json, sys
times = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    kind, who, n = b["name"].split("/")
    times.setdefault((kind, int(n)), {})[who] = b["real_time"]
for (kind, n), t in times.items():
    print(f"  {kind:13s} {n:8d}  own {t['own']:7.2f} ms  Eigen {t['eigen']:7.2f} ms  Eigen / own = {t['eigen'] / t['own']:4.1f}")
PY
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
