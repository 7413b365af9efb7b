#!/usr/bin/env python3
"""End-to-end tests of calyx-cli: whole files, exit codes, messages, signals.

Usage: cli_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
import array
import math
import os
import pty
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import wave

CLI, DUMP, NO_THREADS, HOLD, GROUP = sys.argv[1:6]
CLI = os.path.abspath(CLI)
HEADER = 140

INVALID = "Invalid parameter..."
PATH_CAPTION = "Can't create that file..."
CREATE = "Create wav file..."
PATH_MESSAGE = ("Something wrong with the path or filename, or maybe you don't have "
                "permission to put it there.")
ZERO = "nSeconds = 0 or nSampleRate = 0 or Frequency = 0"
NYQUIST = "The frequency you requested is greater than the Nyquist rate!"
POSITIVE = "Sample rate, frequency and duration must be positive numbers."
TOO_BIG = ("The file would be 4 GB or larger. Choose a shorter duration, a lower sample "
           "rate or a smaller bit width.")
TOO_SHORT = ("The tone is too short: it needs at least two whole cycles and more than one "
             "block of 512 samples.")
WRITE_FAILED = "Writing the file failed. It holds only the part written before the failure."
THREAD_FAILED = "Sorry, can't do this. Something's wrong"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def run(args, cwd=None, env=None, preexec=None):
    return subprocess.run([CLI] + args, cwd=cwd, env=env, preexec_fn=preexec,
                          capture_output=True, text=True, timeout=300)


def header(path):
    with open(path, "rb") as f:
        return f.read(HEADER)


def check_finished(path, bits, rate, blocks=None, what=""):
    """The header of a finished file: every field, sizes agreeing with the length."""
    length = os.path.getsize(path)
    h = header(path)
    data = length - HEADER
    align = bits // 8 * 2
    check(h[0:4] == b"RIFF" and h[8:12] == b"WAVE", f"{what}: RIFF/WAVE tags")
    check(struct.unpack_from("<I", h, 4)[0] == length - 8, f"{what}: RIFF size")
    check(h[12:16] == b"fmt " and struct.unpack_from("<I", h, 16)[0] == 100, f"{what}: fmt chunk")
    tag, channels, sps, avg, block_align, bps, cb = struct.unpack_from("<HHIIHHH", h, 20)
    check((tag, channels, sps, avg, block_align, bps, cb) ==
          (1, 2, rate, rate * align, align, bits, 82), f"{what}: format fields")
    notice = h[38:101]
    check(all(32 <= c < 127 for c in notice), f"{what}: 63-character printable notice")
    check(h[101:120] == bytes(19), f"{what}: NUL and 18 zero bytes after the notice")
    check(h[120:124] == b"fact" and struct.unpack_from("<I", h, 124)[0] == 4, f"{what}: fact")
    check(h[132:136] == b"data" and struct.unpack_from("<I", h, 136)[0] == data,
          f"{what}: data size")
    check(data % (512 * align) == 0, f"{what}: whole blocks")
    check(struct.unpack_from("<I", h, 128)[0] == data // (bits // 8), f"{what}: fact value")
    if blocks is not None:
        check(data == blocks * 512 * align, f"{what}: {blocks} blocks, got {data / 512 / align}")
    return data // (512 * align)


def samples(path, bits):
    """Both channels as lists of ints (24 and 32 bits)."""
    with open(path, "rb") as f:
        raw = f.read()[HEADER:]
    if bits == 32:
        a = array.array("i")
        a.frombytes(raw)
        if sys.byteorder != "little":
            a.byteswap()
    elif bits == 16:
        a = array.array("h")
        a.frombytes(raw)
    else:
        a = [int.from_bytes(raw[i:i + 3], "little", signed=True) for i in range(0, len(raw), 3)]
    return a[0::2], a[1::2]


def refused(args, caption, message, what, code=2, cwd=None):
    r = run(args, cwd=cwd)
    check(r.returncode == code, f"{what}: exit {r.returncode}, expected {code}")
    check(r.stderr == f"{caption} {message}\n", f"{what}: stderr {r.stderr!r}")
    check(r.stdout == "", f"{what}: no summary")


# --- groups -----------------------------------------------------------------

def group_default(tmp):
    """The default request: size, header, samples, and three other readers."""
    r = run([], cwd=tmp)
    path = os.path.join(tmp, "Test.wav")
    check(r.returncode == 0, f"default: exit {r.returncode} {r.stderr}")
    check(os.path.getsize(path) == 92160140, "default: 92160140 bytes")
    check(check_finished(path, 32, 384000, 22500, "default") == 22500, "default: 22500 blocks")
    h = header(path)
    check(struct.unpack_from("<I", h, 128)[0] == 23040000, "default: fact 23040000")
    check(r.stdout.startswith(path + ":") and "11520000 frames" in r.stdout
          and "92160140 bytes" in r.stdout and r.stdout.count("\n") == 1,
          f"default: summary {r.stdout!r}")
    check(r.stderr == "", "default: nothing on stderr when it is no terminal")

    # The job's file equals the engine's own samples, byte for byte.
    expected = os.path.join(tmp, "engine.raw")
    subprocess.run([DUMP, "384000", "1000.0", "0", "30", "32", expected], check=True)
    with open(path, "rb") as a, open(expected, "rb") as b:
        a.seek(HEADER)
        same = True
        while True:
            x, y = a.read(1 << 20), b.read(1 << 20)
            if x != y:
                same = False
                break
            if not x:
                break
    check(same, "default: samples equal the engine's")
    os.remove(expected)

    # And they are the tone asked for: a 1 kHz sine at 2^31 - 3, the same in
    # both channels, fading over 3839 samples (within the phase's rounding).
    with open(path, "rb") as f:
        for start in (3839, 5000000, 11520000 - 3839 - 1000):
            f.seek(HEADER + start * 8)
            frames = struct.unpack("<2000i", f.read(8000))
            worst = 0.0
            for i in range(1000):
                n = start + i
                ideal = 2147483645.0 * math.sin(2 * math.pi * 1000 * (n + 1) / 384000)
                worst = max(worst, abs(frames[2 * i] - ideal))
                check(frames[2 * i] == frames[2 * i + 1], "default: channels equal")
            check(worst < 2147483645.0 * 1e-4, f"default: sine at {start}, off by {worst}")
        f.seek(HEADER)
        first = struct.unpack("<2i", f.read(8))
        check(abs(first[0]) < 1000, "default: the fade starts near zero")

    # Other readers agree on format, rate, channels and frames.
    with wave.open(path, "rb") as w:
        check((w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) ==
              (2, 4, 384000, 11520000), "default: Python wave")
    si = subprocess.run(["sox", "--i", path], capture_output=True, text=True)
    check(si.returncode == 0 and "Channels       : 2" in si.stdout
          and "Sample Rate    : 384000" in si.stdout and "Precision      : 32-bit" in si.stdout
          and "11520000 samples" in si.stdout and "Signed Integer PCM" in si.stdout,
          f"default: sox --i {si.stdout} {si.stderr}")
    fp = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                         "stream=codec_name,sample_rate,channels,bits_per_sample,duration_ts",
                         "-of", "default=noprint_wrappers=1", path],
                        capture_output=True, text=True)
    check(fp.returncode == 0 and "codec_name=pcm_s32le" in fp.stdout
          and "sample_rate=384000" in fp.stdout and "channels=2" in fp.stdout
          and "duration_ts=11520000" in fp.stdout, f"default: ffprobe {fp.stdout} {fp.stderr}")


def group_files(tmp):
    """Sums, repeatability, equality with the engine at every width, the longer plan."""
    for bits in (24, 32):
        path = os.path.join(tmp, f"s{bits}.wav")
        r = run(["--rate", "44100", "--seconds", "1", "--bits", str(bits), "--out", path])
        check(r.returncode == 0, f"sum {bits}: exit {r.returncode}")
        check_finished(path, bits, 44100, 87, f"sum {bits}")
        left, right = samples(path, bits)
        check(sum(left) == 0 and sum(right) == 0, f"sum {bits}: {sum(left)} {sum(right)}")
        check(list(left) == list(right), f"sum {bits}: channels equal")

    a, b = os.path.join(tmp, "a.wav"), os.path.join(tmp, "b.wav")
    for p in (a, b):
        run(["--rate", "48000", "--freq", "997", "--seconds", "2", "--bits", "16", "--out", p])
    with open(a, "rb") as fa, open(b, "rb") as fb:
        check(fa.read() == fb.read(), "16-bit: two runs give identical files")
    check_finished(a, 16, 48000, 188, "16-bit")
    left, right = samples(a, 16)
    check(max(abs(x - y) for x, y in zip(left, right)) <= 1, "16-bit: channels within a step")
    check(max(map(abs, left)) <= 32766, "16-bit: peak at most 32766")

    for bits, atten in ((16, 0), (24, 6), (32, 1)):
        path = os.path.join(tmp, f"e{bits}.wav")
        raw = os.path.join(tmp, f"e{bits}.raw")
        run(["--rate", "44100", "--freq", "1000.3", "--atten", str(atten), "--seconds", "1",
             "--bits", str(bits), "--out", path])
        subprocess.run([DUMP, "44100", "1000.3", str(atten), "1", str(bits), raw], check=True)
        with open(path, "rb") as f, open(raw, "rb") as g:
            check(f.read()[HEADER:] == g.read(), f"engine equality at {bits} bits")

    # 2.5 Hz for 1 s rounds up to 3 cycles: 12 blocks at 5120 Hz, not the 10
    # asked for; the whole tone is written, its fade-out ending near zero.
    path = os.path.join(tmp, "long.wav")
    raw = os.path.join(tmp, "long.raw")
    r = run(["--rate", "5120", "--freq", "2.5", "--seconds", "1", "--out", path])
    check(r.returncode == 0, "longer plan: exit")
    check_finished(path, 32, 5120, 12, "longer plan")
    subprocess.run([DUMP, "5120", "2.5", "0", "1", "32", raw], check=True)
    with open(path, "rb") as f, open(raw, "rb") as g:
        check(f.read()[HEADER:] == g.read(), "longer plan: the engine's whole tone")
    left, right = samples(path, 32)
    check(max(map(abs, left[10 * 512:])) > 2147483645 // 100, "longer plan: tone after block 10")
    check(abs(left[-1]) < 2147483645 // 1000, "longer plan: fade-out complete")


def group_refusals(tmp):
    """Every refusal: its words, its caption and exit 2; the order of the checks."""
    short = ["--rate", "44100", "--seconds", "1"]
    out = ["--out", os.path.join(tmp, "r.wav")]
    cases = [
        (["--bits", "16", "--atten", "91"], INVALID, "At bit width of 16 maximum attenuation is 90 dB"),
        (["--bits", "24", "--atten", "139"], INVALID, "At bit width of 24 maximum attenuation is 138 dB"),
        (["--bits", "32", "--atten", "187"], INVALID, "At bit width of 32 maximum attenuation is 186 dB"),
        (["--bits", "16", "--atten", "100", "--rate", "0"], INVALID,
         "At bit width of 16 maximum attenuation is 90 dB"),
        (["--rate", "0"], INVALID, ZERO),
        (["--seconds", "0"], INVALID, ZERO),
        (["--freq", "0.9"], INVALID, ZERO),
        (["--freq=-0.9"], INVALID, ZERO),
        (["--freq", "192000.5"], INVALID, NYQUIST),
        (["--freq", "1e12"], INVALID, NYQUIST),
        (["--rate", "44101", "--freq", "22050.5"], INVALID, NYQUIST),
        (["--freq=-5"], INVALID, POSITIVE),
        (["--seconds=-1"], INVALID, POSITIVE),
        (["--seconds", "6000"], INVALID, TOO_BIG),
        (["--seconds", "1399"], INVALID, TOO_BIG),
        (["--rate", "44100", "--freq", "1", "--seconds", "1"], CREATE, TOO_SHORT),
        (["--rate", "500", "--freq", "2", "--seconds", "1"], CREATE, TOO_SHORT),
    ]
    for args, caption, message in cases:
        refused(args + out, caption, message, " ".join(args))
        check(not os.path.exists(out[1]), f"{' '.join(args)}: no file left")
    # The path test comes before every number.
    refused(["--rate", "0", "--out", os.path.join(tmp, "no", "dir", "t.wav")],
            PATH_CAPTION, PATH_MESSAGE, "missing directory")
    refused(["--out", tmp], PATH_CAPTION, PATH_MESSAGE, "a directory")
    # The dialog's field holds 255 characters; on the command line the system
    # decides: a path of 300 is written whole, one it cannot take is refused.
    long_dir = os.path.join(tmp, "d" * 100, "e" * 100)
    os.makedirs(long_dir)
    long_name = os.path.join(long_dir, "x" * (300 - len(long_dir) - 1))
    r = run(["--seconds", "1", "--rate", "8000", "--out", long_name])
    check(r.returncode == 0 and os.path.getsize(long_name) > HEADER, f"path of 300 characters: {r.stderr!r}")
    refused(["--out", os.path.join(tmp, "x" * 300)], PATH_CAPTION, PATH_MESSAGE, "a name over 255 bytes")
    # The limits themselves pass.
    for args in (["--bits", "16", "--atten", "90"], ["--bits", "24", "--atten", "138"],
                 ["--bits", "32", "--atten", "186"], ["--rate", "44101", "--freq", "22050.49"],
                 ["--rate", "384000", "--freq", "192000.49"], ["--freq", "1.0", "--seconds", "3"]):
        options = dict(zip(short[::2], short[1::2]))
        options.update(zip(args[::2], args[1::2]))
        r = run([x for kv in options.items() for x in kv] + out)
        check(r.returncode == 0, f"{' '.join(args)} passes: {r.stderr}")
    # Values that do not convert are named; exit 2.
    for args, word in ((["--rate", "12x"], "12x"), (["--rate", "0x10"], "0x10"),
                       (["--freq", "abc"], "abc"), (["--freq", "nan"], "nan"),
                       (["--atten=-5"], "-5"), (["--seconds", "1.5"], "1.5"),
                       (["--rate", "99999999999"], "99999999999"), (["--bits", "20"], "20"),
                       (["--frobnicate"], "frobnicate")):
        r = run(args + out)
        check(r.returncode == 2 and word in r.stderr, f"parse {args}: {r.returncode} {r.stderr!r}")
    # One grammar with the dialog's fields: blanks around and a plus sign pass,
    # an empty value or another base does not.
    for args, word in ((["--bits", "0x18"], "0x18"), (["--bits", ""], "--bits"),
                       (["--rate", ""], "--rate"), (["--atten", "1e2"], "1e2")):
        r = run(args + out)
        check(r.returncode == 2 and word in r.stderr, f"parse {args}: {r.returncode} {r.stderr!r}")
    r = run(["--atten", "+5", "--freq", " 1000", "--bits", "+16"] + short + out)
    check(r.returncode == 0 and struct.unpack_from("<H", header(out[1]), 34)[0] == 16,
          f"blanks and signs: {r.returncode} {r.stderr!r}")
    # Leading zeros are decimal, not octal.
    path = os.path.join(tmp, "z.wav")
    r = run(["--rate", "044100", "--seconds", "01", "--out", path])
    check(r.returncode == 0 and struct.unpack_from("<I", header(path), 24)[0] == 44100,
          "leading zeros are decimal")
    r = run(["--help"])
    check(r.returncode == 0 and all(o in r.stdout for o in
          ("--rate", "--freq", "--atten", "--seconds", "--bits", "--out", "--quiet", "--version")),
          "help")
    r = run(["--version"])
    check(r.returncode == 0 and r.stdout.startswith("calyx-cli "), f"version {r.stdout!r}")


def group_faults(tmp):
    """The path test leaves existing files alone; a thread that cannot start."""
    keep = os.path.join(tmp, "keep.wav")
    with open(keep, "wb") as f:
        f.write(b"precious bytes")
    old = os.stat(keep).st_mtime_ns
    time.sleep(0.01)
    for args in (["--atten", "999"], ["--rate", "0"], ["--freq", "1", "--rate", "44100",
                                                        "--seconds", "1"]):
        r = run(args + ["--out", keep])
        check(r.returncode == 2, f"existing file, {args}: exit 2")
        with open(keep, "rb") as f:
            check(f.read() == b"precious bytes", f"existing file survives {args}")
        check(os.stat(keep).st_mtime_ns == old, f"existing file untouched by {args}")

    env = dict(os.environ, LD_PRELOAD=NO_THREADS, ASAN_OPTIONS="verify_asan_link_order=0")
    path = os.path.join(tmp, "nothread.wav")
    r = run(["--seconds", "1", "--out", path], env=env)
    check(r.returncode == 1, f"no thread: exit {r.returncode}")
    check(r.stderr == f"{CREATE} {THREAD_FAILED}\n", f"no thread: {r.stderr!r}")
    check(not os.path.exists(path), "no thread: no file")


def held_job(tmp, args, hold_bytes):
    """Starts calyx-cli held in its write once hold_bytes are written; returns
    the process and a function that lets it go on."""
    signal_file, release_file = os.path.join(tmp, "held"), os.path.join(tmp, "release")
    for f in (signal_file, release_file):
        if os.path.exists(f):
            os.remove(f)
    env = dict(os.environ, LD_PRELOAD=HOLD, CALYX_HOLD_BYTES=str(hold_bytes),
               CALYX_HOLD_SIGNAL=signal_file, CALYX_HOLD_RELEASE=release_file,
               ASAN_OPTIONS="verify_asan_link_order=0")
    p = subprocess.Popen([CLI] + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.time() + 60
    while not os.path.exists(signal_file) and p.poll() is None and time.time() < deadline:
        time.sleep(0.001)
    check(os.path.exists(signal_file), f"held: the job reached the hold ({p.poll()})")
    return p, lambda: open(release_file, "w").close()


def group_stop(tmp):
    """SIGINT or SIGTERM while the job runs: exit 130 and a finished file of
    whole blocks. The job is held in a write, so the stop always finds it running."""
    for sig in (signal.SIGINT, signal.SIGTERM):
        path = os.path.join(tmp, f"stop{sig}.wav")
        full = 140 + 60 * 384000 * 8
        p, release = held_job(tmp, ["--seconds", "60", "--out", path], 140 + 100 * 4096)
        p.send_signal(sig)
        release()
        out, err = p.communicate(timeout=60)
        check(p.returncode == 130, f"stop {sig}: exit {p.returncode} {err}")
        size = os.path.getsize(path)
        check(size < full, f"stop {sig}: stopped early ({size} bytes)")
        blocks = check_finished(path, 32, 384000, None, f"stop {sig}")
        check(blocks >= 100, f"stop {sig}: holds the blocks made before the stop")
        check(out == "" and "Stopped" in err, f"stop {sig}: report {out!r} {err!r}")
        with wave.open(path, "rb") as w:
            check(w.getnframes() == blocks * 512, f"stop {sig}: Python wave reads it")
        os.remove(path)


def group_write_failure(tmp):
    """A file-size limit part-way: the message, exit 1, a finished file."""
    for extra in (0, 1000):
        limit = 140 + 10 * 4096 + extra
        path = os.path.join(tmp, f"limit{extra}.wav")

        def limit_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        r = run(["--rate", "44100", "--seconds", "1", "--out", path], preexec=limit_size)
        check(r.returncode == 1, f"limit +{extra}: exit {r.returncode}")
        check(r.stderr == f"{CREATE} {WRITE_FAILED}\n", f"limit +{extra}: {r.stderr!r}")
        if extra == 0:
            blocks = check_finished(path, 32, 44100, None, f"limit +{extra}")
            check(blocks == 10, f"limit +{extra}: 10 whole blocks, got {blocks}")
        else:
            # A short last write may leave part of a block: the sizes still
            # match the file, and the fact value counts the whole blocks.
            h, length = header(path), os.path.getsize(path)
            check(struct.unpack_from("<I", h, 4)[0] == length - 8
                  and struct.unpack_from("<I", h, 136)[0] == length - HEADER,
                  f"limit +{extra}: sizes match the file")
            check(struct.unpack_from("<I", h, 128)[0] == 10 * 512 * 2,
                  f"limit +{extra}: fact counts the 10 whole blocks")
        with wave.open(path, "rb") as w:
            check(w.getnframes() >= 5120, f"limit +{extra}: Python wave reads it")


def on_terminal(args):
    """What calyx-cli shows on a terminal's standard error, and its status."""
    pid, fd = pty.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.execv(CLI, [CLI] + args)
    seen = b""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), seen


