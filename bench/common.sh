# Sourced by the bench scripts: the calyx-cli under test ($1, or the native
# build's), RUNS (default 7), and a folder for the files, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/native/src/cli/calyx-cli}")
runs=${RUNS:-7}
out=$(mktemp -d -p "${TMPDIR:-/tmp}")
trap 'rm -rf "$out"' EXIT
