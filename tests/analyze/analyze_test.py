#!/usr/bin/env python3
"""End-to-end tests of `calyx-cli analyze`: measured against files with known
contents, Calyx's own files, sox's, broken files, the command line and the
picture.

Usage: analyze_test.py CLI GROUP
"""
import array
import json
import re
import math
import os
import shutil
import struct
import subprocess
import sys
from xml.etree import ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavegen as g  # noqa: E402
from analyze_common import CLI, analyze, check, run_group  # noqa: E402

KEYS_FORMAT = ["encoding", "bits", "channels", "rate", "frames", "seconds", "extensible", "header_bytes", "problems"]
KEYS_CHANNEL = ["sum", "peak_dbfs", "rms_dbfs", "frequency_hz", "level_dbfs", "cycles", "whole_cycles",
                "fade_in_ms", "fade_out_ms", "thd_db", "sinad_db", "enob_bits", "harmonics_db"]


def near(got, want, tol):
    return got is not None and abs(got - want) <= tol


def db(x):
    return 10 * math.log10(x)


# --- groups -----------------------------------------------------------------

def group_accuracy(tmp):
    """Tones with chosen harmonics and noise: each figure against its truth,
    where it lies 20 dB or more above the file's quantisation floor."""
    rate, frames, freq, amp = 48000, 48000, 997.3, 0.5
    cases = [  # bits, encoding, harmonics, noise, fade (frames)
        (16, g.PCM, [(2, 1e-2), (3, 3e-3)], 3e-4, 0),
        (16, g.PCM, [(3, 1e-2)], 0.0, 480),
        (24, g.PCM, [(2, 1e-4), (5, 5e-5)], 1e-6, 0),
        (24, g.PCM, [(2, 1e-3)], 1e-5, 960),
        (32, g.PCM, [(2, 1e-6), (3, 1e-6)], 1e-8, 480),
        (32, g.PCM, [(4, 1e-2)], 0.0, 0),
        (32, g.PCM, [(2, 1e-8), (3, 1e-8)], 3e-9, 0),
        (32, g.FLOAT, [(2, 1e-5), (7, 1e-5)], 1e-7, 480),
        (64, g.FLOAT, [(2, 1e-7), (3, 1e-7)], 1e-9, 0),
    ]
    print(f"{'file':26s} {'quantity':12s} {'truth':>14s} {'measured':>14s} {'error':>10s}")
    for n, (bits, enc, harmonics, noise, fade) in enumerate(cases):
        lead, tail = (300, 700) if fade else (0, 0)
        s = g.tone(frames, rate, freq, amp, harmonics, noise, fade, lead, tail, seed=n + 1)
        path = g.write(os.path.join(tmp, f"acc{n}.wav"), g.wave_bytes([s], rate, bits, enc))
        r, doc = analyze("--json", path)
        c = doc["channels"][0]
        name = f"{bits}-bit {'float' if enc == g.FLOAT else 'PCM'}{', fades' if fade else ''}"
        # Truths: the fundamental's power over noise, harmonics and rounding.
        quant = (2.0 ** -(bits - 1)) ** 2 / 12 if enc == g.PCM else (amp * 2.0 ** -24) ** 2 / 3 if bits == 32 else 0.0
        harm = sum((rel * amp) ** 2 / 2 for _, rel in harmonics)
        sinad = db(amp * amp / 2 / (noise * noise + harm + quant))
        thd = db(sum(rel * rel for _, rel in harmonics))
        level = 20 * math.log10(amp)
        rows = [("frequency", freq, c["frequency_hz"], freq * 1e-6),
                ("level_dbfs", level, c["level_dbfs"], 0.01),
                ("cycles", freq * frames / rate, c["cycles"], 0.01),
                ("fade_in_ms", fade * 1000 / rate, c["fade_in_ms"], 1000 / freq),
                ("fade_out_ms", fade * 1000 / rate, c["fade_out_ms"], 1000 / freq)]
        # A figure is held to 0.3 dB where its power is 20 dB or more above
        # the rounding's.
        if noise * noise + harm >= 100 * quant:
            rows.append(("sinad_db", sinad, c["sinad_db"], 0.3))
        if harm >= 100 * quant:
            rows.append(("thd_db", thd, c["thd_db"], 0.3))
        for k, rel in harmonics:
            if (rel * amp) ** 2 / 2 >= 100 * quant:
                rows.append((f"harmonic {k}", 20 * math.log10(rel), c["harmonics_db"][k - 2], 0.3))
        for what, truth, got, tol in rows:
            print(f"{name:26s} {what:12s} {truth:14.7f} {got:14.7f} {got - truth:10.2e}")
            check(near(got, truth, tol), f"{name}: {what} {got} against {truth}")
        check(r.returncode == 0 and doc["format"]["problems"] == [], f"{name}: analysed without problems")


