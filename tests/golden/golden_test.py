#!/usr/bin/env python3
"""Every request in tones.txt must give a file with the recorded SHA-256 and length:
the bytes Calyx makes do not change with a refactor, a compiler or its flags.

Usage: golden_test.py CLI [TONES]   (a command prefix such as "wine x.exe" also works)
"""
import hashlib
import os
import shlex
import subprocess
import sys
import tempfile

cli = shlex.split(sys.argv[1])
tones = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "tones.txt")
failures = 0
with tempfile.TemporaryDirectory(prefix="calyx-golden-") as tmp:
    path = os.path.join(tmp, "t.wav")
    for line in open(tones):
        if not line.strip() or line.startswith("#"):
            continue
        digest, length, rate, freq, atten, seconds, bits = line.split()
        args = ["--quiet", "--rate", rate, "--freq", freq, "--atten", atten,
                "--seconds", seconds, "--bits", bits, "--out", path]
        r = subprocess.run(cli + args, capture_output=True, text=True)
        h = hashlib.sha256()
        with open(path, "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                h.update(chunk)
        got = (r.returncode, h.hexdigest(), os.path.getsize(path))
        if got != (0, digest, int(length)):
            failures += 1
            print(f"DIFFERS: {' '.join(args[1:-2])}: exit {got[0]}, {got[2]} bytes, {got[1]}"
                  f" (expected {length} bytes, {digest}) {r.stderr.strip()}")
        os.remove(path)
print(f"golden files: {'FAILED ' + str(failures) if failures else 'all identical'}")
sys.exit(1 if failures else 0)
