#!/usr/bin/env python3
"""End-to-end tests of calyx-cli. Pipes, FIFOs, devices and a terminal.

Usage: streams_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
from cli_common import *  # noqa: F401,F403 (the shared helpers and texts)


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
        cli.send_signal(signal.SIGTERM)
        while reads:
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                break
            data += chunk
        err = cli.communicate(timeout=60)[1]
        os.close(fd)
        check(cli.returncode == 130 and "shorter than its header" in err,
              f"stopped stream (reading {reads}): exit {cli.returncode} {err!r}")
        check((len(data) - 140) % 4096 == 0, f"stopped stream: whole blocks ({len(data)} bytes)")


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


if __name__ == "__main__":
    main({"streams": group_streams, "terminal": group_terminal})