def group_convergence(tmp):
    """The fit settles from its coarse estimate on 2 cycles and on 30 000."""
    rate = 48000
    for cycles, freq, phase in [(2, 1000.0, 0.0), (2, 1000.0, 2.0), (3, 750.0, 1.0), (2.5, 1200.0, 0.5)]:
        frames = int(round(cycles * rate / freq))
        s = g.tone(frames, rate, freq, 0.7, phase=phase)
        path = g.write(os.path.join(tmp, "short.wav"), g.wave_bytes([s], rate, 24))
        r, doc = analyze("--json", path)
        c = doc["channels"][0]
        check(near(c["frequency_hz"], freq, freq * 1e-6), f"{cycles} cycles: frequency {c['frequency_hz']}")
        check(near(c["cycles"], cycles, 0.01), f"{cycles} cycles: counted {c['cycles']}")
    path = os.path.join(tmp, "long.wav")
    subprocess.run(["sox", "-n", "-r", "48000", "-b", "24", path, "synth", "30", "sine", "1000"], check=True)
    r, doc = analyze("--json", path)
    c = doc["channels"][0]
    check(near(c["frequency_hz"], 1000.0, 1e-6) and c["cycles"] == 30000.0 and c["whole_cycles"],
          f"sox 30000 cycles: {c['frequency_hz']} Hz, {c['cycles']} cycles")
    check(c["fade_in_ms"] == 0 and c["fade_out_ms"] == 0, "sox tone: no fades")
    # Other makers' fades, found from their shapes: sox's quarter sine, half
    # sine, straight line and inverted parabola.
    for shape in "qhtp":
        subprocess.run(["sox", "-n", "-r", "48000", "-b", "24", path, "synth", "2", "sine", "1000",
                        "fade", shape, "0.05", "2", "0.1"], check=True)
        r, doc = analyze("--json", path)
        c = doc["channels"][0]
        check(c["fade_in_ms"] == 50.0 and c["fade_out_ms"] == 100.0 and c["cycles"] == 2000.0,
              f"sox fade {shape}: {c['fade_in_ms']} ms, {c['fade_out_ms']} ms, {c['cycles']} cycles")


def calyx(tmp, args):
    path = os.path.join(tmp, "calyx.wav")
    subprocess.run([os.path.join(os.path.dirname(CLI), "calyx-cli"), "--quiet", *args, "--out", path], check=True)
    return path


def saturated(path, bits):
    """Whether any sample of a Calyx file sits at the end of its range."""
    with open(path, "rb") as f:
        raw = f.read()[140:]
    top = (1 << (bits - 1)) - 1
    if bits == 24:
        values = (int.from_bytes(raw[i:i + 3], "little", signed=True) for i in range(0, len(raw), 3))
        return any(v >= top or v <= -top - 1 for v in values)
    a = array.array("h" if bits == 16 else "i")
    a.frombytes(raw)
    return max(a) >= top or min(a) <= -top - 1


