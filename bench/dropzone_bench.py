#!/usr/bin/env python3
"""CPU use of Kelso's drop zone while the pointer moves, measured on a real X display.

Runs the real `kelso` the way the end-to-end tests do (Xvfb, openbox, xcompmgr and trayer in
its own dbus-run-session, a fresh home; the Session class of tests/e2e/kelso_e2e.py), waits
until start-up work is over, and then measures Kelso's CPU time (utime + stime of the process,
all threads) over three windows of the same length, side by side in one run:

  idle     no input at all (the reference; measured again after the motion, for the noise);
  motion   synthetic pointer motion with no button held and no drag (xdotool, about 100
           moves a second, back and forth across the screen);
  drag     the same motion during a real XDND drag of two files (kelso_drag_source holds the
           drag), crossing the zone's active area so it slides in and out.

Prints each as a percentage of one core and as a ratio to idle. Target: motion without a drag
under 1 % of a core.

    bench/dropzone_bench.py --kelso build/default/bin/kelso \
        --drag-source build/default/tests/e2e/kelso_drag_source [--seconds 10]
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from kelso_e2e import Session, wait_for  # noqa: E402


def cpu_seconds(pid, thread=None):
    """CPU seconds of the process, or of one of its threads."""
    path = "/proc/%d/stat" % pid if thread is None else "/proc/%d/task/%d/stat" % (pid, thread)
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 (1-based), i.e. 11 and 12 after the ")".
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def motion_script(seconds, rate=100, y=450):
    """One xdotool command line that moves the pointer back and forth for `seconds`."""
    # Relative moves go through the XTEST device and make raw motion events, as a mouse does;
    # an absolute `mousemove` warps the pointer and would make none (and cost Kelso nothing).
    args = []
    steps = int(seconds * rate)
    step = 1080 // 100  # 100 moves one way, 100 back: 2 s per round trip at 100 a second
    for i in range(steps):
        dx = step if (i // 100) % 2 == 0 else -step
        dy = 1 if i % 2 == 0 else -1
        args += ["mousemove_relative", "--", str(dx), str(dy), "sleep", "%.3f" % (1.0 / rate)]
    return args


def measure(s, pid, seconds, motion):
    """(percent of a core for the whole process, for its main thread, wall seconds). The drop
    zone's monitor runs on the main thread; the index crawler and the thumbnail and item
    workers, which may wake at any time, run on others."""
    before = cpu_seconds(pid)
    before_main = cpu_seconds(pid, pid)
    started = time.monotonic()
    if motion:
        s.xdotool("mousemove", "--sync", "250", str(450))
        subprocess.run(["xdotool", *motion_script(seconds)], env=s.env, capture_output=True, timeout=seconds * 4)
    else:
        time.sleep(seconds)
    wall = time.monotonic() - started
    return (100.0 * (cpu_seconds(pid) - before) / wall, 100.0 * (cpu_seconds(pid, pid) - before_main) / wall, wall)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelso", required=True)
    parser.add_argument("--drag-source", required=True)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--settle", type=float, default=15, help="seconds to wait after start-up")
    parser.add_argument("--out", default="/tmp/kelso-dropzone-bench")
    args = parser.parse_args()
    if os.environ.get("KELSO_BENCH_INNER") != "1":
        env = dict(os.environ, KELSO_BENCH_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)

    s = Session(args.kelso, args.out, "dropzone-bench")
    try:
        s.start_display()
        s.log_area("dropzone", "info")
        proc = s.start_kelso()
        s.wait_started(proc)
        wait_for(lambda: s.visible_windows("^Kelso Drop Zone$"), 10)
        time.sleep(args.settle)  # start-up work (the first scans, the index crawl) settles
        results = {}
        results["idle"] = measure(s, proc.pid, args.seconds, motion=False)
        results["motion"] = measure(s, proc.pid, args.seconds, motion=True)
        # Idle again: how much of the difference is the machine's noise.
        results["idle 2"] = measure(s, proc.pid, args.seconds, motion=False)

        paths = []
        for i in range(2):
            p = os.path.join(s.home, "Documents", "bench %d.txt" % i)
            with open(p, "w") as f:
                f.write("x\n")
            paths.append(p)
        source = subprocess.Popen([args.drag_source, "--files", *paths], env=s.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT)
        s.helpers.append(source)
        wait_for(lambda: s.visible_windows("^Drag Source$"), 10)
        time.sleep(0.5)
        s.xdotool("mousemove", "--sync", "200", "150")
        s.xdotool("mousedown", "1")
        time.sleep(0.5)
        results["drag"] = measure(s, proc.pid, args.seconds, motion=True)
        s.xdotool("mouseup", "1")
        slid = s.read_log().count("slides in")

        print("Kelso CPU over %.0f s windows, percent of one core (whole process | main thread):" % args.seconds)
        for name in ("idle", "motion", "idle 2", "drag"):
            whole, main_thread, wall = results[name]
            print("  %-7s %6.2f %% | %6.2f %%   (%.1f s)" % (name, whole, main_thread, wall))
        print("  zone slid in %d times during the drag" % slid)
        idle_main = (results["idle"][1] + results["idle 2"][1]) / 2
        for name in ("motion", "drag"):
            # The clock ticks in 10 ms: an idle main thread often counts none at all in 10 s.
            ratio = "x%.2f" % (results[name][1] / idle_main) if idle_main > 0 else "idle below one tick"
            print("  %s / idle, main thread: %s (%+.2f %% of a core)" % (name, ratio, results[name][1] - idle_main))
        # What the motion adds to Kelso's own idle cost on the main thread is the monitor's share.
        added = results["motion"][1] - idle_main
        print("  target: motion without a drag adds under 1 %% of a core: %s (%+.2f %%)"
              % ("met" if added < 1.0 else "NOT met", added))
        s.quit_kelso(proc)
    finally:
        s.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
