#!/usr/bin/env bash
# Runs every Wine test on the Windows builds in build/ (scripts/test.sh makes
# them): the cross-build identity checks, then the dialog tests and the
# black-box run of each build this host's Wine can run. With
# CALYX_WINE64_ONLY=1 they run as on a host that cannot run 32-bit programs.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
start=$SECONDS
. tests/win/prefix.sh
if [ "${CALYX_WINE64_ONLY:-}" = 1 ]; then
  echo "Wine: 64-bit-only mode, $CALYX_WINE64_WHY: the x86-64 build runs under" \
    "$CALYX_WINE in ${WINEPREFIX#"$root/"}"
fi

failed=()
step() {  # runs one test script; a failure is reported at the end
  "$@" || failed+=("$* (exit $?)")
}

echo "== the same bits from every build (Windows builds under Wine)"
step bash tests/cross/math_identity.sh
step bash tests/cross/file_identity.sh
step bash tests/cross/analyze_identity.sh

echo "== the dialog program under Wine and Xvfb"
for arch in i686 x86_64; do
  if wineruns "$arch"; then
    step bash tests/win/run.sh "build/win-$arch"
  else
    winenotrun "dialog tests and black-box run"
  fi
done

echo "Wine tests: $((SECONDS - start)) s"
if [ "${CALYX_WINE64_ONLY:-}" = 1 ]; then
  echo "NOT RUN: the i686 programs were built but not run (math identity, file identity," \
    "dialog tests, black-box run of build/win-i686): $CALYX_WINE64_WHY"
fi
if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
