#!/usr/bin/env python3
"""The figures in a band of `calyx-cli analyze` against recordings whose
answers are known analytically: white noise of known density, harmonics
inside and outside the band, A-weighted noise, dynamic range, SMPTE and
CCIF intermodulation, crosstalk, gain and phase, and clock offset.

Usage: measure_test.py CLI
"""
import json
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavegen as g  # noqa: E402

CLI = os.path.abspath(sys.argv[1])
RATE, FRAMES = 48000, 96000


def a_weighting(f):
    """IEC 61672-1's A-weighting as a power gain, 1 at 1 kHz."""
    def r(f):
        f2 = f * f
        return 12194.0 ** 2 * f2 * f2 / ((f2 + 20.6 ** 2) * math.sqrt((f2 + 107.7 ** 2) * (f2 + 737.9 ** 2)) *
                                         (f2 + 12194.0 ** 2))
    return (r(f) / r(1000.0)) ** 2


def a_weighted_share(low, high, rate):
    """The share of white noise's power left in [low, high] by A-weighting (Simpson's rule)."""
    steps = 20000
    h = (high - low) / steps
    total = sum((1 if i in (0, steps) else 4 if i % 2 else 2) * a_weighting(low + i * h) for i in range(steps + 1))
    return total * h / 3 / (rate / 2)


def db10(x):
    return 10 * math.log10(x)


def sines(parts, noise=0.0, seed=1, shape=None):
    """Sum of (frequency, amplitude, phase) sines plus white Gaussian noise, through `shape` if given."""
    rnd = random.Random(seed)
    out = []
    for n in range(FRAMES):
        v = sum(a * math.sin(2 * math.pi * f * n / RATE + p) for f, a, p in parts)
        if shape:
            v = shape(v, n)
        out.append(v + (rnd.gauss(0.0, noise) if noise else 0.0))
    return out


def am(n):
    """SMPTE's tones with the high one modulated by the low one and its second harmonic."""
    t = 2 * math.pi * n / RATE
    return 0.4 * math.sin(60 * t) + 0.1 * (1 + 0.01 * math.sin(60 * t + 0.4) + 0.005 * math.sin(120 * t)) * \
        math.sin(7000 * t + 0.2)


SIGMA, AMP = 1e-4, 0.5
HALF = RATE / 2
K2, K3, A_CCIF = 0.01, 0.02, 0.25
A_CCIF_TONE = A_CCIF + K3 * 9 / 4 * A_CCIF ** 3
WEIGHTED = a_weighted_share(20, 20000, RATE)
TONE = (997.0, AMP, 0.3)

