#!/usr/bin/env python3
"""Time from launch to the first D-Bus answer after Kelso was killed in a big home.

A fresh home gets FILES new files in ~/Documents/storm (spread over FOLDERS folders) while Kelso
runs; Kelso is then killed with SIGKILL and started again, ROUNDS times per case, and each
restart is timed from the spawn to the first answer of the RecentItems call (a method answered
on Kelso's main thread); then the slowest answer over the next WATCH seconds is noted. Cases:

  kill           plain SIGKILL, nothing else left behind
  kill-in-write  SIGKILL as it happens between the creation of the settings lock file and its
                 content: an empty com.tallow.kelso.plist.lock stays behind

    restart_bench.py --kelso build/recent/bin/kelso [--baseline OTHER/kelso] [--files 50000]
                     [--folders 1] [--rounds 3] [--watch 20] [--consent-box]

With --baseline both binaries run the same restarts, one after the other, and the ratios are
printed. A call left without an answer for STACKS_AFTER seconds prints the stacks of Kelso's
threads (gdb). Prints one line per restart and the median per case. Runs under its own dbus-run-session and
Xvfb (the end-to-end session of tests/e2e).
"""
import argparse
import os
import plistlib
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from kelso_e2e import Session, wait_for  # noqa: E402


STACKS_AFTER = 5  # seconds without an answer before the threads are shown


def answered_after(s, proc, started, limit=120):
    """Seconds from `started` until RecentItems answers (each call may wait up to `limit` s)."""
    def owned():
        r = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:com.tallow.kelso"],
                           capture_output=True, text=True, env=s.env, timeout=30)
        return proc.poll() is not None or "true" in r.stdout
    if not wait_for(owned, limit, 0.02) or proc.poll() is not None:
        raise RuntimeError("kelso did not take its bus name; log:\n" + s.read_log()[-3000:])
    call = subprocess.Popen(["dbus-send", "--session", "--print-reply=literal", "--reply-timeout=%d" % (limit * 1000),
                             "--dest=com.tallow.kelso", "/com/tallow/kelso", "com.tallow.kelso.App.RecentItems",
                             "string:"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=s.env)
    try:
        out, err = call.communicate(timeout=STACKS_AFTER)
    except subprocess.TimeoutExpired:
        # No answer for a while: show where Kelso's threads are (gdb, when installed).
        print("no answer after %d s; threads of kelso:" % STACKS_AFTER)
        g = subprocess.run(["gdb", "-p", str(proc.pid), "-batch", "-ex", "thread apply all bt 25"],
                           capture_output=True, text=True)
        print("\n".join(l[:220] for l in g.stdout.splitlines() if l.startswith(("#", "Thread"))))
        out, err = call.communicate(timeout=limit + 10)
    r = subprocess.CompletedProcess(call.args, call.returncode, out, err)
    took = time.monotonic() - started
    if r.returncode != 0:
        raise RuntimeError("RecentItems failed after %.1f s (kelso %s): %s" %
                           (took, "running" if proc.poll() is None else "ended with %s" % proc.returncode,
                            r.stderr.strip()[:200]))
    return took


def make_home(s, files, folders):
    """FILES new files in ~/Documents/storm, spread over FOLDERS folders."""
    storm = os.path.join(s.home, "Documents", "storm")
    per = max(1, files // max(1, folders))
    for i in range(files):
        folder = storm if folders <= 1 else os.path.join(storm, "d%05d" % (i // per))
        if i % per == 0 or folders <= 1:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "file%05d.txt" % i), "w") as f:
            f.write("x")


def run(kelso, args, label):
    """The restarts for one binary in a fresh home; answers {case: [(first, slowest)]}."""
    s = Session(kelso, args.out, "restart_bench_" + label)
    s.env["KELSO_TRACE_LIFECYCLE"] = "1"
    results = {}
    try:
        if not args.consent_box:
            # The crash-report question comes at the third launch and activates Kelso, whose
            # window then paints thumbnails; keep these runs about start-up alone.
            path = os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                plistlib.dump({"bugsnagHaveAsked": True, "bugsnagCanSendReports": False}, f, fmt=plistlib.FMT_BINARY)
        s.start_display()
        proc = s.start_kelso()
        first = answered_after(s, proc, time.monotonic())
        print("[%s] first start (empty home): %.3f s" % (label, first))
        make_home(s, args.files, args.folders)
        time.sleep(5)  # let the records of the new files be handled and journaled
        lock = os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist.lock")
        for case in ("kill", "kill-in-write"):
            results[case] = []
            for n in range(args.rounds):
                proc.send_signal(signal.SIGKILL)
                proc.wait(10)
                # Something changed while Kelso was not running, as after a real crash.
                with open(os.path.join(s.home, "Documents", "offline-%s-%d.txt" % (case, n)), "w") as f:
                    f.write("offline\n")
                if case == "kill-in-write":
                    os.makedirs(os.path.dirname(lock), exist_ok=True)
                    open(lock, "w").close()
                started = time.monotonic()
                proc = s.start_kelso()
                took = answered_after(s, proc, started)
                # Then the longest wait for an answer over the next seconds (catch-up, replay,
                # the first settings write all run in this time).
                slowest = 0.0
                end = time.monotonic() + args.watch
                while time.monotonic() < end:
                    t0 = time.monotonic()
                    answered_after(s, proc, t0)
                    slowest = max(slowest, time.monotonic() - t0)
                    time.sleep(0.1)
                results[case].append((took, slowest))
                print("[%s] %-14s round %d: first D-Bus answer after %.3f s; slowest answer in the next %d s: %.3f s"
                      % (label, case, n + 1, took, args.watch, slowest))
        steps = [l for l in s.read_log()[s.log_mark:].splitlines() if "step" in l]
        if steps:
            print("[%s] last run: %s" % (label, steps[-1]))
        proc.send_signal(signal.SIGKILL)
        proc.wait(10)
    finally:
        s.close(keep_home=False)
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelso", required=True)
    parser.add_argument("--baseline", help="another kelso binary, run the same way first, for the ratios")
    parser.add_argument("--out", default="/tmp/kelso-restart-bench")
    parser.add_argument("--files", type=int, default=50000)
    parser.add_argument("--folders", type=int, default=1, help="folders the files are spread over")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--watch", type=int, default=20, help="seconds of calls after each restart")
    parser.add_argument("--consent-box", action="store_true", help="let Kelso ask for crash reports at launch 3")
    args = parser.parse_args()
    if os.environ.get("KELSO_BENCH_INNER") != "1":
        env = dict(os.environ, KELSO_BENCH_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)

    print("home: %d files in %d folder(s); %d restarts per case" % (args.files, args.folders, args.rounds))
    runs = []
    if args.baseline:
        runs.append(("baseline", run(args.baseline, args, "baseline")))
    runs.append(("kelso", run(args.kelso, args, "kelso")))
    summary = {}
    for label, results in runs:
        for case, times in results.items():
            first = statistics.median(t[0] for t in times)
            slowest = max(t[1] for t in times)
            summary[(label, case)] = (first, slowest)
            print("%-8s %-14s first answer: median %.3f s; slowest answer afterwards: max %.3f s" %
                  (label, case, first, slowest))
    if args.baseline:
        for case in ("kill", "kill-in-write"):
            b, k = summary[("baseline", case)], summary[("kelso", case)]
            print("ratio baseline/kelso %-14s first answer %.2fx, slowest answer %.2fx" %
                  (case, b[0] / k[0], b[1] / k[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
