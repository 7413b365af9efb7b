# Sourced by the bench scripts: the calyx-cli under test ($1, or the native
# build's), RUNS (default 7), a folder for the files, removed at the end,
# and the description of the machine and of the vector path a build runs.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/native/src/cli/calyx-cli}")
runs=${RUNS:-7}
out=$(mktemp -d -p "${TMPDIR:-/tmp}")
trap 'rm -rf "$out"' EXIT

cpu_flags=$(grep -m1 '^flags' /proc/cpuinfo)
cpu_has() { [[ " $cpu_flags " == *" $1 "* ]]; }
# The version of the sample loops a binary runs here, as glibc's resolver
# picks it: the widest the processor has and the binary was built with.
vector_path() {
  local clones
  clones=$(nm -C "$1" 2>/dev/null | grep -o 'clone \.avx[0-9a-z]*' | sort -u || true)
  if cpu_has avx512f && [[ $clones == *avx512f* ]]; then echo AVX-512
  elif cpu_has avx2 && [[ $clones == *avx2* ]]; then echo AVX2
  else echo "SSE2 (plain)"; fi
}
# The machine, by its model and vector width, and how busy it is.
machine() {
  echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores," \
       "AVX2 $(cpu_has avx2 && echo yes || echo no), AVX-512 $(cpu_has avx512f && echo yes || echo no);" \
       "load average $(cut -d' ' -f1-3 /proc/loadavg)"
  # calyx-cli analyze asks for 2 MiB pages; the kernel's policy decides.
  local thp=/sys/kernel/mm/transparent_hugepage/enabled
  echo "transparent huge pages: $([ -r $thp ] && grep -o '\[[a-z]*\]' $thp || echo unknown)"
}
