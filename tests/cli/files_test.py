#!/usr/bin/env python3
"""End-to-end tests of calyx-cli. Whole files: sizes, headers, samples equal to the engine's, other readers, a replaced file's owner.

Usage: files_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
from cli_common import *  # noqa: F401,F403 (the shared helpers and texts)


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


if __name__ == "__main__":
    main({"default": group_default, "files": group_files, "replace": group_replace})
