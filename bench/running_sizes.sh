#!/usr/bin/env bash
# What keeping a regular file's sizes current costs on the default request:
# calyx-cli against a build that writes them only at the finish, run in
# turns (RUNS pairs, default 40) on the same folder; medians and their ratio.
# Usage: bench/running_sizes.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --build build/native --target calyx-cli >/dev/null
cmake -S . -B build/bench-no-sizes -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALYX_TESTS=OFF \
  -DCMAKE_CXX_FLAGS=-DCALYX_BENCH_NO_RUNNING_SIZES >/dev/null
cmake --build build/bench-no-sizes --target calyx-cli >/dev/null
out=$(mktemp -d -p "$root/build")
trap 'rm -rf "$out"' EXIT
python3 - "$root/build/native/src/cli/calyx-cli" "$root/build/bench-no-sizes/src/cli/calyx-cli" "$out" "${RUNS:-40}" <<'PY'
import os, statistics, subprocess, sys, time
with_sizes, without, out, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
times = {with_sizes: [], without: []}
for i in range(runs):
    for cli in ((with_sizes, without) if i % 2 == 0 else (without, with_sizes)):
        path = os.path.join(out, "t.wav")
        if os.path.exists(path):
            os.remove(path)
        start = time.perf_counter()
        subprocess.run([cli, "--quiet", "--out", path], check=True)
        times[cli].append(time.perf_counter() - start)
a, b = statistics.median(times[with_sizes]), statistics.median(times[without])
print(f"sizes kept current: median {a * 1000:.1f} ms; written at the finish only: {b * 1000:.1f} ms;"
      f" cost {100 * (a / b - 1):+.1f} %")
PY
