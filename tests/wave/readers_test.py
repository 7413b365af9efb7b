#!/usr/bin/env python3
"""Files from the WaveWriter open in real readers: Python's wave module, sox and
ffprobe report two channels, the rate, the width and the number of frames."""
import os
import subprocess
import sys
import tempfile
import wave

writer = sys.argv[1]
BLOCKS = 7
CASES = [(16, 44100), (24, 48000), (32, 384000)]
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r}, expected {expected!r}")


with tempfile.TemporaryDirectory(prefix="calyx-readers-") as tmp:
    for bits, rate in CASES:
        path = os.path.join(tmp, f"tone{bits}.wav")
        subprocess.run([writer, path, str(bits), str(rate), str(BLOCKS)], check=True)
        frames = BLOCKS * 512

        with wave.open(path, "rb") as w:
            check(f"wave {bits}: channels", w.getnchannels(), 2)
            check(f"wave {bits}: rate", w.getframerate(), rate)
            check(f"wave {bits}: width", w.getsampwidth(), bits // 8)
            check(f"wave {bits}: frames", w.getnframes(), frames)
            check(f"wave {bits}: samples", w.readframes(frames), bytes(frames * 2 * bits // 8))

        def sox(flag):
            out = subprocess.run(["sox", "--i", flag, path], check=True,
                                 capture_output=True, text=True)
            if out.stderr.strip():
                failures.append(f"sox {bits} {flag}: {out.stderr.strip()}")
            return out.stdout.strip()

        check(f"sox {bits}: channels", sox("-c"), "2")
        check(f"sox {bits}: rate", sox("-r"), str(rate))
        check(f"sox {bits}: width", sox("-b"), str(bits))
        check(f"sox {bits}: frames", sox("-s"), str(frames))
        check(f"sox {bits}: encoding", sox("-e"), "Signed Integer PCM")

        probe = subprocess.run(
            ["ffprobe", "-v", "error", "-of", "default=noprint_wrappers=1",
             "-show_entries", "stream=codec_name,channels,sample_rate,duration_ts", path],
            check=True, capture_output=True, text=True).stdout.split()
        check(f"ffprobe {bits}", sorted(probe), sorted([
            f"codec_name=pcm_s{bits}le", "channels=2", f"sample_rate={rate}",
            f"duration_ts={frames}"]))

for f in failures:
    print(f)
print("readers: " + ("FAILED" if failures else f"all {len(CASES)} widths read correctly"))
sys.exit(1 if failures else 0)
