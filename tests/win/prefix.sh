# Sourced by the Wine scripts: the shared prefix build/wine, made once and
# set up for GUI runs. Needs $root (the checkout).
export WINEPREFIX="$root/build/wine"  # shared with the other Wine tests
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A fresh prefix: no window manager, so Wine must manage its windows itself
# (otherwise each closing window costs 2 s); Wine's own fonts, so the dialog
# units come out as on Windows; and no visual theme: Wine's default theme
# also styles controls of programs that do not ask for the themed common
# controls (Windows does not), and a themed progress bar ignores its colours.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  DISPLAY= timeout 300 wineboot -i >/dev/null 2>&1
  timeout 120 wineserver -w
fi
if [ ! -f "$WINEPREFIX/.calyx-dialog-ready" ]; then
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  timeout 60 wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
    /v ThemeActive /t REG_SZ /d 0 /f >/dev/null 2>&1
  timeout 60 wineserver -w
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  touch "$WINEPREFIX/.calyx-dialog-ready"
fi

