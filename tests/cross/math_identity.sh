#!/usr/bin/env bash
# Shows that the Linux build and both Windows builds (run under Wine) compute
# the same bits for the synthesis's sine, cosine and power: each runs
# tone_math_identity and the outputs must be identical.
# Uses (and configures when missing) build/native, build/win-i686 and
# build/win-x86_64, and a Wine prefix in build/wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=${JOBS:-2}

configure() {  # build dir, extra cmake arguments
  [ -f "$1/build.ninja" ] || cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release "${@:2}" >/dev/null
  cmake --build "$1" -j "$jobs" --target tone_math_identity >/dev/null
}
configure build/native
configure build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
configure build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake

export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  DISPLAY= wineboot -i >/dev/null 2>&1
  wineserver -w
fi

out=build/math-identity
mkdir -p "$out"
build/native/tests/tone_math_identity >"$out/linux.txt"
# A console program needs no display; Wine writes CR LF line ends.
DISPLAY= wine build/win-i686/tests/tone_math_identity.exe | tr -d '\r' >"$out/win-i686.txt"
DISPLAY= wine build/win-x86_64/tests/tone_math_identity.exe | tr -d '\r' >"$out/win-x86_64.txt"
wineserver -k || true

cat "$out/linux.txt"
status=0
for w in win-i686 win-x86_64; do
  if diff -u "$out/linux.txt" "$out/$w.txt"; then
    echo "math identity: $w matches Linux"
  else
    echo "math identity: $w DIFFERS from Linux" >&2
    status=1
  fi
done
exit $status
