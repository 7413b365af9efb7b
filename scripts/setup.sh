#!/usr/bin/env bash
# Installs everything Calyx needs to build and test on Debian 12 (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
# wine32 is an i386 package: 32-bit Windows programs need it.
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
# git is for bench/versus.sh; the JSON and Eigen headers are the analysis's;
# clang-14 and libclang-rt-14-dev (its libFuzzer and sanitizer runtimes) are
# for the analysis's fuzzing harness; chromium renders the analysis's HTML
# report in its test.
# The last line is for the release: the Debian package, its checks, the man
# page's checks, the Windows installer, unpacking the zips, reading a shortcut.
$SUDO apt-get install -y -qq --no-install-recommends \
  g++ cmake ninja-build libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool imagemagick \
  sox ffmpeg hyperfine time python3 ca-certificates libmpfr-dev \
  git nlohmann-json3-dev libeigen3-dev clang-14 libclang-rt-14-dev chromium \
  dpkg-dev nsis lintian man-db mandoc unzip liblnk-utils librsvg2-bin >/dev/null
