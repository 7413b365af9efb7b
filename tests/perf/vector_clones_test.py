#!/usr/bin/env python3
"""The AVX2 version of every sample loop must hold vector (ymm) instructions:
a change that makes GCC's vectoriser give up leaves a scalar loop behind,
which no output test notices (it gives the same bits, four times slower).

Usage: vector_clones_test.py BINARY
Exits 77 (skipped) where there is no objdump or the build has no clones
(sanitizers, other systems).
"""
import re
import shutil
import subprocess
import sys

# The loops marked VECTOR_CLONES or VECTOR_CLONES_512, by their names.
LOOPS = [
    "SineChunk", "SineChunkAt", "ScaleChunk", "ScaleChunkAt", "RampGains", "SegmentPhases",
    "Sines", "Samples", "BlockLevels", "Dot", "AnalyzeBlockSums", "AnalyzeResidualBlock",
    "AnalyzeDot2", "PackBlock", "CopySum",
]
SKIP = 77

if shutil.which("objdump") is None:
    print("skipped: no objdump")
    sys.exit(SKIP)
listing = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", sys.argv[1]],
                         capture_output=True, text=True, check=True).stdout

# Vector instructions counted per version of each loop.
header = re.compile(r"^[0-9a-f]+ <(?:\(anonymous namespace\)::)?(\w+)\(.*\[clone \.(\w+)\]>:$")
counts = {}
current = None
for line in listing.splitlines():
    if line and not line[0].isspace():
        m = header.match(line)
        current = (m.group(1), m.group(2)) if m and m.group(1) in LOOPS else None
        if current:
            counts.setdefault(current, 0)
    elif current and "%ymm" in line:
        counts[current] += 1

if not any(version == "avx2" for _, version in counts):
    print("skipped: this build has no AVX2 versions of the loops")
    sys.exit(SKIP)
failures = 0
for name in LOOPS:
    n = counts.get((name, "avx2"))
    if n is None:
        print(f"FAIL {name}: no AVX2 version")
        failures += 1
    elif n == 0:
        print(f"FAIL {name}: its AVX2 version holds no ymm instruction (not vectorised)")
        failures += 1
    else:
        print(f"ok   {name}: {n} ymm instructions")
sys.exit(1 if failures else 0)
