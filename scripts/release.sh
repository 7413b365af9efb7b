#!/usr/bin/env bash
# Builds the release from scratch and writes it into dist/ (VERSION is the
# CMake project version):
#   calyx-cli_VERSION_amd64.deb   calyx-cli, its manual page and documents
#   calyx-VERSION-win32.zip       Calyx.exe and calyx-cli.exe, 32-bit
#   calyx-VERSION-win64.zip       the same, 64-bit
#   calyx-VERSION-setup.exe       the Windows installer of the 32-bit programs
#   SHA256SUMS
# Needs the tools of scripts/setup.sh. scripts/release-test.sh tests the result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
jobs=$(nproc)
work=$root/build/release
dist=$root/dist
rm -rf "$work" "$dist"
mkdir -p "$work" "$dist"

# The dates in the manual page and the changelog are those of the last commit,
# so that making the same release again gives the same pages.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

# Builds one configuration (no tests, no benchmarks needed) and packs it with CPack.
build() {  # NAME CMAKE_ARGS...
  local name=$1
  shift
  echo "== release: $name"
  cmake -S "$root" -B "$work/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALYX_TESTS=OFF "$@" >/dev/null
  cmake --build "$work/$name" -j "$jobs" >/dev/null
  (cd "$work/$name" && cpack -B "$work/packages-$name" >/dev/null)
  find "$work/packages-$name" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' \) \
    -exec mv {} "$dist/" \;
}

# Debian's own build flags (hardening included), as a Debian package is built.
# The build's own options come after them, so they cannot change a sample.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  build native -DCMAKE_INSTALL_PREFIX=/usr -DCALYX_DEBIAN_DOCS=ON
for arch in i686 x86_64; do
  build "win-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$arch-w64-mingw32.cmake"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$work/native/CMakeCache.txt")
[ -n "$version" ] || { echo "release: no project version in the CMake cache" >&2; exit 1; }

echo "== release: installer"
cmake --install "$work/win-i686" --prefix "$work/stage-win32" --strip >/dev/null
makensis -V2 -DVERSION="$version" -DSTAGE="$work/stage-win32" \
  -DICON="$work/win-i686/res/calyx.ico" -DOUTFILE="$dist/calyx-$version-setup.exe" \
  "$root/packaging/calyx.nsi"

expected=("calyx-cli_${version}_amd64.deb" "calyx-$version-win32.zip" "calyx-$version-win64.zip"
  "calyx-$version-setup.exe")
for file in "${expected[@]}"; do
  [ -f "$dist/$file" ] || { echo "release: $file was not made" >&2; exit 1; }
done
(cd "$dist" && sha256sum "${expected[@]}" >SHA256SUMS)

# Say what the packages were built from; uncommitted changes are in them too.
commit=$(git describe --always --dirty 2>/dev/null || echo "no git checkout")
echo "== release $version from $commit in dist/ ($((SECONDS - start)) s):"
(cd "$dist" && stat -c '%10s  %n' "${expected[@]}" SHA256SUMS)
