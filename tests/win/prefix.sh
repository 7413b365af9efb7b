# Sourced by every script that runs Wine: picks the Wine loader for this
# host, makes the prefix once and sets it up for GUI runs. Needs $root (the
# checkout); CALYX_WINE_PREFIX, when set, names the prefix instead of
# build/wine(64). Sets WINEPREFIX and the rest of Wine's environment, CALYX_WINE
# (the command that runs a Windows program), and defines wineruns,
# winebuildarch and winenotrun.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian's wine and wineboot wrappers pick the 32-bit loader whenever wine32
# is installed, so on a kernel that refuses 32-bit x86 programs every Wine
# call fails (exit 126), 64-bit programs included. There only the x86-64
# build runs, under the 64-bit loader. CALYX_WINE64_ONLY=1 forces this mode
# on any host, so that the path is tested where 32-bit programs do run.
if [ -z "${CALYX_WINE64_WHY:-}" ]; then
  if [ "${CALYX_WINE64_ONLY:-}" = 1 ]; then
    CALYX_WINE64_WHY="forced by CALYX_WINE64_ONLY=1"
  elif ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    CALYX_WINE64_WHY="this host cannot run 32-bit x86 programs (/lib/ld-linux.so.2 --version fails)"
  fi
fi
if [ -n "${CALYX_WINE64_WHY:-}" ]; then
  export CALYX_WINE64_ONLY=1 CALYX_WINE64_WHY
  export CALYX_WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64
  export WINEPREFIX="$root/build/wine64"  # made by the 64-bit loader, not shared
  # Stand-ins for the wrappers (wineboot and the other tools run wine-stable)
  # that fail as they do on such a host, so that the forced mode catches any
  # call still going through them.
  guard="$root/build/wine64-only-bin"
  if [ ! -x "$guard/wine-stable" ]; then
    mkdir -p "$guard"
    for w in wine wine-stable; do
      printf '#!/bin/sh\necho "%s: not used in the 64-bit-only Wine mode (it starts the 32-bit loader); run \\$CALYX_WINE" >&2\nexit 126\n' \
        "$w" >"$guard/$w"
      chmod +x "$guard/$w"
    done
  fi
  case ":$PATH:" in *":$guard:"*) ;; *) export PATH="$guard:$PATH" ;; esac
else
  export CALYX_WINE=wine
  export WINEPREFIX="$root/build/wine"  # shared with the other Wine tests
fi

# A test that needs a fresh prefix of its own names it in CALYX_WINE_PREFIX.
if [ -n "${CALYX_WINE_PREFIX:-}" ]; then export WINEPREFIX="$CALYX_WINE_PREFIX"; fi

# Whether this host's Wine mode runs programs of ARCH (i686 or x86_64).
wineruns() { [ "$1" = x86_64 ] || [ "${CALYX_WINE64_ONLY:-}" != 1 ]; }

# The architecture of a Windows build directory: i686 or x86_64.
winebuildarch() {
  case "$(x86_64-w64-mingw32-objdump -f "$1/src/cli/calyx-cli.exe" 2>/dev/null)" in
    *pei-i386*) echo i686 ;;
    *pei-x86-64*) echo x86_64 ;;
    *) echo "no Windows build in $1" >&2; return 1 ;;
  esac
}

# Says that a step left out the i686 build, and why.
winenotrun() {
  echo "$1: the i686 build was built but not run: $CALYX_WINE64_WHY"
}

# Runs a set-up step quietly; on failure shows the end of its output and
# stops. A file, not a pipe: the wineserver it starts would hold a pipe open.
winestep() {
  local log="$WINEPREFIX-setup.log" rc=0
  "$@" >"$log" 2>&1 || rc=$?
  [ $rc -eq 0 ] && return 0
  echo "Wine set-up failed (exit $rc): $*" >&2
  tail -n 5 "$log" >&2
  exit $rc
}

# A fresh prefix: no window manager, so Wine must manage its windows itself
# (otherwise each closing window costs 2 s); Wine's own fonts, so the dialog
# units come out as on Windows; and no visual theme: Wine's default theme
# also styles controls of programs that do not ask for the themed common
# controls (Windows does not), and a themed progress bar ignores its colours.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Wine: making the prefix ${WINEPREFIX#"$root/"} with $CALYX_WINE (once, about 15 s)"
  rm -rf "$WINEPREFIX"
  winestep env DISPLAY= timeout 300 "$CALYX_WINE" wineboot -i
  winestep timeout 120 wineserver -w
fi
if [ ! -f "$WINEPREFIX/.calyx-dialog-ready" ]; then
  winestep timeout 60 "$CALYX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  winestep timeout 60 "$CALYX_WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
    /v ThemeActive /t REG_SZ /d 0 /f
  winestep timeout 60 wineserver -w
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  touch "$WINEPREFIX/.calyx-dialog-ready"
fi
