#!/usr/bin/env python3
"""End-to-end tests of calyx-cli. Stops and faults while a job runs: signals, a killed job, a failed write.

Usage: stop_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
from cli_common import *  # noqa: F401,F403 (the shared helpers and texts)


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

    # A stop in planning: 10 s at 53 MHz take seconds of dry run, which
    # follows the progress bar's first drawing (0 %); the stop comes then.
    path = os.path.join(tmp, "plan.wav")
    status, seen = on_terminal(["--bits", "16", "--seconds", "10", "--rate", "53000000", "--out", path],
                               stop_at=b"  0%")
    check(status == 130 and b"Stopped before" in seen and not os.path.exists(path),
          f"stop in planning: {status} {seen[-200:]!r}")

    # SIGKILL: the header counts whole blocks of what is on disk, from the
    # first run of blocks on, and never a batch of sizes (4 MB) fewer.
    # Held in the second run's write, right after the first run's sizes (the
    # first run's write ends on a page of the file, short of its last 140
    # bytes, so its last block is not yet whole); and 12 MB on.
    for hold, first in ((140 + (RUN_BYTES - 140) + 140, True), (140 + 3000 * 4096, False)):
        path = os.path.join(tmp, "killed.wav")
        p, release = held_job(tmp, ["--seconds", "60", "--out", path], hold)
        p.kill()
        p.communicate(timeout=60)
        h, length = header(path), os.path.getsize(path)
        data = struct.unpack_from("<I", h, 136)[0]
        check(data % 4096 == 0 and data >= 4096 and 140 + data <= length and length - 140 - data < SIZES_BATCH
              and struct.unpack_from("<I", h, 4)[0] == data + 132, f"SIGKILL: data {data} of {length}")
        if first:
            check(data == RUN_BYTES - 4096 and length == RUN_BYTES, f"SIGKILL after the first run: data {data} of {length}")
        if data:
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


def group_write_failure(tmp):
    """A file-size limit part-way: the message, exit 1, a finished file."""
    for extra in (0, 1000):
        limit = 140 + 10 * 4096 + extra
        path = os.path.join(tmp, f"limit{extra}.wav")

        def limit_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        r = run(["--rate", "44100", "--seconds", "1", "--out", path], preexec=limit_size)
        check(r.returncode == 1, f"limit +{extra}: exit {r.returncode}")
        check(r.stderr == f"{CREATE} {WRITE_FAILED}\nThe system says: File too large.\n", f"limit +{extra}: {r.stderr!r}")
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


if __name__ == "__main__":
    main({"stop": group_stop, "signals": group_signals, "write_failure": group_write_failure})
