#!/usr/bin/env python3
"""How long Kelso's main thread stays busy while a script hands it many files over D-Bus.

Each kelso given runs in its own dbus-run-session, Xvfb display and fresh home (the Session class
of the end-to-end tests). A thread asks the running Kelso for its Cooler (CoolerItems, answered
on the main thread) again and again with dbus-send, while `kelso cooler add` hands it N existing
files (one AddToCooler call). The longest of those answers is how long the main thread could not
answer: compared with the longest answer while Kelso is idle, and between the programs given.

    bench/cooler_dbus_bench.py --kelso build/default/bin/kelso [--kelso OTHER/bin/kelso] [--sizes 10000 100000]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from kelso_e2e import Session  # noqa: E402


def ping(s):
    started = time.monotonic()
    subprocess.run(["dbus-send", "--session", "--print-reply", "--reply-timeout=60000", "--dest=com.tallow.kelso",
                    "/com/tallow/kelso", "com.tallow.kelso.App.CoolerItems"],
                   capture_output=True, env=s.env, timeout=120)
    return time.monotonic() - started


def longest_answer_during(s, action):
    """The longest CoolerItems round trip while `action` runs, and the action's own time."""
    answers = []
    done = threading.Event()

    def pinger():
        while not done.is_set():
            answers.append(ping(s))

    t = threading.Thread(target=pinger)
    t.start()
    time.sleep(0.3)
    started = time.monotonic()
    result = action()
    took = time.monotonic() - started
    time.sleep(0.3)
    done.set()
    t.join()
    return max(answers), took, result


def measure(kelso, sizes, files, folder):
    s = Session(kelso, tempfile.mkdtemp(prefix="cooler-bench-out-"), "cooler_bench")
    out = {}
    try:
        s.start_display()
        proc = s.start_kelso()
        s.wait_started(proc)
        idle = max(ping(s) for _ in range(20))
        out["idle"] = idle
        for n in sizes:
            longest, took, r = longest_answer_during(
                s, lambda: subprocess.run([s.kelso_bin, "cooler", "add", *files[:n]], capture_output=True,
                                          text=True, env=s.env, timeout=300, cwd=folder))
            out[n] = (longest, took, r.returncode, r.stderr.strip()[:120])
            s.kelso("cooler", "remove", *[i["path"] for i in s.cooler_items()])
        s.quit_kelso(proc)
    finally:
        s.close()
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelso", action="append", required=True)
    parser.add_argument("--sizes", type=int, nargs="*", default=[10000, 100000])
    args = parser.parse_args()
    if os.environ.get("KELSO_BENCH_INNER") != "1":
        env = dict(os.environ, KELSO_BENCH_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)
    # Short names given relative to the folder, so that 100,000 of them fit on one command line.
    folder = tempfile.mkdtemp(prefix="kb", dir="/tmp")
    files = []
    for i in range(max(args.sizes)):
        name = "%x" % i
        open(os.path.join(folder, name), "w").close()
        files.append(name)
    try:
        results = [(k, measure(k, args.sizes, files, folder)) for k in args.kelso]
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("longest CoolerItems answer (s) while `kelso cooler add` hands N files over:")
    for k, r in results:
        print("  %s: idle %.3f" % (k, r["idle"]))
        for n in args.sizes:
            longest, took, status, err = r[n]
            print("    N=%6d: longest answer %.3f (%.0fx idle), add took %.2f s, exit %d %s"
                  % (n, longest, longest / r["idle"], took, status, err))
    if len(results) == 2:
        for n in args.sizes:
            a, b = results[0][1][n][0], results[1][1][n][0]
            print("  N=%d: longest answer, first / second program: %.2f" % (n, a / b))
    return 0


if __name__ == "__main__":
    sys.exit(main())
