#!/usr/bin/env python3
"""End-to-end tests of calyx-cli's signals beyond the sine: sweeps,
multitones, two-tone signals, channel routing and the exact phase.

Usage: signals_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
import cmath

from cli_common import *  # noqa: F401,F403 (the shared helpers and texts)

PEAK_32 = 2147483645  # the sine's peak at 0 dB, 32 bits
PEAK_24 = 8388605


def fft(x):
    """Radix-2 DFT of a list whose length is a power of two."""
    n = len(x)
    a = [complex(v) for v in x]
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            a[i], a[j] = a[j], a[i]
    size = 2
    while size <= n:
        w = [cmath.exp(-2j * math.pi * k / size) for k in range(size // 2)]
        for start in range(0, n, size):
            for k in range(size // 2):
                u, v = a[start + k], a[start + k + size // 2] * w[k]
                a[start + k], a[start + k + size // 2] = u + v, u - v
        size *= 2
    return a


def db(x):
    return 20 * math.log10(x)


def make(tmp, name, args):
    path = os.path.join(tmp, name)
    r = run(args + ["--out", path])
    check(r.returncode == 0, f"{name}: exit {r.returncode} {r.stderr!r}")
    return path, r.stdout


def check_periodic(path, rate, period, tones, levels_db, what):
    """Whole periods, identical middle periods, energy only at the tones, the
    levels as asked, the peak at the sine's, the sum 0 (files up to 10 s)."""
    left, right = samples(path, 32)
    check(left == right, f"{what}: both channels alike")
    periods = -(-max(4 * period, rate) // period)
    check(len(left) == -(-periods * period // 512) * 512, f"{what}: {periods} whole periods in whole blocks")
    middle = left[period:2 * period]
    check(all(left[k * period:(k + 1) * period] == middle for k in range(2, periods - 1)),
          f"{what}: middle periods identical")
    check(max(abs(v) for v in middle) == PEAK_32, f"{what}: peak at the sine's")
    check(sum(left) == 0, f"{what}: sum exactly 0")
    spectrum = [abs(c) for c in fft(middle)[:period // 2]]
    bins = [round(f * period / rate) for f in tones]
    top = max(spectrum[b] for b in bins)
    others = max(v for k, v in enumerate(spectrum) if k not in bins)
    check(db(top / others) >= 140, f"{what}: other bins {db(top / others):.1f} dB down")
    for b, want in zip(bins, levels_db):
        check(abs(db(spectrum[b] / top) - want) <= 0.02, f"{what}: level at bin {b} {db(spectrum[b] / top):.3f} dB")


def group_kinds(tmp):
    """Every kind made, its length and properties; sets; streams; one path's
    bytes equal another's."""
    # The sweep: the formula between its fades, silence after it.
    rate, f1, f2, secs = 48000, 20.0, 20000.0, 2
    path, out = make(tmp, "sweep.wav", ["--signal", "sweep", "--rate", str(rate), "--seconds", str(secs)])
    left, right = samples(path, 32)
    check(left == right, "sweep: both channels alike")
    k = round(f1 * secs / math.log(f2 / f1))
    length = rate * k / f1 * math.log(f2 / f1)
    sweep_frames = int(out.split("sweep ")[1].split(": ")[1].split(" frames")[0])
    check(abs(sweep_frames - length) < rate / f2 + 1, f"sweep: {sweep_frames} frames, about {length:.0f}")
    check(len(left) == -(-(sweep_frames + rate) // 512) * 512, "sweep: then 1 s of silence, whole blocks")
    check(not any(left[sweep_frames:]), "sweep: silence is digital zero")
    worst = 0
    for n in range(sweep_frames // 10, sweep_frames * 9 // 10, 97):
        want = PEAK_32 * math.sin(2 * math.pi * (k * math.expm1(n * f1 / (rate * k)) % 1.0))
        worst = max(worst, abs(left[n] - want))
    check(worst <= 8, f"sweep: the formula within {worst:.1f} units")
    check(left[0] == 0 and left[sweep_frames - 1] <= 0 < left[sweep_frames // 2] + 2**31,
          "sweep: starts at 0, ends below the rising zero crossing")

    # The multitone on a power-of-two period, the two-tone signals on a rate
    # that is one.
    tones = [100, 1000, 3000, 7000, 15000]
    path, out = make(tmp, "multi.wav", ["--signal", "multitone", "--tones", ",".join(map(str, tones)),
                                        "--period", "4096", "--rate", "48000", "--seconds", "1"])
    check("5 tones, crest factor" in out, f"multitone: summary {out!r}")
    check_periodic(path, 48000, 4096, tones, [0.0] * 5, "multitone")
    for kind, pair, levels in (("smpte", (60, 7000), (0.0, -12.041)), ("ccif", (19000, 20000), (0.0, 0.0))):
        path, out = make(tmp, f"{kind}.wav", ["--signal", kind, "--rate", "65536", "--seconds", "4"])
        check(f"{pair[0]} {pair[1]} Hz" in out, f"{kind}: summary {out!r}")
        check_periodic(path, 65536, 65536, pair, levels, kind)

    # Channels: silence exact, no dither there; the inverted channel the
    # negated one, also dithered.
    base = ["--signal", "multitone", "--tones", "octaves", "--rate", "48000", "--seconds", "1"]
    for bits in (16, 24, 32):
        for channels in ("both", "left", "right", "inverted"):
            path, _ = make(tmp, f"ch-{channels}-{bits}.wav", base + ["--bits", str(bits), "--channels", channels])
            left, right = samples(path, bits)
            what = f"{channels} {bits} bits"
            if channels == "left":
                check(any(left) and not any(right), f"{what}: right silent")
            elif channels == "right":
                check(any(right) and not any(left), f"{what}: left silent")
            elif channels == "inverted":
                check(any(left) and all(r == -v for v, r in zip(left, right)), f"{what}: right = -left")
            elif bits == 16:
                diff = [a - b for a, b in zip(left, right)]
                check(any(diff) and max(map(abs, diff)) <= 2, f"{what}: each channel dithered on its own")
            else:
                check(left == right, f"{what}: the same")
    ref = read_whole(os.path.join(tmp, "ch-both-16.wav"))
    again, _ = make(tmp, "ch-again.wav", base + ["--bits", "16"])
    check(read_whole(again) == ref, "16 bits: the same dither every time")

    # A set naming the signal; each member its single request's bytes, and
    # the same again from a stream and without threads.
    req = ["--rate", "48000", "--seconds", "2", "--bits", "24"]
    r = run(["--signal", "sine,sweep,multitone,smpte,ccif", "--out-dir", os.path.join(tmp, "set")] + req)
    check(r.returncode == 0, f"set: exit {r.returncode} {r.stderr!r}")
    for kind in SIGNALS:
        single = os.path.join(tmp, f"single-{kind}.wav")
        run(["--signal", kind, "--out", single, "--quiet"] + req)
        want = read_whole(single)
        check(read_whole(os.path.join(tmp, "set", f"tone-{kind}.wav")) == want, f"set: tone-{kind}.wav")
        p = subprocess.run([CLI, "--signal", kind, "--out", "-", "--quiet"] + req, capture_output=True, timeout=60)
        check(p.returncode == 0 and p.stdout == want, f"{kind}: stream equals the file")
        serial = os.path.join(tmp, f"serial-{kind}.raw")
        subprocess.run([DUMP, "48000", "1000", "0", "2", "24", serial, kind], check=True)
        check(read_whole(serial) == want[HEADER:], f"{kind}: the engine's blocks one after another, the same bytes")
    r = run(["--signal", "sweep", "--to", "10000,20000", "--out", os.path.join(tmp, "s-{signal}-{to}.wav")] + req)
    check(r.returncode == 0 and os.path.exists(os.path.join(tmp, "s-sweep-10000.wav")), "pattern {signal} {to}")

    # The exact phase: same length as the running one, other samples, the
    # same bytes made in parallel as one block after another.
    for freq in ("1000", "997"):  # one repeats every 48 samples, the other only every second
        a, _ = make(tmp, "running.wav", req + ["--freq", freq])
        b, _ = make(tmp, "exact.wav", req + ["--freq", freq, "--phase", "exact"])
        check(os.path.getsize(a) == os.path.getsize(b) and read_whole(a) != read_whole(b), f"exact {freq}: its own samples")
        check(sum(samples(b, 24)[0]) == 0, f"exact {freq}: sum 0")
        dump = os.path.join(tmp, "exact.raw")
        subprocess.run([DUMP, "48000", freq, "0", "2", "24", dump, "exact"], check=True)
        check(read_whole(dump) == read_whole(b)[HEADER:], f"exact {freq}: the engine's blocks one after another")


SIGNALS = ("sine", "sweep", "multitone", "smpte", "ccif")


def group_kind_refusals(tmp):
    """Every refusal one line, exit 2, nothing written, before any file."""
    cases = [
        (["--signal", "noise"], "--signal: 'noise' is not one of"),
        (["--channels", "up"], "--channels: 'up' is not one of"),
        (["--phase", "fast"], "--phase: 'fast' is not one of"),
        (["--signal", "sweep", "--to", "30000", "--rate", "48000"], "below half the sample rate"),
        (["--signal", "sweep", "--from", "0"], "start above 0 Hz"),
        (["--signal", "sweep", "--from", "1000", "--to", "500"], "must rise"),
        (["--signal", "sweep", "--from", "abc"], "--from: 'abc' is not a decimal number."),
        (["--signal", "multitone", "--tones", "1000,1000.2"], "1000 Hz and 1000.2 Hz fall in the same bin"),
        (["--signal", "multitone", "--tones", "30000", "--rate", "48000"], "30000 Hz is outside the bins"),
        (["--signal", "multitone", "--period", "2"], "at least 4 frames"),
        (["--signal", "ccif", "--rate", "32000"], "at least 44100 Hz"),
        (["--signal", "smpte", "--seconds", "1500", "--rate", "384000"], "4 GB"),
        (["--signal", "sine,ccif", "--rate", "48000,32000", "--seconds", "1"], "--rate 32000"),
    ]
    for args, text in cases:
        folder = os.path.join(tmp, "out")
        os.makedirs(folder, exist_ok=True)
        r = run(args, cwd=folder)
        what = " ".join(args)
        check(r.returncode == 2, f"{what}: exit {r.returncode}")
        check(text in r.stderr and r.stderr.count("\n") == 1, f"{what}: one line naming it {r.stderr!r}")
        check(r.stdout == "" and os.listdir(folder) == [], f"{what}: nothing written")


def group_kind_stops(tmp):
    """A stop and a failed write end every kind as they end the sine."""
    for kind in SIGNALS[1:]:
        path = os.path.join(tmp, f"stop-{kind}.wav")
        p, release = held_job(tmp, ["--signal", kind, "--out", path], 140 + 100 * 4096)
        p.send_signal(signal.SIGTERM)
        release()
        out, err = p.communicate(timeout=60)
        check(p.returncode == 130 and "Stopped" in err, f"{kind} stop: exit {p.returncode} {err!r}")
        check(check_finished(path, 32, 384000, None, f"{kind} stop") >= 100, f"{kind} stop: blocks kept")

        limited = os.path.join(tmp, f"limit-{kind}.wav")

        def limit_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (140 + 10 * 4096, resource.RLIM_INFINITY))
        r = run(["--signal", kind, "--rate", "48000", "--seconds", "1", "--out", limited], preexec=limit_size)
        check(r.returncode == 1 and r.stderr == f"{CREATE} {WRITE_FAILED}\nThe system says: File too large.\n", f"{kind} limit: {r.returncode} {r.stderr!r}")
        check(check_finished(limited, 32, 48000, 10, f"{kind} limit") == 10, f"{kind} limit: 10 blocks")


if __name__ == "__main__":
    main({"kinds": group_kinds, "kind_refusals": group_kind_refusals, "kind_stops": group_kind_stops})