def group_calyx(tmp):
    """Calyx's own files: the sum, the cycles, the frequency, the fades and
    the header, as planned, over rates, widths and frequencies."""
    requests = [  # rate, freq, atten, seconds, bits
        (44100, 997, 0, 3, 16), (48000, 1000, 0, 1, 24), (48000, 1000.3, 3, 2, 32),
        (8000, 112.9, 0, 1, 32), (96000, 20000, 10, 1, 24), (192000, 2, 0, 1, 32),
        (44100, 19999.7, 20, 2, 16), (384000, 1000, 0, 10, 32), (48000, 3, 1, 1, 24),
    ]
    for rate, freq, atten, seconds, bits in requests:
        what = f"calyx {rate} Hz {freq} Hz -{atten} dB {seconds} s {bits}-bit"
        path = calyx(tmp, ["--rate", str(rate), "--freq", str(freq), "--atten", str(atten),
                           "--seconds", str(seconds), "--bits", str(bits)])
        r, doc = analyze("--json", path)
        text, _ = analyze(path)
        planned = math.floor(freq * seconds + 0.5)
        ramp = min(planned // 2, math.ceil(0.01 * freq - 1e-9))
        # The tone's span is whole cycles to within a sample (the fade-out
        # may start a sample late, on a rising zero crossing): at a few
        # samples per cycle that sample is a good part of a cycle.
        sample = freq / rate
        # A tone of (almost) only fades is fitted under its fitted fades,
        # which bounds the frequency's precision.
        precision = 5e-8 if planned - 2 * ramp < 4 else 1e-9
        # 16-bit files are dithered after the sum is cancelled.
        exact = bits != 16 and not saturated(path, bits)
        f = doc["format"]
        check(f["header_bytes"] == 140 and f["problems"] == [] and f["encoding"] == "pcm", f"{what}: format {f}")
        for i, c in enumerate(doc["channels"]):
            if exact:
                check(c["sum"] == 0, f"{what}: channel {i + 1} sum {c['sum']}")
            check(near(c["cycles"], planned, sample + 0.01) and (c["whole_cycles"] or sample > 0.04),
                  f"{what}: {c['cycles']} cycles, planned {planned}")
            check(near(c["frequency_hz"], freq, freq * precision), f"{what}: frequency {c['frequency_hz']}")
            check(near(c["level_dbfs"], -atten, 0.01), f"{what}: level {c['level_dbfs']}")
            for key in ("fade_in_ms", "fade_out_ms"):
                check(near(c[key], ramp * 1000 / freq, 1000 / freq), f"{what}: {key} {c[key]}, planned {ramp} cycles")
        check("header as designed" in text.stdout, f"{what}: header check:\n{text.stdout}")
        check(("sum exactly 0 yes" in text.stdout) == exact, f"{what}: sum check:\n{text.stdout}")
        if sample <= 0.04:
            check("whole cycles yes" in text.stdout and "fades over whole cycles yes" in text.stdout,
                  f"{what}: cycle checks:\n{text.stdout}")


def group_files(tmp):
    """Layouts and broken files: what was found is said, the samples are read
    as far as they go, and the exit status says whether it could be read."""
    rate = 48000
    tone = g.tone(4800, rate, 1000.0, 0.5)
    data = g.pack([tone], 16, g.PCM)
    good = g.wave_bytes([tone], rate, 16)
    fmt = g.fmt_chunk(1, rate, 16, g.PCM)

    def riff(body, size=None):
        return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body

    cases = [  # name, bytes, exit, frames, words expected in a problem (None: no problem)
        ("plain", good, 0, 4800, None),
        ("extensible", g.wave_bytes([tone], rate, 16, extensible=True), 0, 4800, None),
        ("truncated", good[:-1001], 0, 4299, "cut short"),
        ("trailing", good + b"\x07" * 10, 0, 4800, "RIFF size"),
        ("data size 0", riff(b"WAVE" + fmt + b"data" + struct.pack("<I", 0) + data, 0), 0, 4800, "stream"),
        ("data size FFFFFFFF", riff(b"WAVE" + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF) + data, 0xFFFFFFFF),
         0, 4800, "0xFFFFFFFF"),
        ("odd chunk padded", riff(b"WAVE" + fmt + g.chunk(b"LIST", b"abc") + g.chunk(b"data", data)), 0, 4800, None),
        ("odd chunk unpadded", riff(b"WAVE" + fmt + g.chunk(b"LIST", b"abc", pad=False) + g.chunk(b"data", data)),
         0, 4800, "no pad byte"),
        ("unknown chunk", riff(b"WAVE" + fmt + g.chunk(b"zork", b"12") + g.chunk(b"data", data)), 0, 4800, "'zork'"),
        ("half frame", riff(b"WAVE" + g.fmt_chunk(2, rate, 16, g.PCM) + g.chunk(b"data", data[:-2])), 0, 2399,
         "incomplete frame"),  # read as stereo: each channel sees every other sample, 2 kHz
        ("garbage after data", riff(b"WAVE" + fmt + g.chunk(b"data", data)) + b"\x01\x02\x03\x04\x05\x06\x07\x08\x09",
         0, 4800, "follow the RIFF chunk"),
        ("not a wave", b"hello, this is text and not a RIFF file", 3, None, "RIFF/WAVE"),
        ("8-bit", riff(b"WAVE" + g.chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, rate, rate, 1, 8)) +
                       g.chunk(b"data", b"\x80" * 100)), 3, None, "not read"),
        ("9 channels", riff(b"WAVE" + g.chunk(b"fmt ", struct.pack("<HHIIHH", 1, 9, rate, rate * 18, 18, 16)) +
                            g.chunk(b"data", b"\0" * 180)), 3, None, "1 to 8"),
        ("no data chunk", riff(b"WAVE" + fmt), 3, None, "no data chunk"),
        ("empty", b"", 3, None, "too few"),
        ("no samples", riff(b"WAVE" + fmt + g.chunk(b"data", b"")), 0, 0, None),
    ]
    for name, content, code, frames, words in cases:
        path = g.write(os.path.join(tmp, "case.wav"), content)
        r, doc = analyze("--json", path)
        problems = doc["format"]["problems"]
        check(r.returncode == code, f"{name}: exit {r.returncode}, expected {code}")
        check(doc["format"]["frames"] == frames, f"{name}: {doc['format']['frames']} frames, expected {frames}")
        if words is None:
            check(problems == [], f"{name}: no problem expected, got {problems}")
        else:
            check(any(words in p for p in problems), f"{name}: a problem with {words!r}, got {problems}")
        if code == 0 and frames and frames > 1000:
            c = doc["channels"][0]
            hz = 2000.0 if name == "half frame" else 1000.0
            check(near(c["frequency_hz"], hz, 1e-3), f"{name}: still measured, {c['frequency_hz']} Hz")

    # Every width and encoding, 1 to 8 channels, the exact integer sum.
    for bits, enc, channels in [(16, g.PCM, 1), (24, g.PCM, 8), (32, g.PCM, 3), (32, g.FLOAT, 2), (64, g.FLOAT, 5)]:
        chans = [g.tone(2400, rate, 500.0 * (c + 1), 0.9 / (c + 1), phase=0.1 * c) for c in range(channels)]
        path = g.write(os.path.join(tmp, "multi.wav"), g.wave_bytes(chans, rate, bits, enc))
        r, doc = analyze("--json", path)
        check(len(doc["channels"]) == channels, f"{bits}-bit x {channels}: channels")
        for c, samples in enumerate(chans):
            got = doc["channels"][c]
            if enc == g.PCM:
                check(got["sum"] == sum(g.quantise(samples, bits)), f"{bits}-bit x {channels}: sum of channel {c + 1}")
            else:
                check(abs(got["sum"] - sum(samples)) < 1e-6, f"{bits}-bit x {channels}: float sum")
            check(near(got["frequency_hz"], 500.0 * (c + 1), 1e-6 * 500 * (c + 1)),
                  f"{bits}-bit x {channels}: frequency of channel {c + 1}")

    # A sum that needs more than 53 bits: 2^31 - 1 in 2^23 + 1 samples.
    frames = (1 << 23) + 1
    path = os.path.join(tmp, "big.wav")
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + 4 * frames) + b"WAVE" + g.fmt_chunk(1, rate, 32, g.PCM) +
                b"data" + struct.pack("<I", 4 * frames))
        f.write(struct.pack("<i", 0x7FFFFFFF) * frames)
    r, doc = analyze("--json", path)
    check(doc["channels"][0]["sum"] == 0x7FFFFFFF * frames, f"54-bit sum: {doc['channels'][0]['sum']}")


