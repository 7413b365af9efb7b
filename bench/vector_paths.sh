#!/usr/bin/env bash
# Times the default request and --phase exact beside dd writing the same bytes
# to a fresh file, for each calyx-cli given: typically the default build
# (AVX-512 versions where the processor has them) and one configured with
# -DCALYX_AVX512=OFF (the AVX2 versions). Every output is removed before each
# run: dd into an existing file would pay ext4's flush of the truncated file.
# Usage: bench/vector_paths.sh CLI [CLI...]   (RUNS=n, default 7)
. "$(dirname "$0")/common.sh"
[ $# -gt 0 ] || set -- "$cli"
machine

args=(-n "dd 92160140 B" --prepare "rm -f $out/d.wav"
      "dd if=/dev/zero of=$out/d.wav bs=1M iflag=count_bytes count=92160140 status=none")
i=0
for cli in "$@"; do
  i=$((i + 1))
  p=$(vector_path "$cli")
  echo "calyx-cli #$i: $cli -> $p path"
  args+=(-n "#$i $p default" --prepare "rm -f $out/c.wav" "$cli --quiet --out $out/c.wav"
         -n "#$i $p --phase exact" --prepare "rm -f $out/c.wav" "$cli --quiet --phase exact --out $out/c.wav")
done
hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/r.json" "${args[@]}" >/dev/null 2>&1
python3 - "$out/r.json" <<'PY'
import json, sys
res = json.load(open(sys.argv[1]))["results"]
dd = res[0]["median"]
for r in res:
    print(f"  {r['command']:28s} median {r['median'] * 1000:7.1f} ms  min {r['min'] * 1000:7.1f} ms  user {r['user'] * 1000:6.1f} ms  sys {r['system'] * 1000:6.1f} ms"
          f"  / dd = {r['median'] / dd:5.2f}")
PY
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
