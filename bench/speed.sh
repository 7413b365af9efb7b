#!/usr/bin/env bash
# Times calyx-cli beside ffmpeg, sox and dd in one run, on the same folder,
# and reports medians and ratios; then calyx-cli's peak memory over a spread
# of requests. Usage: bench/speed.sh [path/to/calyx-cli]   (RUNS=n, default 7)
. "$(dirname "$0")/common.sh"
machine
echo "calyx-cli: $cli -> $(vector_path "$cli") path"
ff="ffmpeg -nostdin -loglevel error -y -f lavfi"

bench() {  # name, then pairs of label and command
  local name=$1; shift
  local args=()
  while [ $# -gt 0 ]; do args+=(-n "$1" "$2"); shift 2; done
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/$name.json" "${args[@]}" >/dev/null 2>&1
  python3 - "$out/$name.json" "$name" <<'PY'
import json, sys
res = json.load(open(sys.argv[1]))["results"]
base = res[0]["median"]
print(f"{sys.argv[2]}:")
for r in res:
    print(f"  {r['command']:10s} median {r['median'] * 1000:7.1f} ms   calyx-cli / this = {base / r['median']:5.2f}")
PY
}

# 1. The default request: 30 s at 384 kHz, 32 bits (92160140 bytes).
bench "1. default, 32 bits" \
  calyx-cli "$cli --quiet --out $out/c1.wav" \
  ffmpeg "$ff -i sine=frequency=1000:sample_rate=384000:duration=30 -ac 2 -c:a pcm_s32le $out/f1.wav" \
  "dd bs=1M" "dd if=/dev/zero of=$out/d1.wav bs=1M iflag=count_bytes count=92160140 status=none"

# 2. 10 s at 192 kHz, 24 bits: planned with a dry run, so every sine twice.
bench "2. 10 s, 192 kHz, 24 bits" \
  calyx-cli "$cli --quiet --rate 192000 --seconds 10 --bits 24 --out $out/c2.wav" \
  ffmpeg "$ff -i sine=frequency=1000:sample_rate=192000:duration=10 -ac 2 -c:a pcm_s24le $out/f2.wav"

# 3. The default length at 16 bits, dithered.
bench "3. default, 16 bits" \
  calyx-cli "$cli --quiet --bits 16 --out $out/c3.wav" \
  sox "sox -n -r 384000 -b 16 -c 2 $out/s3.wav synth 30 sine 1000"

# 4. Peak memory: nothing may grow with the tone.
echo "4. peak resident memory of calyx-cli:"
while read -r label args; do
  rm -f "$out/m.wav"
  kb=$(/usr/bin/time -f %M "$cli" --quiet $args --out "$out/m.wav" 2>&1 >/dev/null | tail -1)
  printf '  %-34s %6s KiB\n' "$label" "$kb"
done <<'LIST'
default                            --bits 32
16-bit,default-length              --bits 16
24-bit,10s,192kHz                  --rate 192000 --seconds 10 --bits 24
2Hz,10s,768kHz(long-ramps)         --rate 768000 --freq 2 --seconds 10
1Hz-ramps,700s,768kHz,16-bit       --rate 768000 --freq 1.5 --seconds 700 --bits 16
LIST