def group_notone(tmp):
    """Silence and noise: levels as sox reports them, and no tone."""
    rate = 48000
    silence = g.write(os.path.join(tmp, "silence.wav"), g.wave_bytes([[0.0] * 4800], rate, 16))
    noise = g.write(os.path.join(tmp, "noise.wav"), g.wave_bytes([g.tone(48000, rate, 1000.0, 0.0, noise=0.1)], rate, 24))
    for path, name in [(silence, "silence"), (noise, "noise")]:
        r, doc = analyze("--json", path)
        c = doc["channels"][0]
        check(r.returncode == 0, f"{name}: exit {r.returncode}")
        check(all(c[k] is None for k in KEYS_CHANNEL[3:]), f"{name}: tone fields null: {c}")
        text, _ = analyze(path)
        check("no tone" in text.stdout or "silent" in text.stdout, f"{name}: says so:\n{text.stdout}")
    # Levels against sox's stats on the noise and on a tone.
    tone = g.write(os.path.join(tmp, "tone.wav"), g.wave_bytes([g.tone(48000, rate, 440.0, 0.3, noise=0.01)], rate, 24))
    for path in (noise, tone):
        stats = subprocess.run(["sox", path, "-n", "stats"], capture_output=True, text=True).stderr
        sox = dict(m.groups() for m in (re.match(r"(\S.*?)\s{2,}(\S+)", line) for line in stats.splitlines()) if m)
        r, doc = analyze("--json", path)
        c = doc["channels"][0]
        check(near(c["peak_dbfs"], float(sox["Pk lev dB"]), 0.01), f"peak {c['peak_dbfs']} vs sox {sox['Pk lev dB']}")
        check(near(c["rms_dbfs"], float(sox["RMS lev dB"]), 0.01), f"RMS {c['rms_dbfs']} vs sox {sox['RMS lev dB']}")


