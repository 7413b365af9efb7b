#!/usr/bin/env bash
# The dialog program against calyx-cli.exe, both under Wine, making the same
# file (the default request unless SECONDS_OF_TONE is given): medians of RUNS runs
# (default 5) of each job's own time, without Wine's start-up.
# Usage: bench/wine_speed.sh [BUILD_DIR]   (default build/win-i686, or
# build/win-x86_64 where only 64-bit programs run)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/tests/win/prefix.sh"
default=$root/build/win-i686
if [ "${CALYX_WINE64_ONLY:-}" = 1 ]; then
  default=$root/build/win-x86_64
  [ -n "${1:-}" ] || echo "  the x86-64 build, since $CALYX_WINE64_WHY"
fi
build="$(cd "${1:-$default}" && pwd)"
if ! wineruns "$(winebuildarch "$build")"; then
  echo "wine_speed.sh: ${build#"$root/"} is an i686 build, which is not run here: $CALYX_WINE64_WHY" >&2
  exit 2
fi
runs=${RUNS:-5}
seconds=${SECONDS_OF_TONE:-30}
out=$(mktemp -d -p "$root/build")
trap 'rm -rf "$out"; wineserver -k 2>/dev/null || true' EXIT
winpath() { echo "Z:${1//\//\\}"; }

cli=()
for _ in $(seq "$runs"); do
  line=$(DISPLAY= "$CALYX_WINE" "$build/src/cli/calyx-cli.exe" --seconds "$seconds" --out "$(winpath "$out/cli.wav")" | tr -d '\r')
  cli+=("$(awk '{print $(NF-1)}' <<<"$line")")
done
wineserver -k 2>/dev/null || true  # the dialog's Wine needs the display from its start
dialog=()
for _ in $(seq "$runs"); do
  line=$(xvfb-run -a -s "-screen 0 1024x768x24" "$CALYX_WINE" "$build/bench/win/dialog_speed.exe" \
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
