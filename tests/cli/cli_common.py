#!/usr/bin/env python3
"""What the end-to-end tests of calyx-cli share: the request's texts, running
it, reading the files it makes, holding a job at a known point.

Every test file is run as: X_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
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
RUN_BYTES = 128 * 4096  # a run of blocks of 32-bit frames (BlockRuns::RUN_BLOCKS)
SIZES_BATCH = 4 << 20  # the header's sizes are never further behind (WAVE_SIZES_BATCH)

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


def read_whole(path):
    with open(path, "rb") as f:
        return f.read()


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


def on_terminal(args, stop_at=None):
    """What calyx-cli shows on a terminal's standard error, and its status;
    with stop_at, it gets a SIGTERM once that text has been shown."""
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
        if stop_at is not None and stop_at in seen:
            os.kill(pid, signal.SIGTERM)
            stop_at = None
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), seen


def main(groups):
    """Runs the group named on the command line in a folder of its own."""
    tmp = tempfile.mkdtemp(prefix=f"calyx-cli-{GROUP}-")
    try:
        groups[GROUP](tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        sys.exit(1)
    print(f"{GROUP}: all checks passed")