def group_cli(tmp):
    """The command line: keys, several files, exit statuses, the picture."""
    rate = 48000
    a = g.write(os.path.join(tmp, "a.wav"), g.wave_bytes([g.tone(9600, rate, 1000.0, 0.5, fade=480, lead=1)] * 2, rate, 24))
    b = g.write(os.path.join(tmp, "b.wav"), g.wave_bytes([g.tone(9600, rate, 3000.0, 0.25)], rate, 16))
    r, doc = analyze("--json", a)
    # The keys scripts rely on come first, in this order; new ones follow.
    check(list(doc.keys())[:4] == ["file", "format", "measurement", "channels"], f"keys {list(doc.keys())}")
    check(list(doc["format"].keys())[:len(KEYS_FORMAT)] == KEYS_FORMAT, f"format keys {list(doc['format'].keys())}")
    check(all(list(c.keys())[:len(KEYS_CHANNEL)] == KEYS_CHANNEL for c in doc["channels"]), "channel keys")
    check(len(doc["channels"][0]["harmonics_db"]) == 9, "harmonics 2 to 10 at 1 kHz")
    r, doc = analyze("--json", b)
    check(len(doc["channels"][0]["harmonics_db"]) == 6, "harmonics 2 to 7 below 24 kHz at 3 kHz")

    missing = os.path.join(tmp, "missing.wav")
    r, doc = analyze("--json", a, missing, b)
    check(r.returncode == 3 and isinstance(doc, list) and len(doc) == 3, f"several files: exit {r.returncode}")
    check(doc[1]["channels"] == [] and doc[1]["format"]["problems"], "the missing file is reported")
    r, _ = analyze(a, b)
    check(r.returncode == 0 and r.stdout.count("channel 1") == 2, "text report for two files")
    for args in ([], ["--bogus", a], ["--plot"]):
        r, _ = analyze(*args)
        check(r.returncode == 2, f"usage error {args}: exit {r.returncode}")

    # The picture opens in a renderer and shows more than a blank page.
    svg = os.path.join(tmp, "picture.svg")
    r, _ = analyze("--plot", svg, a)
    check(r.returncode == 0 and os.path.getsize(svg) > 1000, "picture written")
    analyze("--plot", svg, a, b)
    check(os.path.exists(os.path.join(tmp, "picture-1.svg")) and os.path.exists(os.path.join(tmp, "picture-2.svg")),
          "one picture per file")
    png = os.path.join(tmp, "picture.png")
    r = subprocess.run(["rsvg-convert", "-o", png, svg], capture_output=True, text=True)
    check(r.returncode == 0, f"rsvg-convert renders it: {r.stderr}")
    if r.returncode == 0:
        info = subprocess.run(["/usr/bin/convert", png, "-format", "%w %h %[fx:mean]", "info:"],
                              capture_output=True, text=True).stdout.split()
        check(info[:2] == ["960", "760"] and float(info[2]) < 0.97, f"rendered picture {info}")
    # What JSON cannot hold stays valid JSON: file names that are not UTF-8
    # or hold control characters (escaped as \xNN in the text, the JSON and
    # the picture alike), a sum of samples that are not numbers (null).
    nans = g.write(os.path.join(tmp, "nan.wav"),
                   g.wave_bytes([[0.5, float("nan"), -0.5, float("inf")] * 100], rate, 32, g.FLOAT))
    cases = [(nans, "sum", None)]
    for raw, shown in [(b"name-\xff\xfe.wav", "name-\\xff\\xfe.wav"),
                       (b"esc-\x1b[31m\x07<\n>.wav", "esc-\\x1b[31m\\x07<\\x0a>.wav"),
                       (b"c1-\xc2\x9b-\xc3\xa9.wav", "c1-\\xc2\\x9b-\u00e9.wav")]:
        odd = os.fsdecode(os.path.join(os.fsencode(tmp), raw))
        shutil.copyfile(b, odd)
        cases.append((odd, "file", shown))
        oddsvg = os.path.join(tmp, "odd.svg")
        r = subprocess.run([CLI, "analyze", "--plot", oddsvg, odd], capture_output=True, timeout=600)
        text = r.stdout.decode("utf-8", "replace").splitlines()
        check(r.returncode == 0 and text and text[0].endswith(shown), f"text of {raw!r}: {text[:1]}")
        try:
            title = ElementTree.parse(oddsvg).getroot().find("{http://www.w3.org/2000/svg}text").text
            check(shown in title, f"picture of {raw!r}: title {title!r}")
        except ElementTree.ParseError as e:
            check(False, f"picture of {raw!r} is not XML: {e}")
    for path, key, want in cases:
        r = subprocess.run([CLI, "analyze", "--json", path], capture_output=True, timeout=600)
        try:
            got = json.loads(r.stdout.decode("utf-8"))
            got = os.path.basename(got[key]) if key == "file" else got["channels"][0][key]
        except ValueError as e:
            got = f"not JSON: {e}"
        check(got == want, f"JSON of {path!r}: {key} {got!r}, expected {want!r}")

    r, _ = analyze("--plot", os.path.join(tmp, "no", "such", "folder.svg"), a)
    check(r.returncode == 1 and "could not be written" in r.stderr, f"unwritable picture: exit {r.returncode}")
    with open(svg) as f:
        text = f.read()
    check("fade in" in text and "frequency (Hz)" in text and "dBFS" in text and "H2" in text, "labels in the picture")