def group_terminal(tmp):
    """A progress bar on a terminal (files and bytes for a set), nothing on a
    pipe, nothing with --quiet."""
    path = os.path.join(tmp, "t.wav")
    status, seen = on_terminal(["--rate", "44100", "--seconds", "5", "--out", path])
    check(status == 0 and b"100%" in seen and b"[####" in seen, f"terminal: progress bar {seen[-200:]!r}")
    status, seen = on_terminal(["--rate", "44100", "--seconds", "5", "--atten", "0,6,12",
                                "--out-dir", os.path.join(tmp, "set")])
    check(status == 0 and b"3 of 3 files" in seen and b" MB" in seen, f"terminal: set progress {seen[-200:]!r}")
    r = run(["--rate", "44100", "--seconds", "1", "--out", path, "--quiet"])
    check(r.returncode == 0 and r.stdout == "" and r.stderr == "", "quiet: silent")


def read_whole(path):
    with open(path, "rb") as f:
        return f.read()


def group_streams(tmp):
    """Pipes, FIFOs and devices get a complete stream, the same bytes as a
    file; a stream cut short says so; a closed reader is a failed write."""
    req = ["--rate", "44100", "--seconds", "2", "--bits", "24"]
    ref = os.path.join(tmp, "ref.wav")
    run(req + ["--out", ref, "--quiet"])
    want = read_whole(ref)

    # A FIFO with its reader already waiting, and --out - into a pipe.
    fifo, got = os.path.join(tmp, "fifo"), os.path.join(tmp, "from-fifo.wav")
    os.mkfifo(fifo)
    reader = subprocess.Popen(["sh", "-c", f"cat '{fifo}' > '{got}'"])
    r = run(req + ["--out", fifo])
    reader.wait(timeout=60)
    check(r.returncode == 0 and read_whole(got) == want, f"FIFO: exit {r.returncode}, identical bytes")
    p = subprocess.run(f"'{CLI}' {' '.join(req)} --out - | cat > '{got}'", shell=True,
                       capture_output=True, text=True, timeout=60)
    check(p.returncode == 0 and read_whole(got) == want, f"--out -: identical bytes {p.stderr!r}")
    check(p.stderr.startswith("-: ") and "frames" in p.stderr, f"--out -: summary on stderr {p.stderr!r}")
    check(subprocess.run(["sox", "-t", "wav", "-", "-n", "stats"], input=want, capture_output=True).returncode
          == 0, "sox reads the stream")

    # Devices cannot be measured after the finish: writing to them is no failure.
    null_link = os.path.join(tmp, "null")
    os.symlink("/dev/null", null_link)
    for out in ("/dev/null", null_link):
        r = run(req + ["--out", out])
        check(r.returncode == 0, f"{out}: exit {r.returncode} {r.stderr!r}")
    p = subprocess.run(f"'{CLI}' {' '.join(req)} --out /dev/stdout | cat > '{got}'", shell=True,
                       capture_output=True, text=True, timeout=60)
    check(p.returncode == 0 and read_whole(got) == want, f"/dev/stdout into a pipe: {p.stderr!r}")

    # A reader that leaves early: exit 1, a message, no crash.
    p = subprocess.run(f"'{CLI}' --seconds 5 --out - | head -c 100000 > /dev/null; exit ${{PIPESTATUS[0]}}",
                       shell=True, executable="/bin/bash", capture_output=True, text=True, timeout=60)
    check(p.returncode == 1 and "shorter than its header" in p.stderr, f"closed reader: {p.returncode} {p.stderr!r}")

    # Stopped while its reader has stopped reading: out promptly, with whole
    # blocks for the reader.
    for reads in (True, False):
        cli = subprocess.Popen([CLI, "--seconds", "60", "--out", fifo], stderr=subprocess.PIPE, text=True)
        fd = os.open(fifo, os.O_RDONLY)
        data = os.read(fd, 140 + 10 * 4096)
        start = time.time()
        cli.send_signal(signal.SIGTERM)
        while reads:
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                break
            data += chunk
        err = cli.communicate(timeout=10)[1]
        took = time.time() - start
        os.close(fd)
        check(cli.returncode == 130 and took < 1 and "shorter than its header" in err,
              f"stopped stream (reading {reads}): exit {cli.returncode} after {took:.2f} s {err!r}")
        check((len(data) - 140) % 4096 == 0, f"stopped stream: whole blocks ({len(data)} bytes)")


