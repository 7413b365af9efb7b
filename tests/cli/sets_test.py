#!/usr/bin/env python3
"""End-to-end tests of calyx-cli. Sets of files: every combination, checked first, stopped or failing part-way.

Usage: sets_test.py CLI ENGINE_DUMP NO_THREADS_LIB HOLD_WRITE_LIB GROUP
"""
from cli_common import *  # noqa: F401,F403 (the shared helpers and texts)


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
    # One file under two names, or options that leave a folder or a set no
    # place: refused before anything is made.
    clash = os.path.join(tmp, "clash")
    for d in ("16", "24", "32"):
        os.makedirs(os.path.join(clash, d))
    os.symlink("tone-24bit.wav", os.path.join(clash, "tone-16bit.wav"))
    with open(os.path.join(clash, "16.wav"), "wb"):
        pass
    os.link(os.path.join(clash, "16.wav"), os.path.join(clash, "24.wav"))
    absolute = os.path.join(tmp, "absolute.wav")
    for args, words in ((["--bits", "16,24,32", "--out", "{bits}/../same.wav"], ["would repeat", "same file"]),
                        (["--bits", "16,24"], ["would repeat", "same file"]),
                        (["--bits", "16,24", "--out", "{bits}.wav"], ["would repeat", "same file"]),
                        (["--bits", "16,24", "--out", "-"], ["cannot go to standard output"]),
                        (["--out", absolute, "--out-dir", "folder"], ["--out-dir", "one or the other"])):
        before = sorted(os.listdir(clash))
        r = run(["--seconds", "1", "--rate", "8000"] + args, cwd=clash)
        check(r.returncode == 2 and all(w in r.stderr for w in words) and sorted(os.listdir(clash)) == before
              and not os.path.exists(absolute), f"clashing set {args}: {r.returncode} {r.stderr!r}")

    r = run(["--help"])
    check(r.stdout.count("calyx-cli --") >= 2 and "thirds" in r.stdout and "--out-dir" in r.stdout, "help: set examples")


if __name__ == "__main__":
    main({"sets": group_sets})