def group_signals(tmp):
    """calyx-cli's other signals are named, not fitted as one tone; the sine
    with exact phase reaches the SINAD its 32 bits allow."""
    cases = [  # options, what the report must say, frequencies it names (within 2 %)
        (["--signal", "sweep", "--rate", "48000", "--seconds", "5"], "a sweep from about", (20, 20000)),
        (["--signal", "sweep", "--from", "100", "--to", "10000", "--rate", "44100", "--seconds", "4",
          "--silence", "0", "--bits", "16"], "a sweep from about", (100, 10000)),
        (["--signal", "multitone", "--rate", "48000", "--seconds", "3"], "a multitone of 31 tones", (20, 20000)),
        (["--signal", "multitone", "--tones", "octaves", "--rate", "96000", "--seconds", "4", "--bits", "24"],
         "a multitone of 10 tones", (32, 16000)),
    ]
    for args, says, freqs in cases:
        text, _ = analyze(calyx(tmp, args))
        line = next((l for l in text.stdout.splitlines() if "not one tone:" in l), "")
        found = [float(v) for v in line.replace(",", " ").split() if v.replace(".", "").isdigit()]
        check(says in line and "SINAD" not in text.stdout, f"{args}: {line!r}")
        check(len(found) >= 2 and all(abs(f - w) <= 0.02 * w for f, w in zip(found[-2:], freqs)),
              f"{args}: frequencies {found} for {freqs}")
    # Two tones: the stronger is fitted, the other named beside it, and the
    # pair measured as the IMD signal it is.
    for args, kind, freqs in [
        (["--signal", "smpte", "--rate", "48000", "--seconds", "3"], "smpte", (60, 7000)),
        (["--signal", "ccif", "--rate", "44100", "--seconds", "3", "--bits", "16"], "ccif", (19000, 20000)),
    ]:
        _, doc = analyze("--json", calyx(tmp, args))
        c = doc["channels"][0]
        found = sorted([c["frequency_hz"]] + [t["frequency_hz"] for t in c["other_tones"]][:1])
        check(all(abs(f - w) <= 0.02 * w for f, w in zip(found, freqs)) and len(found) == 2,
              f"{args}: tones {found} for {freqs}")
        check(c["imd"] is not None and c["imd"]["kind"] == kind, f"{args}: imd {c['imd']}")
    _, doc = analyze("--json", calyx(tmp, ["--phase", "exact"]))
    sinad = doc["channels"][0]["sinad_db"]
    print(f"the default request with --phase exact: SINAD {sinad:.2f} dB")
    check(sinad >= 185, f"--phase exact: SINAD {sinad:.2f} dB")


GROUPS = {"accuracy": group_accuracy, "convergence": group_convergence, "calyx": group_calyx,
          "files": group_files, "notone": group_notone, "cli": group_cli, "signals": group_signals}

run_group(GROUPS)
