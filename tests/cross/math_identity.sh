#!/usr/bin/env bash
# Shows that the Linux build and both Windows builds (run under Wine) compute
# the same bits for the synthesis's sine, cosine and power and the
# analysis's FFT: each runs
# tone_math_identity and the outputs must be identical.
# Uses (and configures when missing) build/native, build/win-i686 and
# build/win-x86_64, and the Wine prefix of tests/win/prefix.sh. Where only
# 64-bit programs run, the i686 build is built but not run.
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

root=$PWD
. tests/win/prefix.sh

out=build/math-identity
rm -rf "$out"
mkdir -p "$out"
build/native/tests/tone_math_identity >"$out/linux.txt"
status=0
for arch in i686 x86_64; do
  w=win-$arch
  if ! wineruns "$arch"; then
    winenotrun "math identity"
    continue
  fi
  # A console program needs no display; Wine writes CR LF line ends.
  rc=0
  DISPLAY= "$CALYX_WINE" "build/$w/tests/tone_math_identity.exe" | tr -d '\r' >"$out/$w.txt" || rc=$?
  if [ $rc -ne 0 ]; then
    echo "math identity: $w did not run: exit $rc from $CALYX_WINE" >&2
    status=1
  elif cmp -s "$out/linux.txt" "$out/$w.txt"; then
    echo "math identity: $w matches Linux ($(wc -l <"$out/linux.txt") lines of digests)"
  else
    echo "math identity: $w DIFFERS from Linux; the lines that differ:" >&2
    diff --unchanged-line-format= --old-line-format="  linux:      %L" \
      --new-line-format="  $(printf '%-11s' "$w:") %L" "$out/linux.txt" "$out/$w.txt" >&2 || true
    status=1
  fi
done
wineserver -k 2>/dev/null || true
exit $status
