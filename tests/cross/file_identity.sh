#!/usr/bin/env bash
# Shows that one request gives a byte-identical file from the Linux build and
# both Windows builds (run under Wine), 16-bit dithered files included.
# Expects build/native, build/win-i686 and build/win-x86_64 to be built; uses
# the Wine prefix in build/wine (made when missing).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

export WINEPREFIX="$root/build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  DISPLAY= wineboot -i >/dev/null 2>&1
  wineserver -w
fi

out=$root/build/file-identity
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# rate, frequency, attenuation, seconds, bits: the default tone (no dry run,
# phases up to 2e5 rad), a dithered one, a unit-corrected one, a fractional
# one at 0 dB, and a long high-rate one.
requests=(
  "384000 1000 0 30 32"
  "44100 997 0 3 16"
  "44100 1000 0 1 24"
  "48000 1000.3 3 2 32"
  "8000 112.9 0 1 32"
  "768000 19999.7 20 60 16"
)
status=0
n=0
for r in "${requests[@]}"; do
  read -r rate freq atten seconds bits <<<"$r"
  n=$((n + 1))
  args=(--quiet --rate "$rate" --freq "$freq" --atten "$atten" --seconds "$seconds" --bits "$bits")
  "$root/build/native/src/cli/calyx-cli" "${args[@]}" --out "linux-$n.wav"
  for arch in i686 x86_64; do
    DISPLAY= wine "$root/build/win-$arch/src/cli/calyx-cli.exe" "${args[@]}" --out "$arch-$n.wav"
  done
  sums=$(sha256sum "linux-$n.wav" "i686-$n.wav" "x86_64-$n.wav" | awk '{print $1}' | sort -u | wc -l)
  size=$(stat -c %s "linux-$n.wav")
  if [ "$sums" = 1 ]; then
    echo "file identity: $r -> $size bytes, identical on Linux, win-i686 and win-x86_64"
  else
    echo "file identity: $r DIFFERS between builds" >&2
    cmp "linux-$n.wav" "i686-$n.wav" | head -1 >&2 || true
    cmp "linux-$n.wav" "x86_64-$n.wav" | head -1 >&2 || true
    status=1
  fi
  rm -f ./*-"$n".wav
done
wineserver -k 2>/dev/null || true
exit $status
