#!/usr/bin/env bash
# Calyx.exe as a user runs it, inside an X session (run by run.sh under
# xvfb-run): set the duration to 1 s, click "Create file", wait for the
# finished file; then with the keyboard alone make the file again (Tab,
# Shift+Tab, Enter) and close with Escape; wait for the program to end.
# Usage: blackbox.sh CALYX_EXE WORKDIR
set -euo pipefail
exe="$1"
work="$2"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
. "$here/prefix.sh"
mkdir -p "$work"
cd "$work"

fail() { echo "black box: $*"; wineserver -k || true; exit 1; }

"$CALYX_WINE" "$exe" &
pid=$!

timeout 30 xdotool search --sync --name '^Calyx$' >/dev/null || fail "no Calyx window"

# Child controls are not X windows: find the client area by its colour and
# click at positions taken from the template's dialog units.
found=
for _ in $(seq 50); do
  import -window root -depth 8 ppm:"$work/screen.ppm"
  if found=$(python3 "$here/screen.py" client "$work/screen.ppm" 2>/dev/null); then break; fi
  sleep 0.2
done
[ -n "$found" ] || fail "the dialog's background colour is not on screen"
read -r left top width height <<<"$found"
echo "black box: client area ${width} x ${height} px at (${left}, ${top})"
at() {  # centre of a control given in dialog units: x y w h
  python3 -c "import sys; l,t,w,h,x,y,cw,ch = map(float, sys.argv[1:]);
print(round(l + (x + cw / 2) * w / 201), round(t + (y + ch / 2) * h / 182))" \
    "$left" "$top" "$width" "$height" "$@"
}

read -r x y < <(at 139 60 40 14)  # duration field
# The click and the keys reach the program in the order they were made.
xdotool mousemove "$x" "$y" click 1
xdotool key End BackSpace BackSpace BackSpace BackSpace BackSpace
xdotool type 1
read -r x y < <(at 46 126 50 14)  # "Create file"
xdotool mousemove "$x" "$y" click 1

# 1 s at 384000 Hz, 32 bits: 1000 cycles, exactly 750 blocks of 4096 bytes.
python3 "$here/screen.py" wait-wave "$work/Test.wav" 3072000 60 || fail "no finished Test.wav"

# The job's end enables "Create file" (its label turns black) and gives it
# back the focus in the same step: only then are the keys below for it.
read -r x0 y0 < <(at 46 126 0 0)
read -r x1 y1 < <(at 96 140 0 0)
enabled=
for _ in $(seq 50); do
  import -window root -depth 8 ppm:"$work/screen.ppm"
  if python3 "$here/screen.py" dark "$work/screen.ppm" $((x0 + 4)) $((y0 + 4)) $((x1 - 4)) $((y1 - 4)) 2>/dev/null; then
    enabled=1
    break
  fi
  sleep 0.2
done
[ -n "$enabled" ] || fail "\"Create file\" is not enabled after the job"
rm "$work/Test.wav"
xdotool key Tab shift+Tab Return
python3 "$here/screen.py" wait-wave "$work/Test.wav" 3072000 60 || fail "the keyboard made no second Test.wav"

xdotool key Escape
for _ in $(seq 200); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Calyx.exe still runs after Escape"
wait "$pid" || fail "Calyx.exe ended with status $?"
wineserver -k || true
echo "black box: ok"
