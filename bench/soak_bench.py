#!/usr/bin/env python3
"""Kelso under load: a day of file activity, a storm of new files, and a home too big to watch.

Three cases, each against a real `kelso` in a fresh home, on its own Xvfb display and session bus
(as the end-to-end tests run it):

  soak     replays a day of simulated activity in ~/Documents/soak and ~/Downloads: bursts of
           creations, modifications, renames (within and across folders) and deletions, EVENTS
           file operations in all (a million by default). Then checks, against the simulated
           truth, that the recent list (`kelso recent --json`, per folder with --folder) names
           no file that is gone and holds the newest files, and that the index (`kelso search`)
           finds a sample of the live files and none of the deleted or renamed-away names.
  storm    STORM new files (200,000 by default) written as fast as Python can into 100 folders;
           how long until the last one is in the recent list and the index, and the slowest
           answer of `kelso recent` while it runs.
  folders  a home of FOLDERS folders (300,000 by default; more than fs.inotify.max_user_watches
           on most machines) made before Kelso starts: the watch limit must be logged once,
           `kelso recent --status` must say how many folders are left unwatched, and new files in
           the home and in ~/Downloads must still show.

For each: Kelso's CPU time (user + system, its decoder workers apart) and peak resident memory
(VmHWM), both from /proc, and the wall time.

    soak_bench.py --kelso build/default/bin/kelso [--case soak|storm|folders|all] [--quick]
                  [--events N] [--storm N] [--folders N] [--as-user nobody]

--quick runs a tenth of each (100,000 events, 20,000 files, 30,000 folders; the last stays below
the usual watch limit, so the limit case is only met by the full run). inotify watches are
counted per user: --as-user runs the whole benchmark as another user (root only), so that a
home of 300,000 folders does not take the watches of other programs running as you.
Exit status 0 when every check held, 1 otherwise.
"""
import argparse
import json
import os
import pwd
import random
import shutil
import subprocess
import sys
import tempfile
import time

TICKS = os.sysconf("SC_CLK_TCK")


