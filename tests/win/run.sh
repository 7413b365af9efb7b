#!/usr/bin/env bash
# Runs the dialog tests under Wine and Xvfb, then Calyx.exe itself driven by
# xdotool. Usage: tests/win/run.sh BUILD_DIR (an i686 or x86-64 cross build).
# Uses the Wine prefix of tests/win/prefix.sh (made once) and ends its own
# wineserver. Where only 64-bit programs run, an i686 build is refused.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)"

. "$root/tests/win/prefix.sh"
arch=$(winebuildarch "$build")
if ! wineruns "$arch"; then
  echo "run.sh: ${build#"$root/"} is an i686 build, which is not run here: $CALYX_WINE64_WHY;" \
    "test build/win-x86_64 instead" >&2
  exit 2
fi
work="$build/wine-work"
rm -rf "$work" && mkdir -p "$work"

winpath() { echo "Z:${1//\//\\}"; }

# Reference files from calyx-cli of the same build, for the requests of the
# dialog test's jobs: the dialog must write the same bytes.
cli="$build/src/cli/calyx-cli.exe"
mkdir -p "$work/ref"
(
  DISPLAY= timeout 120 "$CALYX_WINE" "$cli" --quiet --bits 16 --rate 8000 --freq 440 --atten 3 --seconds 1 \
    --out "$(winpath "$work/ref/cli16.wav")"
  DISPLAY= timeout 120 "$CALYX_WINE" "$cli" --quiet --bits 24 --rate 11025 --freq 1234.5 --atten 20 --seconds 1 \
    --out "$(winpath "$work/ref/cli24.wav")"
  DISPLAY= timeout 120 "$CALYX_WINE" "$cli" --quiet --bits 32 --rate 48000 --freq 1000 --atten 0 --seconds 1 \
    --out "$(winpath "$work/ref/cli32.wav")"
  wineserver -k || true
)

start=$SECONDS
status=0
timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c '"$CALYX_WINE" "$0" "${@}"; rc=$?; wineserver -k; exit $rc' \
  "$build/tests/win/dialog_test.exe" "$(winpath "$work")" "$(winpath "$work/ref")" || status=$?
echo "dialog tests under Wine: $((SECONDS - start)) s"
[ $status -eq 0 ] || { echo "dialog tests failed ($status)"; exit $status; }

start=$SECONDS
timeout 180 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$root/tests/win/blackbox.sh" "$build/src/app/Calyx.exe" "$work/blackbox" || status=$?
echo "black-box run of Calyx.exe: $((SECONDS - start)) s"
[ $status -eq 0 ] || { echo "black-box run failed ($status)"; exit $status; }
