#!/usr/bin/env python3
"""End-to-end responses of `calyx-cli analyze --reference`: a Calyx multitone
against itself, against a copy recorded late and against silence, any other
stimulus (noise) against itself.

Usage: response_test.py CLI GROUP
"""
import os
import random
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavegen as g  # noqa: E402
from analyze_common import CLI, analyze, check, run_group  # noqa: E402


def late_copy(path, out, frames):
    """The file's samples after `frames` frames of silence, as a plain file."""
    raw = open(path, "rb").read()
    channels, rate, _, align, bits = struct.unpack("<HIIHH", raw[22:36])
    data = raw[raw.index(b"data") + 8:]
    body = b"WAVE" + g.fmt_chunk(channels, rate, bits, g.PCM) + g.chunk(b"data", bytes(frames * align) + data)
    g.write(out, b"RIFF" + struct.pack("<I", len(body)) + body)


def group_multitone(tmp):
    """The tones at 0 dB and 0 degrees, the latency where the copy starts, no
    clock offset, TD+N that of the file's own 24-bit rounding (about -136
    dB: the tones' RMS is -12.5 dBFS), and the text's tones."""
    stimulus = os.path.join(tmp, "multitone.wav")
    subprocess.run([CLI, "--quiet", "--signal", "multitone", "--tones", "octaves", "--rate", "48000", "--seconds",
                    "5", "--bits", "24", "--out", stimulus], check=True)
    late = os.path.join(tmp, "late.wav")
    late_copy(stimulus, late, 1234)
    for recording, latency in ((stimulus, 0), (late, 1234)):
        r, doc = analyze(recording, "--reference", stimulus, "--json")
        check(r.returncode == 0 and doc is not None, f"{recording}: analysed: {r.stderr}")
        if doc is None:
            continue
        for i, channel in enumerate(doc["channels"]):
            what = f"{os.path.basename(recording)} channel {i + 1}"
            res = channel["response"]
            check(res["kind"] == "multitone", f"{what}: a multitone ({res['kind']}, {res['reason']})")
            if res["kind"] != "multitone":
                continue
            check(len(res["points"]) == 10, f"{what}: the 10 octaves ({len(res['points'])})")
            check(all(abs(p["gain_db"]) <= 0.001 and abs(p["phase_deg"]) <= 0.01 and p["coherence"] >= 0.9999
                      for p in res["points"]), f"{what}: 0 dB, 0 degrees, coherent: {res['points']}")
            check(abs(res["latency_samples"] - latency) <= 0.001, f"{what}: latency {res['latency_samples']}")
            check(abs(res["clock_offset_ppm"]) <= 0.01, f"{what}: clock {res['clock_offset_ppm']}")
            check(res["td_n_db"] is not None and res["td_n_db"] < -130, f"{what}: TD+N {res['td_n_db']}")
            check(0 < len(res["noise_floor"]) <= 200, f"{what}: a compact floor ({len(res['noise_floor'])})")
    r, _ = analyze(late, "--reference", stimulus)
    check("response (multitone)" in r.stdout and "tone 1000 Hz: gain " in r.stdout,
          f"the text names the tones: {r.stdout}")
    # An impulse response asked for and not made fails, and says why: a
    # multitone holds only its tones; a silent recording has no response.
    silent = g.write(os.path.join(tmp, "silent.wav"), g.wave_bytes([[0.0] * 48000], 48000, 24))
    for recording, why in ((late, "holds its tones only"), (silent, "has no response")):
        ir = os.path.join(tmp, "ir.wav")
        r, _ = analyze(recording, "--reference", stimulus, "--ir", ir)
        check(r.returncode == 1 and why in r.stderr and not os.path.exists(ir),
              f"--ir of {os.path.basename(recording)}: {r.returncode} {r.stderr}")
    check("the recording is silent" in r.stdout, f"silence named: {r.stdout}")


def group_other(tmp):
    """Noise played and recorded as it is: 0 dB with a coherence of 1; no
    clock offset and no TD+N (null)."""
    rnd = random.Random(5)
    noise = [rnd.gauss(0.0, 0.1) for _ in range(48000)]
    path = g.write(os.path.join(tmp, "noise.wav"), g.wave_bytes([noise], 48000, 32, g.FLOAT))
    r, doc = analyze(path, "--reference", path, "--json")
    res = doc["channels"][0]["response"] if doc else None
    check(res is not None and res["kind"] == "other", f"noise: kind other: {res}")
    if res and res["kind"] == "other":
        check(all(abs(p["gain_db"]) <= 0.001 and p["coherence"] >= 0.9999 for p in res["points"]),
              "noise: 0 dB, coherent")
        check(abs(res["latency_samples"]) <= 0.001, f"noise: latency {res['latency_samples']}")
        check(res["clock_offset_ppm"] is None and res["td_n_db"] is None, "noise: no clock, no TD+N")
    # 997 Hz repeats only after 48000 samples, nearly after fewer: not a multitone.
    sine = os.path.join(tmp, "sine.wav")
    subprocess.run([CLI, "--quiet", "--freq", "997", "--rate", "48000", "--seconds", "2", "--out", sine], check=True)
    r, doc = analyze(sine, "--reference", sine, "--json")
    res = doc["channels"][0]["response"] if doc else {}
    check(res.get("kind") == "other" and abs(res.get("latency_samples", 1)) <= 0.001, f"a sine: other, {res}")


run_group({"multitone": group_multitone, "other": group_other})
