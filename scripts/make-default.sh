#!/usr/bin/env bash
# Builds calyx-cli and writes the default Test.wav (30 s, 1 kHz, 384 kHz, 32 bits)
# into the working directory it is run from.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target calyx-cli
cd "$here" && "$root/build/native/src/cli/calyx-cli"
