#!/usr/bin/env bash
# Shows that one request gives a byte-identical file from the Linux build and
# both Windows builds (run under Wine), 16-bit dithered files included.
# Expects build/native, build/win-i686 and build/win-x86_64 to be built; uses
# the Wine prefix of tests/win/prefix.sh. Where only 64-bit programs run, the
# i686 build is built but not run.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

. tests/win/prefix.sh
builds=(linux)
for arch in i686 x86_64; do
  if wineruns "$arch"; then builds+=("win-$arch"); else winenotrun "file identity"; fi
done
printf -v names '%s, ' "${builds[@]}"

# Where a file differs from the Linux one: the sizes when they differ, then
# the first differing bytes (offsets from 0) with both values.
showdiff() {  # linux file, other file, other build's name
  local a=$1 b=$2 name=$3 at x y n=0
  if [ "$(stat -c %s "$a")" != "$(stat -c %s "$b")" ]; then
    echo "  sizes: linux $(stat -c %s "$a") bytes, $name $(stat -c %s "$b") bytes"
  fi
  while read -r at x y; do
    n=$((n + 1))
    [ $n -le 8 ] || { echo "  (and more)"; break; }
    printf '  offset %d: linux 0x%02x, %s 0x%02x\n' $((at - 1)) $((8#$x)) "$name" $((8#$y))
  done < <(cmp -l "$a" "$b" 2>/dev/null | head -n 9)
}

out=$root/build/file-identity
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# rate, frequency, attenuation, seconds, bits (and more options): the
# default tone (no dry run, phases up to 2e5 rad), a dithered one, a
# unit-corrected one, a fractional one at 0 dB, a long high-rate one; then
# one file of every other signal, with channels routed and dither.
requests=(
  "384000 1000 0 30 32"
  "44100 997 0 3 16"
  "44100 1000 0 1 24"
  "48000 1000.3 3 2 32"
  "8000 112.9 0 1 32"
  "768000 19999.7 20 60 16"
  "384000 997 0 30 32 --phase exact"
  "48000 1000.3 0 3 24 --phase exact"
  "48000 1000 0 5 32 --signal sweep"
  "96000 1000 10 3 16 --signal sweep --from 50 --to 40000 --silence 0.5 --channels inverted"
  "48000 1000 0 5 24 --signal multitone"
  "44100 1000 0 4 32 --signal multitone --tones octaves --period 4096 --channels right"
  "96000 1000 0 3 16 --signal smpte --channels inverted"
  "44100 1000 0 3 32 --signal ccif --channels left"
)
status=0
n=0
for r in "${requests[@]}"; do
  read -r rate freq atten seconds bits more <<<"$r"
  n=$((n + 1))
  args=(--quiet --rate "$rate" --freq "$freq" --atten "$atten" --seconds "$seconds" --bits "$bits")
  read -r -a more <<<"${more:-}"
  args+=("${more[@]}")
  same=(linux)
  "$root/build/native/src/cli/calyx-cli" "${args[@]}" --out "linux-$n.wav"
  for b in "${builds[@]:1}"; do
    rc=0
    DISPLAY= "$CALYX_WINE" "$root/build/$b/src/cli/calyx-cli.exe" "${args[@]}" --out "$b-$n.wav" || rc=$?
    if [ $rc -ne 0 ]; then
      echo "file identity: $r: $b's calyx-cli.exe ended with exit $rc" >&2
      status=1
    elif ! cmp -s "linux-$n.wav" "$b-$n.wav"; then
      echo "file identity: $r: $b DIFFERS from linux" >&2
      showdiff "linux-$n.wav" "$b-$n.wav" "$b" >&2
      status=1
    else
      same+=("$b")
    fi
  done
  if [ ${#same[@]} -eq ${#builds[@]} ]; then
    echo "file identity: $r -> $(stat -c %s "linux-$n.wav") bytes, identical on ${names%, }"
  fi
  rm -f ./*-"$n".wav
done
wineserver -k 2>/dev/null || true
exit $status
