#!/usr/bin/env bash
# calyx-cli of this checkout against calyx-cli of another revision, side by
# side in one run on the same folder: medians of RUNS runs (default 11) and
# their ratio. The request is the default one unless arguments are given.
# Usage: bench/versus.sh REVISION [calyx-cli options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:?usage: versus.sh REVISION [options]}
shift
runs=${RUNS:-11}
cd "$root"
sha=$(git rev-parse --short "$rev")
other=$root/build/versus-$sha
if [ ! -x "$other/build/src/cli/calyx-cli" ]; then
  rm -rf "$other"
  git worktree add --detach "$other" "$sha" >/dev/null 2>&1
  cmake -S "$other" -B "$other/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALYX_TESTS=OFF >/dev/null
  cmake --build "$other/build" --target calyx-cli >/dev/null
fi
cmake --build build/native --target calyx-cli >/dev/null
out=$(mktemp -d -p "$root/build")
trap 'rm -rf "$out"' EXIT
hyperfine -N --warmup 2 --runs "$runs" --export-json "$out/t.json" \
  -n "this checkout" "$root/build/native/src/cli/calyx-cli --quiet $* --out $out/a.wav" \
  -n "$sha" "$other/build/src/cli/calyx-cli --quiet $* --out $out/b.wav" >/dev/null
cmp "$out/a.wav" "$out/b.wav" && echo "the two files are identical"
python3 - "$out/t.json" <<'PY'
import json, sys
a, b = json.load(open(sys.argv[1]))["results"]
print(f"{a['command']}: median {a['median'] * 1000:.1f} ms; {b['command']}: median {b['median'] * 1000:.1f} ms;"
      f" ratio {a['median'] / b['median']:.3f}")
PY
