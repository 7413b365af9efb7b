"""What the end-to-end tests of `calyx-cli analyze` share: the command's
path and group from the command line, running it, checks, and running one
group in a folder of its own."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

CLI, GROUP = os.path.abspath(sys.argv[1]), sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def analyze(*args):
    r = subprocess.run([CLI, "analyze", *args], capture_output=True, text=True, timeout=600)
    doc = json.loads(r.stdout) if "--json" in args and r.stdout.strip() else None
    if "--json" in args and doc is None:
        print(f"no JSON from {args}: exit {r.returncode}\n{r.stderr}", flush=True)
    return r, doc


def run_group(groups):
    """Runs the group named on the command line in a fresh folder; exits."""
    tmp = tempfile.mkdtemp(prefix="calyx-analyze-")
    try:
        groups[GROUP](tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"{GROUP}: {len(failures)} failed")
    sys.exit(1 if failures else 0)
