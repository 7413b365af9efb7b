#!/usr/bin/env python3
"""calyx-cli analyze against what a hostile folder or script does to it: a
file swapped while it is read, floods of chunks, signals, output that cannot
be written. Run as: hostile_test.py CLI HOLD_READ_LIB GROUP"""
import os
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavegen as g  # noqa: E402

CLI, HOLD, GROUP = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
BOUND = 60  # seconds: a run that takes longer has hung
# The fixed memory the README promises; AddressSanitizer's shadow and
# quarantine double it.
PEAK_LIMIT_KB = (64 if os.environ.get("CALYX_SANITIZED") else 32) * 1024
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def tone_file(path, channels, seconds, rate=48000):
    frames = rate * seconds
    x = g.tone(frames, rate, 997.0, 0.5, noise=1e-4)
    return g.write(path, g.wave_bytes([x] * channels, rate, 16))


def flood(path, chunk_id, count):
    """A 1-channel file whose fmt and data chunks have `count` empty chunks between them."""
    fmt = g.fmt_chunk(1, 48000, 16, g.PCM)
    body = b"WAVE" + fmt + (chunk_id + bytes(4)) * count + g.chunk(b"data", bytes(9600))
    return g.write(path, b"RIFF" + struct.pack("<I", len(body)) + body)


def measured(args):
    """Runs calyx-cli under time(1), whose own small process is what the
    child's peak starts from (not this one's); its exit status, CPU seconds
    and peak resident kB."""
    r = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", CLI, "analyze", *args], stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True, timeout=BOUND)
    user, system, peak = r.stderr.split()[-3:]
    return r.returncode, float(user) + float(system), int(peak)


# --- groups -----------------------------------------------------------------

def group_swap(tmp):
    """An 8-channel file renamed over by a 1-channel one, and back, while it
    is analysed: every run ends with a report of one file or the other, never
    a crash. The swaps race the runs; the runs are bounded."""
    wide = tone_file(os.path.join(tmp, "wide.wav"), 8, 2)
    narrow = tone_file(os.path.join(tmp, "narrow.wav"), 1, 2)
    path, spare = os.path.join(tmp, "swapped.wav"), os.path.join(tmp, "spare.wav")
    os.link(wide, path)
    done = threading.Event()

    def swap():
        while not done.is_set():
            for source in (narrow, wide):
                os.link(source, spare)
                os.replace(spare, path)

    swapper = threading.Thread(target=swap)
    swapper.start()
    crashes, other = 0, []
    try:
        for _ in range(40):
            r = subprocess.run([CLI, "analyze", "--json", path], capture_output=True, timeout=BOUND)
            crashes += r.returncode < 0
            if r.returncode not in (0, 3) and r.returncode >= 0:
                other.append(r.returncode)
    finally:
        done.set()
        swapper.join()
    check(crashes == 0 and not other, f"swapped under analysis: {crashes} crashes of 40, other exits {other}")

    # Cut short while it is read: held after its first read, emptied, released.
    cut = tone_file(os.path.join(tmp, "cut.wav"), 2, 4)
    r = held(tmp, ["analyze", cut], lambda p: os.truncate(cut, 1000), reads=2)
    check(r.returncode == 0 and "cut short while it was read" in r.stdout,
          f"a file emptied under analysis: exit {r.returncode}\n{r.stdout}{r.stderr}")


