#!/usr/bin/env bash
# Sets of files and the single default request against their peers, side by
# side in one run on one folder, medians of RUNS runs (default 7):
#  1. the third-octave set (31 files, 48 kHz, 24 bits, 10 s) by calyx-cli,
#     by a shell loop of single calyx-cli runs and by a shell loop of sox;
#  2. the default request (92160140 bytes) against dd writing as many bytes
#     (every output removed before each run, so neither pays for emptying an
#     old file);
#  3. calyx-cli's peak memory for sets at --jobs 2.
# Several calyx-cli (say the default build and one configured with
# -DCALYX_AVX512=OFF) are timed side by side in 1 and 2, each named by the
# vector path it runs here; the loop of single runs and 3 use the first.
# Usage: bench/sets.sh [path/to/calyx-cli...]
. "$(dirname "$0")/common.sh"
[ $# -gt 0 ] || set -- "$cli"
clis=()
for c in "$@"; do clis+=("$(realpath "$c")"); done
machine
sets=() defaults=()
i=0
for c in "${clis[@]}"; do
  i=$((i + 1))
  p=$(vector_path "$c")
  echo "calyx-cli #$i: $c -> $p path"
  sets+=(-n "#$i $p set" "$c --quiet --freq thirds --rate 48000 --bits 24 --seconds 10 --out-dir $out/c")
  defaults+=(-n "#$i $p" "$c --quiet --out $out/d.wav")
done
thirds="20 25 31.5 40 50 63 80 100 125 160 200 250 315 400 500 630 800 1000 1250 1600 2000 2500 3150 4000 5000 6300 8000 10000 12500 16000 20000"

report() {  # name of the json, then the label the ratios are taken against
  python3 - "$out/$1.json" "$2" <<'PY'
import json, sys
res = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
base = res[sys.argv[2]]["median"]
for name, r in res.items():
    print(f"  {name:26s} median {r['median'] * 1000:8.1f} ms  min {r['min'] * 1000:8.1f} ms"
          f"   {r['median'] / base:5.2f} x {sys.argv[2]}")
PY
}

echo "1. the third-octave set, 31 files of 10 s at 48 kHz, 24 bits:"
hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/thirds.json" \
  --prepare "rm -rf $out/c $out/l $out/s" \
  "${sets[@]}" \
  -n "#1 loop" "bash -c 'mkdir -p $out/l; for f in $thirds; do ${clis[0]} --quiet --freq \$f --rate 48000 --bits 24 --seconds 10 --out $out/l/\$f.wav; done'" \
  -n "sox loop" "bash -c 'mkdir -p $out/s; for f in $thirds; do sox -n -r 48000 -b 24 -c 2 $out/s/\$f.wav synth 10 sine \$f; done'" \
  >/dev/null
report thirds "sox loop"

echo "2. the default request, 92160140 bytes:"
hyperfine -N --warmup 2 --runs "$((runs * 3))" --export-json "$out/default.json" \
  --prepare "rm -f $out/d.wav $out/dd.wav" \
  "${defaults[@]}" \
  -n "dd bs=1M" "dd if=/dev/zero of=$out/dd.wav bs=1M iflag=count_bytes count=92160140 status=none" \
  >/dev/null
report default "dd bs=1M"

echo "3. peak resident memory of calyx-cli, sets at --jobs 2:"
while read -r label args; do
  rm -rf "$out/m"
  kb=$(/usr/bin/time -f %M "${clis[0]}" --quiet --jobs 2 $args --out-dir "$out/m" 2>&1 >/dev/null | tail -1)
  printf '  %-40s %6s KiB\n' "$label" "$kb"
done <<'LIST'
thirds,48kHz,24-bit,10s                  --freq thirds --rate 48000 --bits 24 --seconds 10
octaves,384kHz,32-bit,30s                --freq octaves --seconds 30
every-width-at-three-rates,5s            --rate 44100,96000,768000 --bits 16,24,32 --seconds 5
LIST
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
