#!/usr/bin/env python3
"""End-to-end tests of calyx-cli. Refused requests: every message, caption and exit status; the path test; a thread that cannot start.

Usage: refusals_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
from cli_common import *  # noqa: F401,F403 (the shared helpers and texts)


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
        (["--freq", "192000"], INVALID, NYQUIST),
        (["--freq", "192000.49"], INVALID, NYQUIST),
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
                 ["--rate", "384000", "--freq", "191999.99"], ["--freq", "1.0", "--seconds", "3"]):
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
    """The path test leaves existing files alone; threads that cannot start."""
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

    # Not even the header can be written: no file is left that no reader
    # opens, and the system's reason follows the designed message.
    def no_bytes():
        resource.setrlimit(resource.RLIMIT_FSIZE, (0, resource.RLIM_INFINITY))
    for args, made in ((["--out", os.path.join(tmp, "nothing.wav")], [os.path.join(tmp, "nothing.wav")]),
                       (["--bits", "16,24", "--jobs", "1", "--out-dir", os.path.join(tmp, "nothing")],
                        [os.path.join(tmp, "nothing", n) for n in ("tone-16bit.wav", "tone-24bit.wav")])):
        r = run(["--seconds", "1", "--rate", "8000"] + args, preexec=no_bytes)
        lines = r.stderr.splitlines()
        check(r.returncode == 1 and lines and lines[0].endswith(f"{CREATE} {THREAD_FAILED}") and
              lines[1].endswith("The system says: File too large."), f"no bytes {args}: {r.returncode} {lines}")
        check(not any(os.path.exists(p) for p in made), f"no bytes {args}: no file left")

    env = dict(os.environ, LD_PRELOAD=NO_THREADS, ASAN_OPTIONS="verify_asan_link_order=0")
    path = os.path.join(tmp, "nothread.wav")
    r = run(["--seconds", "1", "--out", path], env=env)
    check(r.returncode == 1, f"no thread: exit {r.returncode}")
    check(r.stderr == f"{CREATE} {THREAD_FAILED}\n", f"no thread: {r.stderr!r}")
    check(not os.path.exists(path), "no thread: no file")
    # A set starts no thread it cannot do without: its members are made one
    # after another on the calling thread.
    sets = os.path.join(tmp, "nothread")
    r = run(["--seconds", "1", "--rate", "8000", "--bits", "16,24", "--out-dir", sets, "--jobs", "2"], env=env)
    check(r.returncode == 0 and sorted(os.listdir(sets)) == ["tone-16bit.wav", "tone-24bit.wav"],
          f"no thread, a set: exit {r.returncode} {r.stderr!r}")


if __name__ == "__main__":
    main({"refusals": group_refusals, "faults": group_faults})
