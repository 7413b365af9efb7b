#!/usr/bin/env bash
# Tests the release in dist/ (made by scripts/release.sh) the way users meet it:
# the checksums; the Debian package's contents, lintian and the manual page's
# lint; the install rules on their own; the package installed for real, used
# and removed again; each zip unpacked and its calyx-cli.exe run under Wine;
# the installer run silently under Wine in a fresh prefix, the installed
# program started from its shortcut, then uninstalled silently.
# Installing the package needs root (sudo is used otherwise); the package is
# removed again on every way out. On a host that cannot run 32-bit programs
# (or with CALYX_WINE64_ONLY=1) only the 64-bit programs run, and the script
# says what was not run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
dist=$root/dist
work=$root/build/release-test
rm -rf "$work"
mkdir -p "$work"

passed=0
skipped=0
pass() { passed=$((passed + 1)); echo "release test: ok: $*"; }
skip() { skipped=$((skipped + 1)); echo "release test: NOT RUN: $*"; }
fail() { echo "release test: FAILED: $*" >&2; exit 1; }

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
installed=0
userdir=
cleanup() {
  if [ "$installed" = 1 ]; then
    $SUDO apt-get purge -y -qq calyx-cli >/dev/null 2>&1 || $SUDO dpkg --purge calyx-cli >/dev/null 2>&1 || true
  fi
  [ -z "$userdir" ] || rm -rf "$userdir"
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' build/release/native/CMakeCache.txt 2>/dev/null || true)
[ -n "$version" ] || fail "no release build: run scripts/release.sh first"
deb=$dist/calyx-cli_${version}_amd64.deb
setup=$dist/calyx-$version-setup.exe

# --- What release.sh promised, and the checksums over it.
(cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS) || fail "SHA256SUMS does not match dist/"
listed=$(awk '{print $2}' "$dist/SHA256SUMS" | sort | tr '\n' ' ')
want=$(printf '%s\n' "calyx-cli_${version}_amd64.deb" "calyx-$version-win32.zip" \
  "calyx-$version-win64.zip" "calyx-$version-setup.exe" | sort | tr '\n' ' ')
[ "$listed" = "$want" ] || fail "SHA256SUMS lists '$listed', expected '$want'"
pass "dist/ holds the four packages of $version and their checksums"

# --- The Debian package: its files, its control fields, lintian.
dpkg-deb -x "$deb" "$work/deb"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
want="./usr/bin/calyx-cli ./usr/share/doc/calyx-cli/README.md ./usr/share/doc/calyx-cli/changelog.gz \
./usr/share/doc/calyx-cli/copyright ./usr/share/man/man1/calyx-cli.1.gz "
[ "$files" = "$want" ] || fail "the package holds '$files', expected '$want'"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || fail "the package's dependencies were not generated"
dpkg-deb -f "$deb" Maintainer | grep -q '<.*@.*>' || fail "the package has no maintainer address"
pass "the package holds calyx-cli, its page, README, copyright and changelog; Depends: $(dpkg-deb -f "$deb" Depends)"

echo "--- lintian --info --pedantic $(basename "$deb")"
lintian_out=$(lintian --info --pedantic "$deb" 2>&1 | grep -v '^running with root privileges' || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
echo "--- end of lintian's output"
if echo "$lintian_out" | grep -q '^[EW]: '; then fail "lintian reports errors or warnings"; fi
pass "lintian: no errors, no warnings"

# --- The manual page: lint-free for all three readers, and every option of
# --help documented.
page=$work/deb/usr/share/man/man1/calyx-cli.1.gz
zcat "$page" >"$work/calyx-cli.1"
lint=$(
  MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null
  groff -ww -man -z "$work/calyx-cli.1" 2>&1
  mandoc -T lint "$work/calyx-cli.1" 2>&1
) || true
[ -z "$lint" ] || fail "the manual page has warnings: $lint"
for option in $("$work/deb/usr/bin/calyx-cli" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "${option//-/\\\\-}" "$work/calyx-cli.1" || fail "the manual page does not document $option"
done
pass "manual page: man --warnings, groff -ww and mandoc -T lint are silent; every option of --help is in it"

# --- The install rules on their own, as a user installs from a build.
cmake -S "$root" -B "$work/plain" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALYX_TESTS=OFF >/dev/null
cmake --build "$work/plain" --target calyx-cli calyx_man >/dev/null
DESTDIR="$work/stage" cmake --install "$work/plain" --prefix /usr/local >/dev/null
files=$(cd "$work/stage" && find . -type f | sort | tr '\n' ' ')
want="./usr/local/bin/calyx-cli ./usr/local/share/doc/calyx-cli/LICENSE \
./usr/local/share/doc/calyx-cli/README.md ./usr/local/share/man/man1/calyx-cli.1.gz "
[ "$files" = "$want" ] || fail "cmake --install --prefix /usr/local gave '$files', expected '$want'"
pass "cmake --install --prefix /usr/local installs the program, its page, README and LICENSE"

# --- The package installed for real, used, and removed leaving nothing.
if dpkg-query -W -f='${Status}' calyx-cli 2>/dev/null | grep -q 'ok installed'; then
  fail "calyx-cli is installed on this machine already; remove it first (this test installs and removes it)"
fi
installed=1  # from here on the trap removes it, also after a half-done install
$SUDO apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt-install.log" 2>&1 \
  || fail "apt-get install failed: $(tail -3 "$work/apt-install.log")"
[ "$(command -v calyx-cli)" = /usr/bin/calyx-cli ] || fail "calyx-cli is not /usr/bin/calyx-cli on the PATH"
[ "$(calyx-cli --version)" = "calyx-cli $version" ] || fail "calyx-cli --version says '$(calyx-cli --version)'"
[ "$(man -w calyx-cli)" = /usr/share/man/man1/calyx-cli.1.gz ] || fail "man -w calyx-cli: '$(man -w calyx-cli 2>&1)'"
userdir=$(mktemp -d)
(cd "$userdir" && calyx-cli --quiet) || fail "calyx-cli in a temporary folder failed"
size=$(stat -c %s "$userdir/Test.wav")
[ "$size" = 92160140 ] || fail "the default Test.wav has $size bytes, not 92160140"
[ "$(head -c 4 "$userdir/Test.wav")" = RIFF ] || fail "the default Test.wav is no RIFF file"
rm -rf "$userdir"
userdir=
mapfile -t owned < <(dpkg -L calyx-cli)
$SUDO apt-get purge -y -qq calyx-cli >"$work/apt-purge.log" 2>&1 || fail "apt-get purge failed"
installed=0
for path in "${owned[@]}"; do
  case $path in /. | /usr | /usr/bin | /usr/share | /usr/share/doc | /usr/share/man | /usr/share/man/man1) continue ;; esac
  [ ! -e "$path" ] || fail "removing the package left $path behind"
done
! dpkg-query -W calyx-cli >/dev/null 2>&1 || fail "dpkg still knows calyx-cli after the purge"
pass "apt-get install, calyx-cli --version, man -w, the default file ($size bytes), purge leaving nothing"

# --- Wine: a fresh prefix of this test's own, set up as the dialog tests'
# (tests/win/prefix.sh picks the loader: on hosts that cannot run 32-bit
# programs, or with CALYX_WINE64_ONLY=1, Wine's 64-bit loader alone).
rm -rf "$work/wine"
CALYX_WINE_PREFIX=$work/wine . tests/win/prefix.sh
wine=("$CALYX_WINE")
wine32=1
wineruns i686 || wine32=0
winpath() { echo "Z:${1//\//\\}"; }

# The Linux build's files for the requests the zips' programs must match.
linux_cli=$work/deb/usr/bin/calyx-cli
requests=("--seconds 1" "--seconds 1 --bits 16 --rate 44100 --freq 997 --atten 20")
for i in "${!requests[@]}"; do
  # shellcheck disable=SC2086
  "$linux_cli" --quiet ${requests[$i]} --out "$work/linux-$i.wav"
done

system_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll msvcrt.dll "
for arch in win32 win64; do
  zip=$dist/calyx-$version-$arch.zip
  top=calyx-$version-$arch
  rm -rf "$work/$arch" && mkdir -p "$work/$arch"
  unzip -q "$zip" -d "$work/$arch"
  files=$(cd "$work/$arch" && find . -type f | sort | tr '\n' ' ')
  want="./$top/Calyx.exe ./$top/LICENSE.txt ./$top/README.txt ./$top/calyx-cli.exe "
  [ "$files" = "$want" ] || fail "$arch zip holds '$files', expected '$want'"
  dir=$work/$arch/$top
  for text in README.txt LICENSE.txt; do
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read()
sys.exit(0 if d.count(b"\n") == d.count(b"\r\n") > 0 and d.count(b"\r") == d.count(b"\r\n") else 1)' \
      "$dir/$text" || fail "$arch zip: $text does not have Windows line endings"
  done
  cmp -s <(sed 's/$/\r/' LICENSE) "$dir/LICENSE.txt" || fail "$arch zip: LICENSE.txt is not LICENSE"
  grep -q "Calyx $version" "$dir/README.txt" || fail "$arch zip: README.txt does not name version $version"
  [ "$arch" = win32 ] && format=pei-i386 || format=pei-x86-64
  for exe in Calyx.exe calyx-cli.exe; do
    objdump -f "$dir/$exe" | grep -q "file format $format" || fail "$arch zip: $exe is not $format"
    for dll in $(objdump -p "$dir/$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); do
      [[ $system_dlls == *" $dll "* ]] || fail "$arch zip: $exe needs $dll, which Windows does not have"
    done
  done
  pass "$arch zip: both programs ($format, system DLLs only), README.txt and LICENSE.txt with CRLF"

  if [ "$arch" = win32 ] && [ "$wine32" = 0 ]; then
    skip "the win32 zip's calyx-cli.exe under Wine: this host cannot run 32-bit programs"
    continue
  fi
  said=$(DISPLAY= timeout 60 "${wine[@]}" "$dir/calyx-cli.exe" --version | tr -d '\r')
  [ "$said" = "calyx-cli $version" ] || fail "$arch calyx-cli.exe --version says '$said'"
  for i in "${!requests[@]}"; do
    # shellcheck disable=SC2086
    DISPLAY= timeout 120 "${wine[@]}" "$dir/calyx-cli.exe" --quiet ${requests[$i]} \
      --out "$(winpath "$work/$arch-$i.wav")" || fail "$arch calyx-cli.exe ${requests[$i]} failed"
    cmp -s "$work/linux-$i.wav" "$work/$arch-$i.wav" \
      || fail "$arch calyx-cli.exe ${requests[$i]}: not the Linux build's file"
  done
  pass "$arch calyx-cli.exe under Wine: --version, and 1 s files (32 and 16 bits) equal to the Linux build's"
done
timeout 60 wineserver -k || true

# --- The installer, silently, in the fresh prefix; set up for windows without
# a window manager (Managed=N) and with Wine's fonts, as the dialog tests are.
if [ "$wine32" = 0 ]; then
  skip "the installer under Wine: it is a 32-bit program and this host cannot run 32-bit programs"
else
  DISPLAY= timeout 120 wine "$setup" /S || fail "the silent install failed ($?)"
  timeout 120 wineserver -w
  # A 32-bit program on 64-bit Windows goes to "Program Files (x86)".
  if grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; then
    instdir='C:\Program Files (x86)\Calyx'
  else
    instdir='C:\Program Files\Calyx'
  fi
  unixdir=$(winepath -u "$instdir" 2>/dev/null)
  for file in Calyx.exe calyx-cli.exe README.txt LICENSE.txt; do
    cmp -s "$work/win32/calyx-$version-win32/$file" "$unixdir/$file" \
      || fail "the installer did not put the win32 zip's $file into $instdir"
  done
  [ -f "$unixdir/Uninstall.exe" ] || fail "no Uninstall.exe in $instdir"
  key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Calyx'
  entry=$(timeout 60 wine reg query "$key" /reg:32 2>/dev/null | tr -d '\r') || fail "no uninstall entry $key"
  for value in "DisplayName    REG_SZ    Calyx" "DisplayVersion    REG_SZ    $version" \
      "UninstallString    REG_SZ    \"$instdir\\Uninstall.exe\"" \
      "QuietUninstallString    REG_SZ    \"$instdir\\Uninstall.exe\" /S"; do
    grep -qF "$value" <<<"$entry" || fail "the uninstall entry lacks '$value': $entry"
  done
  lnk='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Calyx.lnk'
  info=$(lnkinfo "$(winepath -u "$lnk" 2>/dev/null)") || fail "no Start-menu shortcut $lnk"
  target=$(sed -n 's/^\s*Local path\s*: //p' <<<"$info")
  [ "$target" = "$instdir\\Calyx.exe" ] || fail "the shortcut points to '$target', not $instdir\\Calyx.exe"
  pass "silent install: the 32-bit programs in $instdir, the uninstall entry, the shortcut to Calyx.exe"

  # Started as a user starts it: from the shortcut; its window must appear.
  # A Wine session started without a display (the checks above) would keep
  # its windows off the X server, so the program gets a session of its own.
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wine start "$0" || { echo "wine start: status $?"; exit 1; }
    timeout 30 xdotool search --sync --name "^Calyx\$" >/dev/null; rc=$?
    [ $rc = 0 ] || { echo "windows:"; xdotool search --name . getwindowname %@; }
    wineserver -k; exit $rc' "$lnk" || fail "Calyx.exe started from the shortcut showed no window"
  pass "Calyx.exe started from the Start-menu shortcut shows its window"

  DISPLAY= timeout 120 wine "$instdir\\Uninstall.exe" /S || fail "the silent uninstall failed"
  timeout 120 wineserver -w  # the uninstaller finishes from a copy of itself
  [ ! -e "$unixdir" ] || fail "the uninstall left $instdir: $(ls -A "$unixdir")"
  [ ! -e "$(winepath -u "$lnk" 2>/dev/null)" ] || fail "the uninstall left the shortcut"
  ! timeout 60 wine reg query "$key" /reg:32 >/dev/null 2>&1 || fail "the uninstall left $key"
  pass "silent uninstall removes the folder, the shortcut and the uninstall entry"
fi
timeout 60 wineserver -k || true
rm -rf "$WINEPREFIX"  # 1.3 GB; made anew by every run

echo "release test: $((SECONDS - start)) s"
echo "release-test: $passed passed, 0 failed, $skipped skipped"
