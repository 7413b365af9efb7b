#!/usr/bin/env bash
# Builds Calyx natively, with sanitizers, with hostile compiler flags and for
# Windows, and runs every test. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
configure() {  # build dir, then cmake arguments
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${@:2}" >/dev/null
  cmake --build "$1" -j "$jobs"
}

echo "== native build and tests"
configure build/native -DCALYX_BENCHMARKS=ON
ctest --test-dir build/native --output-on-failure -j "$jobs"

echo "== address and undefined-behaviour sanitizers"
configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCALYX_SANITIZE=ON
ctest --test-dir build/sanitize --output-on-failure -j "$jobs" -LE slow

# The analysis under libFuzzer for a bounded time (CALYX_FUZZ_SECONDS, 90 by
# default), from the seeds in tests/fuzz/corpus; what it finds is written to
# build/fuzz/found/, and an input that crashes stops the script: it belongs in
# tests/fuzz/regressions/, which every build's tests run through again.
echo "== fuzzing the analysis (clang, address, undefined and float-cast-overflow sanitizers)"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCALYX_FUZZ=ON -DCALYX_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target analyze_fuzz
mkdir -p build/fuzz/found
build/fuzz/tests/fuzz/analyze_fuzz -max_total_time="${CALYX_FUZZ_SECONDS:-90}" -timeout=20 -rss_limit_mb=1024 \
  -max_len=65536 -artifact_prefix=build/fuzz/ -print_final_stats=1 build/fuzz/found tests/fuzz/corpus \
  2>build/fuzz/fuzz.log || { tail -n 60 build/fuzz/fuzz.log; exit 1; }

# The engine's own options must win over the caller's: every test passes and
# the golden files keep their bytes.
echo "== hostile flags: -O3 -march=native -ffp-contract=fast"
configure build/hostile -DCMAKE_CXX_FLAGS="-O3 -march=native -ffp-contract=fast"
ctest --test-dir build/hostile --output-on-failure -j "$jobs"

echo "== Windows builds (i686 and x86-64)"
for arch in i686 x86_64; do
  configure "build/win-$arch" -DCALYX_BENCHMARKS=ON -DCMAKE_TOOLCHAIN_FILE="cmake/$arch-w64-mingw32.cmake"
done

# Where only 64-bit programs run, the i686 build is built but not run (all.sh
# says so at its end).
bash tests/win/all.sh
# Once more as on a host that cannot run 32-bit programs (the x86-64 build
# under the 64-bit loader, in a prefix of its own), so that path is run on
# every host.
if [ "${CALYX_WINE64_ONLY:-}" != 1 ]; then
  CALYX_WINE64_ONLY=1 bash tests/win/all.sh
fi

# ---- Release (scripts/release.sh, scripts/release-test.sh): the packages in
# dist/ built from scratch, then installed and used as a user would.
echo "== release packages, built and tested"
bash scripts/release.sh
bash scripts/release-test.sh