# name, channels, options, [(channel, key, truth, tolerance)]
CASES = [
    ("white noise in 20-20000 Hz", [sines([TONE], SIGMA)], [],
     [(0, "thd_n_db", db10(SIGMA ** 2 * 19980 / HALF / (AMP ** 2 / 2)), 0.2),
      (0, "noise_dbfs", db10(SIGMA ** 2 * 19980 / HALF / 0.5), 0.2)]),
    ("white noise, full band", [sines([TONE], SIGMA, seed=2)], ["--band", "full"],
     [(0, "thd_n_db", db10(SIGMA ** 2 / (AMP ** 2 / 2)), 0.2)]),
    ("harmonic 2 in 20-2500 Hz, 3 beyond", [sines([TONE, (1994.0, 1e-3, 1.0), (2991.0, 1e-3, 2.0)], 1e-6)],
     ["--band", "20-2500"],
     [(0, "thd_n_db", db10(((1e-3) ** 2 / 2 + 1e-12 * 2480 / HALF) / (AMP ** 2 / 2)), 0.2),
      (0, "noise_dbfs", db10(1e-12 * 2480 / HALF / 0.5), 0.2)]),
    ("A-weighted white noise", [sines([TONE], SIGMA, seed=3)], ["--weighting", "A"],
     [(0, "noise_dbfs", db10(SIGMA ** 2 * WEIGHTED / 0.5), 0.2),
      (0, "thd_n_db", db10(SIGMA ** 2 * WEIGHTED / (AMP ** 2 / 2)), 0.2)]),
    ("dynamic range of a -60 dBFS tone", [sines([(997.0, 1e-3, 0.3)], 1e-6, seed=4)], [],
     [(0, "dynamic_range_db", -(-60 + db10(1e-12 * WEIGHTED / (1e-6 / 2))), 0.2)]),
    ("SMPTE: an amplitude-modulated carrier", [[am(n) for n in range(FRAMES)]], [],
     [(0, "imd.percent", 100 * math.sqrt(2 * 0.005 ** 2 + 2 * 0.0025 ** 2), "2%")]),
    ("CCIF: a polynomial nonlinearity",
     [sines([(19000.0, A_CCIF, 0.0), (20000.0, A_CCIF, 0.7)], shape=lambda v, n: v + K2 * v * v + K3 * v ** 3)],
     ["--imd", "ccif"],
     [(0, "imd.d2_db", 20 * math.log10(K2 * A_CCIF ** 2 / (2 * A_CCIF_TONE)), 0.1),
      (0, "imd.d3_db", 20 * math.log10(2 * 0.75 * K3 * A_CCIF ** 3 / (2 * A_CCIF_TONE)), 0.1)]),
    ("crosstalk at -110 dB", [sines([(997.0, 0.9, 0.3)]), sines([(997.0, 0.9 * 10 ** -5.5, 1.3)], 1e-7, seed=5)],
     [], [(1, "crosstalk_db", -110.0, 0.3), (1, "crosstalk_from", 1, 0), (0, "crosstalk_db", None, 0),
          (1, "gain_db", None, 0)]),
    ("gain and phase against channel 1",
     [sines([(997.0, 0.5, 0.3)], 1e-6, seed=6), sines([(997.0, 0.4, 0.3 + math.radians(30))], 1e-6, seed=7),
      sines([(997.0, 0.625, 0.3 - math.radians(170))], 1e-6, seed=8)], [],
     [(1, "gain_db", 20 * math.log10(0.8), 0.01), (1, "phase_deg", 30.0, 0.05),
      (2, "gain_db", 20 * math.log10(1.25), 0.01), (2, "phase_deg", -170.0, 0.05), (0, "gain_db", None, 0)]),
    ("a tone 37 ppm fast", [sines([(1000.0 * (1 + 37e-6), 0.5, 0.3)], 1e-6, seed=9)], ["--nominal", "1000"],
     [(0, "clock_offset_ppm", 37.0, 0.5)]),
]


def lookup(channel, key):
    for part in key.split("."):
        channel = channel.get(part) if isinstance(channel, dict) else None
    return channel


def main():
    failures = []
    tmp = tempfile.mkdtemp(prefix="calyx-measure-")
    try:
        print(f"{'case':42s} {'figure':18s} {'truth':>12s} {'measured':>12s} {'error':>9s} {'goal':>6s}")
        for i, (name, channels, options, checks) in enumerate(CASES):
            path = g.write(os.path.join(tmp, f"m{i}.wav"), g.wave_bytes(channels, RATE, 32, g.FLOAT))
            r = subprocess.run([CLI, "analyze", "--json", *options, path], capture_output=True, text=True,
                               timeout=600)
            doc = json.loads(r.stdout)
            for channel, key, truth, tolerance in checks:
                got = lookup(doc["channels"][channel], key)
                if truth is None:
                    ok, error = got is None, "-"
                elif got is None:
                    ok, error = False, "null"
                else:
                    limit = abs(truth) * float(tolerance[:-1]) / 100 if isinstance(tolerance, str) else tolerance
                    ok, error = abs(got - truth) <= limit, f"{got - truth:+.4f}"
                print(f"{name:42s} {key + ' ' + str(channel + 1):18s} {str(truth)[:12]:>12s} {str(got):>12s} "
                      f"{error:>9s} {str(tolerance):>6s}", flush=True)
                if not ok:
                    failures.append(f"{name}: {key} of channel {channel + 1} {got}, expected {truth}")
        # The band beyond half the rate is clipped, and said to be.
        path = g.write(os.path.join(tmp, "clip.wav"), g.wave_bytes([g.tone(32000, 32000, 997, 0.5)], 32000, 24))
        doc = json.loads(subprocess.run([CLI, "analyze", "--json", "--weighting", "A", path], capture_output=True,
                                        text=True, timeout=600).stdout)
        want = {"band_hz": [20, 16000], "weighting": "A", "band_clipped": True}
        if doc["measurement"] != want:
            failures.append(f"clipped band: {doc['measurement']}, expected {want}")
        text = subprocess.run([CLI, "analyze", path], capture_output=True, text=True, timeout=600).stdout
        if "clipped to half the rate" not in text:
            failures.append(f"clipped band not said: {text}")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print(f"measure: {len(failures)} failed")
    return 1 if failures else 0


sys.exit(main())