def group_signals(tmp):
    """SIGHUP is a stop; a stop in planning ends at once; a killed job's file
    opens; a closed standard output does not cost the job; an early signal
    finds its handler."""
    path = os.path.join(tmp, "hup.wav")
    p, release = held_job(tmp, ["--seconds", "60", "--out", path], 140 + 100 * 4096)
    p.send_signal(signal.SIGHUP)
    release()
    p.communicate(timeout=60)
    check(p.returncode == 130 and check_finished(path, 32, 384000, None, "SIGHUP") >= 100, f"SIGHUP: {p.returncode}")

    # 10 s at 53 MHz: seconds of dry run.
    path = os.path.join(tmp, "plan.wav")
    p = subprocess.Popen([CLI, "--bits", "16", "--seconds", "10", "--rate", "53000000", "--out", path],
                         stderr=subprocess.PIPE, text=True)
    time.sleep(0.2)
    start = time.time()
    p.send_signal(signal.SIGTERM)
    err = p.communicate(timeout=30)[1]
    took = time.time() - start
    print(f"stop during planning: exit {p.returncode} after {took * 1000:.0f} ms")
    check(p.returncode == 130 and took < 0.5 and not os.path.exists(path), f"stop in planning: {err!r}")

    # SIGKILL part-way: the header counts whole blocks of what is on disk
    # (its last 4 MB batch).
    path = os.path.join(tmp, "killed.wav")
    p, release = held_job(tmp, ["--seconds", "60", "--out", path], 140 + 3000 * 4096)
    p.kill()
    p.communicate(timeout=60)
    h, length = header(path), os.path.getsize(path)
    data = struct.unpack_from("<I", h, 136)[0]
    check(data % 4096 == 0 and data >= 4096 and 140 + data <= length
          and struct.unpack_from("<I", h, 4)[0] == data + 132, f"SIGKILL: data {data} of {length}")
    with wave.open(path, "rb") as w:
        check(w.getnframes() == data // 8, "SIGKILL: Python wave reads it")

    # A closed standard output: the file is made, exit 0.
    path = os.path.join(tmp, "closed.wav")
    p = subprocess.run(f"'{CLI}' --seconds 1 --out '{path}' | (exec 0<&-; true); exit ${{PIPESTATUS[0]}}",
                       shell=True, executable="/bin/bash", capture_output=True, text=True, timeout=60)
    check(p.returncode == 0 and check_finished(path, 32, 384000, 750, "closed stdout") == 750,
          f"closed stdout: {p.returncode} {p.stderr!r}")

    # Stops from the first moment on: once the handlers are in place (seen in
    # /proc), a stop is never the default action; they are in place before
    # main runs, within a few milliseconds of the start.
    path = os.path.join(tmp, "early.wav")
    waits = []
    for i in range(30):
        p = subprocess.Popen([CLI, "--quiet", "--seconds", "2", "--out", path], stderr=subprocess.DEVNULL)
        start = time.time()
        caught = False
        while not caught and p.poll() is None:
            try:
                with open(f"/proc/{p.pid}/status") as f:
                    caught = any(l.startswith("SigCgt:") and int(l.split()[1], 16) >> (signal.SIGTERM - 1) & 1
                                 for l in f)
            except OSError:
                break
        waits.append(time.time() - start)
        time.sleep(0.0005 * i)
        p.send_signal(signal.SIGTERM)
        p.wait(timeout=30)
        check(not caught or p.returncode in (0, 130), f"early SIGTERM after {0.5 * i} ms: {p.returncode}")
    print(f"handlers in place {1000 * min(waits):.1f} to {1000 * max(waits):.1f} ms after the start")


def group_replace(tmp):
    """A replaced file keeps its owner, group, mode and extended attributes."""
    if os.geteuid() != 0:
        print("replace: not root, owners cannot be tested")
        return
    path = os.path.join(tmp, "owned.wav")
    with open(path, "wb") as f:
        f.write(b"old" * 100000)
    os.chown(path, 65534, 65534)
    os.chmod(path, 0o640)
    try:
        os.setxattr(path, "user.calyx", b"kept")
        xattr = True
    except OSError:
        xattr = False  # a file system without user attributes
    before = os.stat(path)
    r = run(["--seconds", "1", "--rate", "8000", "--out", path])
    after = os.stat(path)
    print(f"replace: before uid {before.st_uid} gid {before.st_gid} mode {oct(before.st_mode)} ino {before.st_ino};"
          f" after uid {after.st_uid} gid {after.st_gid} mode {oct(after.st_mode)} ino {after.st_ino}")
    check(r.returncode == 0 and check_finished(path, 32, 8000, 16, "replace") == 16, "replace: the new file")
    check((after.st_uid, after.st_gid, after.st_mode) == (before.st_uid, before.st_gid, before.st_mode),
          "replace: owner, group and mode kept")
    if xattr:
        check(os.getxattr(path, "user.calyx") == b"kept", "replace: extended attribute kept")


def group_sets(tmp):
    """A set is every combination, each file the single request's bytes; it is
    checked whole before anything is written; a stop or a failure finishes
    what is in progress and starts nothing more."""
    sets = os.path.join(tmp, "set")
    r = run(["--rate", "8000,11025", "--freq", "440, 1000.5", "--seconds", "1", "--bits", "16,24,32",
             "--out-dir", sets, "--jobs", "2"])
    names = sorted(os.listdir(sets))
    check(r.returncode == 0 and len(names) == 12 and "12 of 12 files made" in r.stdout,
          f"set: {r.returncode} {names} {r.stdout[-200:]!r}")
    single = os.path.join(tmp, "single.wav")
    for rate in ("8000", "11025"):
        for freq in ("440", "1000.5"):
            for bits in ("16", "24", "32"):
                run(["--quiet", "--rate", rate, "--freq", freq, "--seconds", "1", "--bits", bits, "--out", single])
                name = f"tone-{rate}sps-{freq}Hz-{bits}bit.wav"
                check(os.path.exists(os.path.join(sets, name)) and
                      read_whole(single) == read_whole(os.path.join(sets, name)), f"set: {name} equals its single request")

    # Checked first: one refused member, or repeated names, and nothing is made.
    for args, words in ((["--atten", "0,91", "--bits", "16", "--out-dir", os.path.join(tmp, "none")],
                         ["--atten 91", "maximum attenuation is 90 dB"]),
                        (["--freq", "1000,2000", "--out", os.path.join(tmp, "same.wav")], ["would repeat"]),
                        (["--freq", "thirds", "--rate", "8000", "--out-dir", os.path.join(tmp, "none")], ["Nyquist"])):
        r = run(["--seconds", "1"] + args)
        check(r.returncode == 2 and all(w in r.stderr for w in words) and r.stdout == "",
              f"refused set {args}: {r.returncode} {r.stderr!r}")
    check(not os.path.exists(os.path.join(tmp, "none")) and not os.path.exists(os.path.join(tmp, "same.wav")),
          "refused sets leave nothing")

    # A stop: files made stay, the one in progress is finished, none is started after.
    stopped = os.path.join(tmp, "stopped")
    p, release = held_job(tmp, ["--freq", "100,200,300,400", "--seconds", "60", "--jobs", "1", "--out-dir", stopped],
                          2 * (140 + 22500 * 2 * 4096) + 140 + 200 * 4096)
    p.send_signal(signal.SIGINT)
    release()
    out, err = p.communicate(timeout=60)
    made = sorted(os.listdir(stopped))
    check(p.returncode == 130 and made == ["tone-100Hz.wav", "tone-200Hz.wav", "tone-300Hz.wav"],
          f"stopped set: {p.returncode} {made}")
    for name, blocks in zip(made, (45000, 45000, None)):
        n = check_finished(os.path.join(stopped, name), 32, 384000, blocks, f"stopped set {name}")
    check(n < 45000 and "stopped, " in out and "3 of 4 files made (1 not finished)" in out, f"stopped set: {out!r}")

    # A write failure on one file halts the rest: exit 1.
    failing = os.path.join(tmp, "failing")

    def limit_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (140 + 100 * 4096, resource.RLIM_INFINITY))
    r = run(["--freq", "100,200,300", "--seconds", "2", "--jobs", "1", "--out-dir", failing], preexec=limit_size)
    check(r.returncode == 1 and WRITE_FAILED in r.stderr and sorted(os.listdir(failing)) == ["tone-100Hz.wav"],
          f"failing set: {r.returncode} {os.listdir(failing)} {r.stderr!r}")
    r = run(["--help"])
    check(r.stdout.count("calyx-cli --") >= 2 and "thirds" in r.stdout and "--out-dir" in r.stdout, "help: set examples")


GROUPS = {
    "default": group_default, "files": group_files, "refusals": group_refusals,
    "faults": group_faults, "stop": group_stop, "write_failure": group_write_failure,
    "terminal": group_terminal, "streams": group_streams, "signals": group_signals,
    "replace": group_replace, "sets": group_sets,
}

if __name__ == "__main__":
    tmp = tempfile.mkdtemp(prefix=f"calyx-cli-{GROUP}-")
    try:
        GROUPS[GROUP](tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        sys.exit(1)
    print(f"{GROUP}: all checks passed")
