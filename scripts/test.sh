#!/usr/bin/env bash
# Builds Calyx natively, with sanitizers and for Windows, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== native build and tests"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

echo "== address and undefined-behaviour sanitizers"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCALYX_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j "$jobs"
ctest --test-dir build/sanitize --output-on-failure -j "$jobs" -LE slow

echo "== Windows builds (i686 and x86-64)"
for arch in i686 x86_64; do
  cmake -S . -B "build/win-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/$arch-w64-mingw32.cmake" >/dev/null
  cmake --build "build/win-$arch" -j "$jobs"
done

echo "== the same bits from every build (Windows builds under Wine)"
bash tests/cross/math_identity.sh >/dev/null
bash tests/cross/file_identity.sh
bash tests/cross/analyze_identity.sh

echo "== the dialog program under Wine and Xvfb (i686 and x86-64)"
for arch in i686 x86_64; do
  bash tests/win/run.sh "build/win-$arch"
done
