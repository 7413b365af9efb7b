#!/usr/bin/env bash
# The dialog program against calyx-cli.exe, both under Wine, making the same
# file (the default request unless SECONDS is given): medians of RUNS runs
# (default 5) of each job's own time, without Wine's start-up.
# Usage: bench/wine_speed.sh [BUILD_DIR]   (default build/win-i686)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/win-i686}" && pwd)"
runs=${RUNS:-5}
seconds=${SECONDS_OF_TONE:-30}
. "$root/tests/win/prefix.sh"
out=$(mktemp -d -p "$root/build")
trap 'rm -rf "$out"; wineserver -k 2>/dev/null || true' EXIT
winpath() { echo "Z:${1//\//\\}"; }

cli=()
for _ in $(seq "$runs"); do
  line=$(DISPLAY= wine "$build/src/cli/calyx-cli.exe" --seconds "$seconds" --out "$(winpath "$out/cli.wav")" | tr -d '\r')
  cli+=("$(awk '{print $(NF-1)}' <<<"$line")")
done
wineserver -k 2>/dev/null || true  # the dialog's Wine needs the display from its start
dialog=()
for _ in $(seq "$runs"); do
  line=$(xvfb-run -a -s "-screen 0 1024x768x24" wine "$build/bench/win/dialog_speed.exe" \
           "$(winpath "$out/dialog.wav")" "$seconds" 2>/dev/null | tr -d '\r')
  echo "  $line"
  dialog+=("$(awk '{print $2}' <<<"$line")")
done
cmp "$out/cli.wav" "$out/dialog.wav" && echo "  the two files are identical"
python3 - "${cli[*]}" "${dialog[*]}" <<'PY'
import statistics, sys
cli = statistics.median(map(float, sys.argv[1].split()))
dialog = statistics.median(map(float, sys.argv[2].split()))
print(f"5. under Wine: calyx-cli.exe median {cli * 1000:.0f} ms, dialog median {dialog * 1000:.0f} ms,"
      f" dialog / calyx-cli = {dialog / cli:.2f}")
PY