def group_flood(tmp):
    """Floods of empty chunks: time in proportion to the bytes, fixed memory,
    a few lines and a count."""
    count = 1600000
    unknown = flood(os.path.join(tmp, "unknown.wav"), b"zork", count)
    # The same number of bytes as samples of a tone: what reading them costs anyway.
    cycle = g.pack([g.tone(48, 48000, 1000.0, 0.5)], 16, g.PCM)
    samples = cycle * ((os.path.getsize(unknown) - 44) // len(cycle))
    body = b"WAVE" + g.fmt_chunk(1, 48000, 16, g.PCM) + g.chunk(b"data", samples)
    plain = g.write(os.path.join(tmp, "plain.wav"), b"RIFF" + struct.pack("<I", len(body)) + body)
    status, flood_cpu, flood_peak = measured([unknown])
    _, plain_cpu, _ = measured([plain])
    check(status == 0, f"flood: exit {status}")
    # Walked through a buffer, the chunks cost about what the samples do; one
    # read per chunk header costs a hundred times more.
    check(flood_cpu <= 3 * plain_cpu + 0.02, f"flood of {count} chunks: {flood_cpu:.2f} s CPU against "
          f"{plain_cpu:.2f} s for as many bytes of samples")
    check(flood_peak < PEAK_LIMIT_KB, f"flood: peak resident size {flood_peak} kB")
    r = subprocess.run([CLI, "analyze", unknown], capture_output=True, text=True, timeout=BOUND)
    lines = [line for line in r.stdout.splitlines() if "problem" in line]
    check(len(lines) == 11 and lines[-1].endswith("and 1,599,990 more unknown chunks"),
          f"flood: {len(lines)} problem lines, the last {lines[-1:]}")
    # An odd chunk without its pad byte: the chunk after it is read where it starts.
    fmt = g.fmt_chunk(1, 48000, 16, g.PCM)
    data = g.chunk(b"data", g.pack([g.tone(4800, 48000, 1000.0, 0.5)], 16, g.PCM))
    for odd in (b"abc", b"abcde"):  # the unpadded place is a chunk either way
        body = b"WAVE" + fmt + g.chunk(b"LIST", odd, pad=False) + data
        path = g.write(os.path.join(tmp, "nopad.wav"), b"RIFF" + struct.pack("<I", len(body)) + body)
        r = subprocess.run([CLI, "analyze", path], capture_output=True, text=True, timeout=BOUND)
        check("has no pad byte" in r.stdout and "4800 frames" in r.stdout and "100.00 +-" in r.stdout,
              f"odd chunk of {len(odd)} bytes without its pad byte:\n{r.stdout}")


def held(tmp, args, action, reads=3):
    """Runs calyx-cli held at its reads-th large read, does action(process)
    there, then releases it."""
    signal_file, release = os.path.join(tmp, "held"), os.path.join(tmp, "release")
    for f in (signal_file, release):
        if os.path.exists(f):
            os.remove(f)
    env = dict(os.environ, LD_PRELOAD=HOLD, CALYX_HOLD_READS=str(reads), CALYX_HOLD_SIGNAL=signal_file,
               CALYX_HOLD_RELEASE=release, ASAN_OPTIONS="verify_asan_link_order=0")
    p = subprocess.Popen([CLI, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.time() + BOUND
        while not os.path.exists(signal_file) and p.poll() is None and time.time() < deadline:
            time.sleep(0.001)
        check(os.path.exists(signal_file), f"held: {args} reached the hold ({p.poll()})")
        action(p)
        open(release, "w").close()
        out, err = p.communicate(timeout=BOUND)
    except subprocess.TimeoutExpired:
        p.kill()
        out, err = p.communicate()
        err += "\n(hung: killed)"
    return subprocess.CompletedProcess(p.args, p.returncode, out, err)


def group_signals(tmp):
    """SIGINT, SIGTERM and SIGHUP during a long analysis stop it: exit 130
    and a line saying so, no report. A picture to a FIFO with no reader is
    refused at once instead of waiting for ever."""
    long = tone_file(os.path.join(tmp, "long.wav"), 8, 20)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        r = held(tmp, ["analyze", "--json", long], lambda p: p.send_signal(sig))
        check(r.returncode == 130 and "Stopped" in r.stderr and r.stdout == "",
              f"{sig.name} during analysis: exit {r.returncode}, {r.stderr!r}")
    short = tone_file(os.path.join(tmp, "short.wav"), 2, 1)
    fifo = os.path.join(tmp, "picture.svg")
    os.mkfifo(fifo)
    try:
        r = subprocess.run([CLI, "analyze", short, "--plot", fifo], capture_output=True, text=True, timeout=BOUND)
        check(r.returncode == 1 and "not a regular file" in r.stderr,
              f"picture to a FIFO: exit {r.returncode}, {r.stderr!r}")
    except subprocess.TimeoutExpired:
        check(False, "picture to a FIFO with no reader: hung")
    r = held(tmp, ["analyze", long, "--plot", fifo], lambda p: p.send_signal(signal.SIGTERM), reads=6)
    check(r.returncode == 130 and "Stopped" in r.stderr, f"SIGTERM with a picture to a FIFO: exit {r.returncode}")


def group_output(tmp):
    """A report that cannot be written is exit 1 with a message."""
    short = tone_file(os.path.join(tmp, "short.wav"), 2, 1)
    read_end, write_end = os.pipe()
    os.close(read_end)  # a reader gone, as after head -c 10
    ways = [("a full disk", {"stdout": open("/dev/full", "wb")}),
            ("a closed pipe", {"stdout": write_end}),
            ("closed standard output", {"stdout": subprocess.DEVNULL, "preexec_fn": lambda: os.close(1)})]
    for what, how in ways:
        for args in (["--json", short], [short]):
            r = subprocess.run([CLI, "analyze", *args], stderr=subprocess.PIPE, text=True, timeout=BOUND, **how)
            check(r.returncode == 1 and "could not be written" in r.stderr,
                  f"report to {what} ({args[0]}): exit {r.returncode}, {r.stderr!r}")
    os.close(write_end)


GROUPS = {"swap": group_swap, "flood": group_flood, "signals": group_signals, "output": group_output}

if __name__ == "__main__":
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    with tempfile.TemporaryDirectory(prefix="calyx-hostile-") as tmp:
        GROUPS[GROUP](tmp)
    print(f"{GROUP}: {len(failures)} failed" if failures else f"{GROUP}: passed")
    sys.exit(1 if failures else 0)