class Kelso:
    """Xvfb and one kelso in a fresh home (the caller runs inside dbus-run-session)."""

    def __init__(self, binary, base, name):
        self.bin = os.path.abspath(binary)
        os.makedirs(base, exist_ok=True)
        self.home = tempfile.mkdtemp(prefix=name + "-", dir=base)
        self.env = dict(os.environ)
        for var in ("XDG_CONFIG_DIRS", "XDG_DATA_DIRS", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        h = self.home
        self.env.update({"HOME": h, "XDG_CONFIG_HOME": h + "/.config", "XDG_DATA_HOME": h + "/.local/share",
                         "XDG_CACHE_HOME": h + "/.cache", "XDG_STATE_HOME": h + "/.local/state",
                         "XDG_RUNTIME_DIR": h + "/.run", "QT_QPA_PLATFORM": "xcb", "LANG": "C.UTF-8",
                         "QT_LOGGING_RULES": "kelso.app.info=true"})
        os.makedirs(h + "/.run", mode=0o700)
        for d in ("Documents", "Downloads", "Desktop"):
            os.makedirs(os.path.join(h, d))
        self.log_path = os.path.join(h, "kelso.log")
        self.procs = []
        self.proc = None

    def start_display(self):
        r, w = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip():
            sys.exit("Xvfb did not start")
        self.procs.append(xvfb)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def start(self, timeout=300):
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen([self.bin], stdout=self.log, stderr=subprocess.STDOUT, env=self.env)
        self.procs.append(self.proc)
        deadline = time.time() + timeout
        while time.time() < deadline:
            if "kelso[app]: started" in self.read_log():
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.2)
        sys.exit("kelso did not start:\n" + self.read_log()[-3000:])

    def read_log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def cli(self, *args, timeout=120):
        return subprocess.run([self.bin, *args], capture_output=True, text=True, env=self.env, timeout=timeout)

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS

    def peak_rss_mb(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0.0

    def settle(self, quiet=3.0, limit=180):
        """Waits until Kelso used under 10 % of a core over `quiet` seconds (at most `limit`
        seconds); answers the wait."""
        started = time.monotonic()
        last = self.cpu_seconds()
        while time.monotonic() - started < limit:
            time.sleep(quiet)
            now = self.cpu_seconds()
            if now - last < 0.1 * quiet:
                break
            last = now
        return time.monotonic() - started

    def recent(self, folder=None):
        args = ["recent", "--json"] + (["--folder", folder] if folder else [])
        r = self.cli(*args)
        if r.returncode != 0 or "did not answer" in r.stderr:
            raise RuntimeError("kelso recent failed: " + r.stderr.strip())
        paths = []
        for item in json.loads(r.stdout):
            paths.extend(item.get("stack") or [item["path"]])
        return paths

    def found(self, name):
        r = self.cli("search", "--json", name)
        if r.returncode != 0:
            raise RuntimeError("kelso search failed: " + r.stderr.strip())
        return {i["path"] for i in json.loads(r.stdout)}

    def close(self, keep=False):
        if self.proc and self.proc.poll() is None:
            self.cli("quit", timeout=30)
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                p.wait(10)
        if not keep:
            shutil.rmtree(self.home, ignore_errors=True)


def figures(k, label, wall):
    print("%-8s kelso CPU since its start %.1f s (%.0f%% of the case's wall time %.1f s), peak RSS %.0f MB" %
          (label, k.cpu_seconds(), 100 * k.cpu_seconds() / max(wall, 0.001), wall, k.peak_rss_mb()))


# ---- the day of activity -------------------------------------------------------------------

class Bag:
    """A set with a random pick in constant time."""

    def __init__(self):
        self.items = []
        self.index = {}

    def add(self, item):
        self.index[item] = len(self.items)
        self.items.append(item)

    def discard(self, item):
        i = self.index.pop(item)
        last = self.items.pop()
        if i < len(self.items):
            self.items[i] = last
            self.index[last] = i

    def pick(self, rng):
        return rng.choice(self.items) if self.items else None

    def __iter__(self):
        return iter(self.items)


class Day:
    """The simulated truth: live files by path, the order they were last touched, gone names."""

    def __init__(self, folders, seed):
        self.rng = random.Random(seed)
        self.folders = folders
        self.live = {}      # path -> last touch number
        self.by_folder = {f: Bag() for f in folders}
        self.gone = []      # names that must not be found any more
        self.next_id = 0
        self.tick = 0
        self.events = 0

    def new_name(self):
        self.next_id += 1
        return "soakfile%07d.txt" % self.next_id

    def touch(self, path):
        self.tick += 1
        self.live[path] = self.tick
        self.events += 1

    def create(self, folder):
        path = os.path.join(folder, self.new_name())
        with open(path, "w") as f:
            f.write("created %d\n" % self.next_id)
        self.by_folder[folder].add(path)
        self.touch(path)

    def pick(self, folder):
        return self.by_folder[folder].pick(self.rng)

    def modify(self, path):
        with open(path, "a") as f:
            f.write("more\n")
        self.touch(path)

    def rename(self, path, folder):
        target = os.path.join(folder, self.new_name())
        os.rename(path, target)
        self.forget(path)
        self.by_folder[folder].add(target)
        self.touch(target)

    def delete(self, path):
        os.unlink(path)
        self.forget(path)
        self.events += 1

    def forget(self, path):
        self.live.pop(path)
        self.by_folder[os.path.dirname(path)].discard(path)
        self.gone.append(os.path.basename(path))

    def burst(self, max_live):
        """One burst in one folder: what a program does at once (a build, an unpacked archive,
        a save loop, a cleanup)."""
        folder = self.rng.choice(self.folders)
        size = int(self.rng.paretovariate(1.2) * 20)
        size = min(size, 2000)
        kind = self.rng.random()
        if len(self.live) > max_live:
            kind = 0.95  # cleanup keeps the day's files at a steady number
        if kind < 0.4:
            for _ in range(size):
                self.create(folder)
        elif kind < 0.65:
            for _ in range(size):
                p = self.pick(folder)
                if p:
                    self.modify(p)
        elif kind < 0.85:
            for _ in range(size):
                p = self.pick(folder)
                if p:
                    self.rename(p, self.rng.choice(self.folders) if self.rng.random() < 0.3 else folder)
        else:
            for _ in range(size):
                p = self.pick(folder)
                if p:
                    self.delete(p)


def check_recent(k, day, problems, newest=30):
    """No gone file in the list or in any folder's list; the day's newest files are listed."""
    listed = [p for p in k.recent() if "soakfile" in p]
    ghosts = [p for p in listed if p not in day.live]
    if ghosts:
        problems.append("the recent list names %d files that are gone, e.g. %s" % (len(ghosts), ghosts[:3]))
    shown = {}
    for folder in day.folders:
        shown[folder] = set(k.recent(folder))
        ghosts = [p for p in shown[folder] if "soakfile" in p and p not in day.live]
        if ghosts:
            problems.append("%s lists %d gone files, e.g. %s" % (folder, len(ghosts), ghosts[:2]))
    # A scan of a folder keeps at most 21 changed files (the engine's cap per scan), so of a
    # burst of hundreds only some are listed: each folder of the newest files must be listed
    # with files of its own, and how many of the newest files are listed is reported.
    latest = sorted(day.live, key=lambda p: day.live[p], reverse=True)[:newest]
    listed_latest = [p for p in latest if p in shown[os.path.dirname(p)] or p in listed]
    empty = sorted({os.path.dirname(p) for p in latest if not shown[os.path.dirname(p)]})
    if empty:
        problems.append("folders with the day's newest files list nothing: %s" % empty[:3])
    print("recent   %d soak files in the list, %d in the folder lists; %d of the %d newest files listed, "
          "%d of their folders listed empty" % (len(listed), sum(len(v) for v in shown.values()),
                                               len(listed_latest), newest, len(empty)))


def check_index(k, day, problems, sample=150, wait=180):
    """A sample of live names is found at its path, a sample of gone names is not found;
    asks again for up to `wait` seconds, as the index commits in batches."""
    rng = random.Random(7)
    live = rng.sample(sorted(day.live), min(sample, len(day.live)))
    gone = rng.sample(day.gone, min(sample, len(day.gone)))
    started = time.monotonic()
    while True:
        wrong_live = [p for p in live if p not in k.found(os.path.basename(p))]
        wrong_gone = [n for n in gone if any(os.path.basename(p) == n for p in k.found(n))]
        if not wrong_live and not wrong_gone or time.monotonic() - started > wait:
            break
        time.sleep(5)
    print("index    %d live names: %d not found; %d gone names: %d still found (after %.0f s)" %
          (len(live), len(wrong_live), len(gone), len(wrong_gone), time.monotonic() - started))
    if wrong_live:
        problems.append("the index misses %d live files, e.g. %s" % (len(wrong_live), wrong_live[:2]))
    if wrong_gone:
        problems.append("the index still finds %d gone names, e.g. %s" % (len(wrong_gone), wrong_gone[:2]))


def soak(args, k, problems):
    root = os.path.join(k.home, "Documents", "soak")
    folders = [os.path.join(root, "project%02d" % i) for i in range(40)] + [os.path.join(k.home, "Downloads")]
    for f in folders:
        os.makedirs(f, exist_ok=True)
    k.start()
    k.settle()
    cpu0 = k.cpu_seconds()
    day = Day(folders, seed=19)
    started = time.monotonic()
    hours = 0
    while day.events < args.events:
        day.burst(max_live=max(2000, args.events // 50))
        time.sleep(args.pause)
        hour = day.events * 24 // args.events
        if hour > hours:
            hours = hour
            print("  simulated hour %2d: %d events, %d live files, kelso CPU %.0f s, RSS now/peak %.0f MB" %
                  (hour, day.events, len(day.live), k.cpu_seconds() - cpu0, k.peak_rss_mb()), flush=True)
    made = time.monotonic() - started
    settled = k.settle()
    wall = time.monotonic() - started
    print("soak     %d events in %.1f s (%.0f per second); Kelso settled %.1f s after the last" %
          (day.events, made, day.events / made, settled))
    print("soak     kelso CPU during the day %.1f s (%.1f ms per 1000 events)" %
          (k.cpu_seconds() - cpu0, 1e6 * (k.cpu_seconds() - cpu0) / day.events))
    figures(k, "soak", wall)
    check_recent(k, day, problems)
    check_index(k, day, problems)


def storm(args, k, problems):
    root = os.path.join(k.home, "Documents", "storm")
    os.makedirs(root)
    k.start()
    k.settle()
    cpu0 = k.cpu_seconds()
    folders = [os.path.join(root, "f%03d" % i) for i in range(100)]
    for f in folders:
        os.makedirs(f)
    slowest = 0.0
    started = time.monotonic()
    last_probe = started
    for i in range(args.storm):
        with open(os.path.join(folders[i % 100], "stormfile%07d.txt" % i), "w") as f:
            f.write("storm\n")
        if time.monotonic() - last_probe > 5:
            t = time.monotonic()
            k.recent()
            slowest = max(slowest, time.monotonic() - t)
            last_probe = time.monotonic()
    made = time.monotonic() - started
    last = os.path.join(folders[(args.storm - 1) % 100], "stormfile%07d.txt" % (args.storm - 1))
    shown_after = None
    while time.monotonic() - started < made + 600:
        if last in k.recent(os.path.dirname(last)):
            shown_after = time.monotonic() - started - made
            break
        time.sleep(1)
    indexed_after = None
    while time.monotonic() - started < made + 900:
        if last in k.found(os.path.basename(last)):
            indexed_after = time.monotonic() - started - made
            break
        time.sleep(2)
    settled = k.settle()
    wall = time.monotonic() - started
    print("storm    %d files in %.1f s; the last one listed %s s and indexed %s s after it was made; "
          "slowest `kelso recent` during the storm %.2f s; settled after %.0f s" %
          (args.storm, made, "%.1f" % shown_after if shown_after is not None else "never",
           "%.1f" % indexed_after if indexed_after is not None else "never", slowest, settled))
    print("storm    kelso CPU %.1f s for the storm" % (k.cpu_seconds() - cpu0))
    figures(k, "storm", wall)
    if shown_after is None:
        problems.append("the storm's last file never reached the recent list")
    if indexed_after is None:
        problems.append("the storm's last file never reached the index")


def big_home(args, k, problems):
    limit = int(open("/proc/sys/fs/inotify/max_user_watches").read())
    root = os.path.join(k.home, "Documents", "tree")
    started = time.monotonic()
    n = 0
    for a in range(1000):
        for b in range(args.folders // 1000):
            os.makedirs(os.path.join(root, "a%03d" % a, "b%03d" % b))
            n += 1
    print("folders  %d folders made in %.0f s (watch limit %d)" % (n + 1000, time.monotonic() - started, limit))
    started = time.monotonic()
    k.start()
    k.settle()
    up = time.monotonic() - started
    lines = [line for line in k.read_log().splitlines() if "watch limit" in line]
    status = k.cli("recent", "--status")
    print("folders  kelso settled %.0f s after its start; `kelso recent --status`:\n    %s" %
          (up, status.stdout.strip().replace("\n", "\n    ")))
    print("folders  log lines about the watch limit: %d%s" % (len(lines), (": " + lines[0][:300]) if lines else ""))
    if n + 1000 > limit and len(lines) != 1:
        problems.append("%d log lines about the watch limit, not one" % len(lines))
    if n + 1000 > limit and "unwatched" not in status.stdout:
        problems.append("`kelso recent --status` does not say that folders are left unwatched")
    for path in (os.path.join(k.home, "new-in-home.txt"), os.path.join(k.home, "Downloads", "new-download.txt")):
        with open(path, "w") as f:
            f.write("new\n")
        t = time.monotonic()
        while time.monotonic() - t < 60 and path not in k.recent():
            time.sleep(0.5)
        ok = path in k.recent()
        print("folders  %s %s" % (path[len(k.home) + 1:], "shows after %.1f s" % (time.monotonic() - t)
                                  if ok else "never shows"))
        if not ok:
            problems.append("%s never shows in the recent list" % path)
    figures(k, "folders", time.monotonic() - started)


CASES = {"soak": soak, "storm": storm, "folders": big_home}


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--kelso", required=True)
    p.add_argument("--case", choices=sorted(CASES) + ["all"], default="all")
    p.add_argument("--quick", action="store_true")
    p.add_argument("--events", type=int)
    p.add_argument("--storm", type=int)
    p.add_argument("--folders", type=int)
    p.add_argument("--pause", type=float, default=0.002, help="seconds between bursts")
    p.add_argument("--as-user")
    p.add_argument("--base", default="/home/kelso-bench", help="where the homes are made (not under /tmp: "
                   "Kelso does not watch system folders)")
    p.add_argument("--keep", action="store_true", help="keep the homes")
    args = p.parse_args()
    scale = 10 if args.quick else 1
    args.events = args.events or 1000000 // scale
    args.storm = args.storm or 200000 // scale
    args.folders = args.folders or 300000 // scale
    if args.as_user and os.environ.get("KELSO_BENCH_INNER") != "1":
        user = pwd.getpwnam(args.as_user)
        os.makedirs(args.base, exist_ok=True)
        os.chown(args.base, user.pw_uid, user.pw_gid)
        env = dict(os.environ, KELSO_BENCH_INNER="1", HOME=args.base, USER=args.as_user)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        # The system's Python: an interpreter under the caller's home may be out of the user's reach.
        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        return subprocess.call(["setpriv", "--reuid", str(user.pw_uid), "--regid", str(user.pw_gid),
                                "--clear-groups", "--", "dbus-run-session", "--", python, *sys.argv], env=env)
    if os.environ.get("KELSO_BENCH_INNER") != "1":
        env = dict(os.environ, KELSO_BENCH_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)
    problems = []
    for name in (sorted(CASES) if args.case == "all" else [args.case]):
        k = Kelso(args.kelso, args.base, name)
        try:
            k.start_display()
            CASES[name](args, k, problems)
        finally:
            k.close(keep=args.keep)
    for problem in problems:
        print("PROBLEM  " + problem)
    print("all checks held" if not problems else "%d checks failed" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
