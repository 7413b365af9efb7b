#!/usr/bin/env python3
"""End-to-end tests of `calyx-cli analyze` at its limits: Calyx's own files
down to 2.5 samples per cycle, input too short or too odd to hold a tone,
several tones, harmonics near half the rate or below the noise, and what
the picture shows of them.

Usage: analyze_limits_test.py CLI GROUP
"""
import math
import os
import random
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavegen as g  # noqa: E402
from analyze_common import CLI, analyze, check, run_group  # noqa: E402

def least_squares_sinad(path, bits, first, end, cycles, period):
    """SINAD of the least-squares sine (cos, sin and DC) of `cycles` per
    `period` samples (integers) over frames [first, end) of channel 1 of a
    Calyx file; phases reduced exactly, as precise as a 32-bit file."""
    width = bits // 8
    with open(path, "rb") as f:
        raw = f.read()[140:]
    x = [int.from_bytes(raw[i:i + width], "little", signed=True) for i in range(2 * width * first, 2 * width * end,
                                                                                2 * width)]
    phases = [2 * math.pi * (cycles * n % period) / period for n in range(first, end)]
    basis = [(math.cos(a), math.sin(a), 1.0) for a in phases]
    gram = [[sum(b[i] * b[k] for b in basis) for k in range(3)] + [sum(b[i] * v for b, v in zip(basis, x))]
            for i in range(3)]
    for i in range(3):  # Gauss-Jordan on the 3 x 4 system
        for k in range(3):
            if k != i:
                f = gram[k][i] / gram[i][i]
                gram[k] = [a - f * b for a, b in zip(gram[k], gram[i])]
    p = [gram[i][3] / gram[i][i] for i in range(3)]
    error = sum((v - (p[0] * b[0] + p[1] * b[1] + p[2])) ** 2 for b, v in zip(basis, x)) / len(x)
    return 10 * math.log10((p[0] ** 2 + p[1] ** 2) / 2 / error)


def group_sweep(tmp):
    """Calyx's files from many samples per cycle down to 2.5: the planned
    cycles within the stated uncertainty, Calyx's checks passed, and at
    least the SINAD a least-squares fit at the planned frequency finds over
    the sustained part (the four-parameter fit, free in frequency, finds up
    to 20 dB more in 32-bit files, whose frequency is a hair off), at most
    the format's limit unless it says the error is below one unit."""
    cases = [  # rate, frequency, bits
        (8000, 80, 32), (8000, 1000, 24), (8000, 2000, 32), (8000, 3200, 16),
        (44100, 441, 24), (44100, 11025, 24), (44100, 14700, 16), (44100, 17640, 32),
        (48000, 6000, 24), (48000, 9600, 16), (48000, 12000, 24), (48000, 16000, 32), (48000, 19200, 24),
        (96000, 24000, 32), (96000, 32000, 16), (96000, 38400, 24),
    ]
    path = os.path.join(tmp, "sweep.wav")
    for rate, freq, bits in cases:
        what = f"{freq} Hz at {rate} Hz, {bits}-bit ({rate / freq:g} samples per cycle)"
        subprocess.run([os.path.join(os.path.dirname(CLI), "calyx-cli"), "--quiet", "--rate", str(rate), "--freq",
                        str(freq), "--seconds", "1", "--bits", str(bits), "--out", path], check=True)
        r, doc = analyze("--json", path)
        calyx = doc["calyx"]
        check(calyx["whole_cycles"] and calyx["fades_whole_cycles"], f"{what}: Calyx's checks {calyx}")
        for c in doc["channels"]:
            check(c["whole_cycles"] and abs(c["cycles"] - freq) <= c["cycles_uncertainty"],
                  f"{what}: {c['cycles']} +- {c['cycles_uncertainty']} cycles, planned {freq}")
            check(c["fade_in_found"] and c["fade_out_found"], f"{what}: fades found")
        # Calyx's sine turns by its own 2 pi a cycle: exactly freq / rate.
        c = doc["channels"][0]
        truth = least_squares_sinad(path, bits, *c["sustained_frames"], freq, rate)
        check(truth - 0.05 <= c["sinad_db"] and (c["sinad_db"] <= c["quantisation_limit_db"] or
                                                 c["error_below_one_unit"]),
              f"{what}: SINAD {c['sinad_db']}, least squares {truth:.2f}, limit {c['quantisation_limit_db']}")


def group_degenerate(tmp):
    """Input that holds no tone, or holds it oddly: no figure beyond what the
    data can carry, a reason where there is no tone, valid JSON."""
    rate = 48000
    files = []
    impulse = [0.0] * 93
    impulse[40] = 0.5
    files.append(("93 frames, one sample of 16384", g.wave_bytes([impulse], rate, 16)))
    rnd = random.Random(19)
    for i in range(24):
        n = rnd.choice([20, 50, 93, 200, 1000, 3000])
        if i % 2:
            x = [rnd.gauss(0, 0.2) for _ in range(n)]
        else:
            x = [0.0] * n
            for _ in range(rnd.randint(1, 3)):
                x[rnd.randrange(n)] = rnd.uniform(-0.9, 0.9)
        files.append((f"random file {i}", g.wave_bytes([x], rate, rnd.choice([16, 24, 32]))))
    files.append(("white noise", g.wave_bytes([g.tone(rate, rate, 1000.0, 0.0, noise=0.1, seed=7)], rate, 24)))
    step = [v * (0.5 if n >= rate // 2 else 0.25) for n, v in enumerate(g.tone(rate, rate, 1000.0, 1.0))]
    files.append(("a tone stepping from 0.25 to 0.5", g.wave_bytes([step], rate, 24)))
    for what, content in files:
        path = g.write(os.path.join(tmp, "odd.wav"), content)
        r, doc = analyze("--json", path)
        text, _ = analyze(path)
        check("null" not in text.stdout and "nan" not in text.stdout, f"{what}: text shows no null:\n{text.stdout}")
        seconds = doc["format"]["seconds"]
        for c in doc["channels"]:
            if c["sinad_db"] is None:
                check(bool(c["no_tone_reason"]), f"{what}: no tone and no reason")
                continue
            check(c["sinad_db"] <= c["quantisation_limit_db"] or c["error_below_one_unit"],
                  f"{what}: SINAD {c['sinad_db']} above the limit {c['quantisation_limit_db']} unsaid")
            check(c["cycles"] > 0, f"{what}: {c['cycles']} cycles")
            check(c["fade_in_ms"] + c["fade_out_ms"] <= 2000 * seconds and
                  max(c["fade_in_ms"], c["fade_out_ms"]) <= 1000 * seconds,
                  f"{what}: fades {c['fade_in_ms']} ms, {c['fade_out_ms']} ms in {seconds} s")
    # Samples that are not numbers: counted, named, the rest measured.
    nans = g.write(os.path.join(tmp, "nan.wav"),
                   g.wave_bytes([[0.5, float("nan"), -0.5, float("inf")] * 100], rate, 32, g.FLOAT))
    r, doc = analyze("--json", nans)
    c = doc["channels"][0]
    check(c["non_finite_samples"] == 200 and c["peak_dbfs"] == round(20 * math.log10(0.5), 3),
          f"NaN and infinity: {c['non_finite_samples']} counted, peak {c['peak_dbfs']}")
    text, _ = analyze(nans)
    check("not finite" in text.stdout and "-inf" not in text.stdout and "silent" not in text.stdout,
          f"NaN and infinity in the text:\n{text.stdout}")


def group_tones(tmp):
    """Several tones, harmonics near half the rate and below the noise."""
    rate, n = 48000, 48000
    a = g.tone(n, rate, 1000.0, 0.3)
    cases = [  # what, second tone (frequency, amplitude)
        ("two tones of equal level", (1500.0, 0.3)),
        ("a weaker second tone", (3321.5, 0.003)),
    ]
    for what, (f2, a2) in cases:
        b = g.tone(n, rate, f2, a2, phase=1.0)
        path = g.write(os.path.join(tmp, "two.wav"), g.wave_bytes([[x + y for x, y in zip(a, b)]], rate, 24))
        r, doc = analyze("--json", path)
        c = doc["channels"][0]
        tones = [(c["frequency_hz"], c["level_dbfs"])] + [(t["frequency_hz"], t["level_dbfs"]) for t in c["other_tones"]]
        second = [level for hz, level in tones if abs(hz - f2) < 0.01]
        check(len(tones) == 2 and any(abs(hz - 1000) < 0.01 for hz, _ in tones) and len(second) == 1,
              f"{what}: tones {tones}")
        check(second and abs(second[0] - 20 * math.log10(a2)) < 0.05, f"{what}: tones {tones}")
    # Harmonics at or above half the rate are left out, not fitted.
    calyx = os.path.join(os.path.dirname(CLI), "calyx-cli")
    for rate, freq, left_out in [(8000, 1000, [4, 5, 6, 7, 8, 9, 10]), (48000, 12000, list(range(2, 11)))]:
        path = os.path.join(tmp, "fold.wav")
        subprocess.run([calyx, "--quiet", "--rate", str(rate), "--freq", str(freq), "--seconds", "1", "--bits", "16",
                        "--out", path], check=True)
        r, doc = analyze("--json", path)
        for c in doc["channels"]:
            check(c["harmonics_left_out"] == left_out and len(c["harmonics_db"]) == 9 - len(left_out),
                  f"{freq} Hz at {rate} Hz: left out {c['harmonics_left_out']}, fitted {c['harmonics_db']}")
            check(c["thd_db"] is None or c["thd_db"] < -80, f"{freq} Hz at {rate} Hz: THD {c['thd_db']}")
    # A quiet tone without harmonics: THD and each harmonic below the noise.
    path = g.write(os.path.join(tmp, "quiet.wav"), g.wave_bytes([g.tone(n, rate, 997.0, 1e-4, noise=1e-6)], rate, 24))
    r, doc = analyze("--json", path)
    c = doc["channels"][0]
    check(c["thd_db"] is None and all(h is None for h in c["harmonics_db"]) and c["noise_limit_db"] < 0,
          f"quiet tone: THD {c['thd_db']}, harmonics {c['harmonics_db']}, limit {c['noise_limit_db']}")
    text, _ = analyze(path)
    check("THD below the noise" in text.stdout, f"quiet tone in the text:\n{text.stdout}")


def polyline_mean_y(svg, stroke):
    """The y of the points of the polyline drawn in `stroke`, by x."""
    m = re.search(r'<polyline points="([^"]*)" fill="none" stroke="' + stroke, svg)
    return [(float(p.split(",")[0]), float(p.split(",")[1])) for p in m.group(1).split()] if m else []


def group_picture(tmp):
    """White noise draws flat; the FFT is stated; a quiet tone fills its panel;
    no tone, no title of one."""
    rate = 48000
    noise = g.write(os.path.join(tmp, "noise.wav"),
                    g.wave_bytes([g.tone(rate, rate, 1000.0, 0.0, noise=0.1, seed=3)], rate, 24))
    svg_path = os.path.join(tmp, "p.svg")
    analyze("--plot", svg_path, noise)
    with open(svg_path) as f:
        svg = f.read()
    points = polyline_mean_y(svg, "#4a7ab5")
    # The upper decade (2 to 20 kHz) holds 100 times the bins of 20 to 200 Hz:
    # their power means lie at one height.
    xs = [x for x, _ in points]
    low = [y for x, y in points if x < xs[0] + 0.25 * (xs[-1] - xs[0])]
    high = [y for x, y in points if x > xs[0] + 0.75 * (xs[-1] - xs[0])]
    check(abs(sum(low) / len(low) - sum(high) / len(high)) < 6, "white noise draws flat")
    check("FFT" in svg and "Blackman-Harris" in svg and "sqrt(Hz)" in svg, "FFT length and window stated")
    check("of the tone" not in svg and "no tone was found" in svg, "no tone: no title of one")
    quiet = os.path.join(tmp, "quiet.wav")
    subprocess.run([os.path.join(os.path.dirname(CLI), "calyx-cli"), "--quiet", "--rate", "48000", "--atten", "61",
                    "--seconds", "1", "--bits", "24", "--out", quiet], check=True)
    analyze("--plot", svg_path, quiet)
    with open(svg_path) as f:
        svg = f.read()
    check(">0.001<" in svg, "a -61 dBFS tone's panels are scaled to it")


GROUPS = {"sweep": group_sweep, "degenerate": group_degenerate, "tones": group_tones, "picture": group_picture}

run_group(GROUPS)
