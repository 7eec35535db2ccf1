#!/usr/bin/env python3
"""Kills Kelso at random moments while it writes, and checks that every store survives.

The real `kelso` runs in a fresh home under Xvfb and a private D-Bus session (the Session class
of tests/e2e/kelso_e2e.py). While it runs, a file storm churns the watched folders (so the event
journal, the recent store, the settings' event bookkeeping and the metadata index are written),
a D-Bus loop adds and removes Cooler items (the Cooler store) and asks for the lists, and a tag
loop runs `kelso tags add|remove` (file attributes and the shared tag domain). Each trial starts
Kelso, lets it live for a random time and SIGKILLs it (now and then an in-flight tag writer too).

After each kill every store must read whole, as the old content or the new: the property lists
parse, the journal's entries check out up to at most one torn tail, the index passes SQLite's
check, nothing is moved aside as corrupt, and the Cooler holds one of the lists it ever held
(never empty: it always keeps a few items the loops never remove). After each start the D-Bus
interface must answer within 2 seconds and the log must not report a damaged store.

    crash_stress.py --kelso build/default/bin/kelso --out build/default/stress --trials 200

Prints the counts and exits 1 on any breakage.
"""
import argparse
import json
import os
import plistlib
import random
import re
import shutil
import signal
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from kelso_e2e import Session, wait_for  # noqa: E402

DBUS_LIMIT = 2.0  # seconds an answer may take
STORES = ("recent", "cooler", "settings", "journal", "index", "tags")

# Kelso's log lines that say a store was found broken at start, by store.
DAMAGE_LINES = [
    ("recent", re.compile(r"recent-items store .* cannot be read")),
    ("cooler", re.compile(r"Cooler store .* cannot be read")),
    ("journal", re.compile(r"event journal .* is damaged")),
    ("index", re.compile(r"index: (the file is damaged|unreadable or of another version)")),
    ("settings", re.compile(r"settings file .*com\.tallow\.kelso\.plist cannot be read")),
    ("tags", re.compile(r"settings file .*com\.lumitag\.shared\.plist cannot be read")),
]
MOVED_ASIDE = re.compile(r"\.(corrupt|broken|damaged|bad)\b|\.corrupt-", re.I)
LEFTOVER = re.compile(r"\.(plist|journal)\.[A-Za-z]{6}$")


class Counts:
    def __init__(self):
        self.trials = 0
        self.kills = 0
        self.killed_starting = 0  # kills before Kelso said it had started
        self.tag_writer_kills = 0
        self.starts_checked = 0
        self.broken = {s: 0 for s in STORES}
        self.moved_aside = set()
        self.cooler_empty = 0
        self.cooler_unknown = 0
        self.dbus_calls = 0
        self.dbus_slow = 0
        self.failed_starts = 0
        self.exits_on_own = 0
        self.leftovers_max = 0
        self.torn_journal_tails = 0
        self.model_mismatches = 0
        self.storm_ops = 0
        self.tag_writes = 0
        self.problems = []
        self.start_seconds = []
        self.orphans = 0  # processes of ours still running after the kill (thumbnail decoders)
        self.dbus_by_method = {}  # method: [calls, slow, slowest seconds]
        self.store_changes = {s: 0 for s in STORES}  # kills after which a store differed from before

    def problem(self, text):
        self.problems.append(text)
        print("  ! " + text, flush=True)

    def failed(self):
        return (sum(self.broken.values()) or self.moved_aside or self.cooler_empty or self.cooler_unknown or
                self.dbus_slow or self.failed_starts or self.exits_on_own)

    def report(self):
        lines = [
            "trials: %d" % self.trials,
            "kills: %d (%d before start-up finished, %d tag writers killed too)" % (
                self.kills, self.killed_starting, self.tag_writer_kills),
            "starts checked: %d (start-up took %.1f s on average)" % (
                self.starts_checked, sum(self.start_seconds) / max(1, len(self.start_seconds))),
            "broken stores: %d (%s)" % (sum(self.broken.values()),
                                        ", ".join("%s %d" % (s, self.broken[s]) for s in STORES)),
            "moved-aside files: %d" % len(self.moved_aside),
            "Cooler empty: %d, Cooler not a list it held: %d" % (self.cooler_empty, self.cooler_unknown),
            "D-Bus calls: %d, slower than %.0f s or unanswered: %d" % (self.dbus_calls, DBUS_LIMIT, self.dbus_slow),
            "  by method: " + ", ".join("%s %d/%d slow, slowest %.2f s" % (m, v[1], v[0], v[2])
                                        for m, v in sorted(self.dbus_by_method.items())),
            "failed starts: %d, exits without a kill: %d" % (self.failed_starts, self.exits_on_own),
            "torn journal tails (allowed): %d" % self.torn_journal_tails,
            "decoder processes left running after a kill: %d" % self.orphans,
            "leftover temporary files at most: %d" % self.leftovers_max,
            "file-storm operations: %d, tag writes: %d" % (self.storm_ops, self.tag_writes),
            "kills after which a store had changed: %s" % ", ".join(
                "%s %d" % (s, self.store_changes[s]) for s in STORES),
        ]
        if self.model_mismatches:
            lines.append("Cooler answers unlike the expected list (harness model): %d" % self.model_mismatches)
        return "\n".join(lines)


# ---- store checks (Kelso not running) ---------------------------------------------------------

def check_plist(path, shape):
    """None when the file is missing or whole; otherwise why not."""
    if not os.path.exists(path):
        return None
    try:
        with open(path, "rb") as f:
            value = plistlib.load(f)
    except Exception as e:  # noqa: BLE001 - any parse failure is a broken store
        return "does not parse: %s" % e
    if not isinstance(value, shape):
        return "top level is %s" % type(value).__name__
    return None


def check_journal(path, counts):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24 or data[:8] != b"KLFSJRNL":
        return "no journal header (%d bytes)" % len(data)
    pos = 24
    while pos < len(data):
        if len(data) - pos < 8:
            counts.torn_journal_tails += 1
            return None
        length, crc = struct.unpack_from("<II", data, pos)
        if length < 21 or length > (1 << 20):
            return "bad entry length %d at %d" % (length, pos)
        if len(data) - pos - 8 < length:
            counts.torn_journal_tails += 1
            return None
        if zlib.crc32(data[pos + 8:pos + 8 + length]) != crc:
            return "checksum mismatch at %d" % pos
        pos += 8 + length
    return None


def check_index(path):
    """SQLite's own check, on a copy (the check must not change what Kelso finds next)."""
    if not os.path.exists(path):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, "index.sqlite3")
        for suffix in ("", "-wal"):
            if os.path.exists(path + suffix):
                shutil.copyfile(path + suffix, copy + suffix)
        try:
            db = sqlite3.connect(copy)
            rows = db.execute("PRAGMA quick_check").fetchall()
            db.close()
        except sqlite3.Error as e:
            return "SQLite: %s" % e
        if rows != [("ok",)]:
            return "quick_check: %r" % rows[:3]
    return None


def stamp_of(path):
    """What tells one version of a store from the next (the SQLite log counts for the index)."""
    stamp = []
    for p in (path, path + "-wal"):
        try:
            st = os.stat(p)
            stamp.append((st.st_ino, st.st_size, st.st_mtime_ns))
        except OSError:
            stamp.append(None)
    return tuple(stamp)


def cooler_paths_in_store(path):
    with open(path, "rb") as f:
        value = plistlib.load(f)
    return tuple(item.get("path") for item in value.get("items", []) if isinstance(item, dict))


# ---- the loops that make Kelso write ------------------------------------------------------------

class Storm(threading.Thread):
    """Creates, changes, renames and deletes files in watched folders, throttled to spare the CPU."""

    def __init__(self, folders, rng, counts, stop):
        super().__init__(daemon=True)
        self.folders, self.rng, self.counts, self.stop = folders, rng, counts, stop
        self.files = []
        self.serial = 0

    def run(self):
        for d in self.folders:
            os.makedirs(d, exist_ok=True)
        while not self.stop.is_set():
            try:
                self.step()
                self.counts.storm_ops += 1
            except OSError:
                pass
            time.sleep(0.004)

    def step(self):
        r = self.rng.random()
        if r < 0.4 or len(self.files) < 20:
            self.serial += 1
            folder = self.rng.choice(self.folders)
            ext = self.rng.choice((".txt", ".md", ".csv", ".log"))
            path = os.path.join(folder, "storm-%06d%s" % (self.serial, ext))
            with open(path, "w") as f:
                f.write("line %d\n" % self.serial * self.rng.randint(1, 40))
            self.files.append(path)
        elif r < 0.65:
            with open(self.rng.choice(self.files), "a") as f:
                f.write("more\n")
        elif r < 0.8:
            i = self.rng.randrange(len(self.files))
            self.serial += 1
            new = os.path.join(self.rng.choice(self.folders), "moved-%06d.txt" % self.serial)
            os.rename(self.files[i], new)
            self.files[i] = new
        else:
            os.unlink(self.files.pop(self.rng.randrange(len(self.files))))
        if len(self.files) > 300:
            os.unlink(self.files.pop(0))


class CoolerLoop(threading.Thread):
    """Adds and removes Cooler items through D-Bus and times every answer while Kelso runs."""

    def __init__(self, s, base, churn, rng, counts):
        super().__init__(daemon=True)
        self.s, self.base, self.churn, self.rng, self.counts = s, base, churn, rng, counts
        self.lock = threading.Lock()
        self.live = threading.Event()  # Kelso started and not yet being killed
        self.idle = threading.Event()
        self.idle.set()
        self.quit = threading.Event()
        self.kill_time = None
        self.launched = time.time()
        self.model = list(base)
        self.held = {tuple(base)}  # every list the Cooler could have written

    def call(self, method, *args):
        """(answer or None, seconds)."""
        started = time.time()
        try:
            r = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--reply-timeout=%d" % 5000,
                                "--dest=com.tallow.kelso", "/com/tallow/kelso", "com.tallow.kelso.App." + method,
                                *args], capture_output=True, text=True, env=self.s.env, timeout=8)
            answer = r.stdout.strip() if r.returncode == 0 else None
        except subprocess.TimeoutExpired:
            answer = None
        took = time.time() - started
        self.counts.dbus_calls += 1
        # A call the kill cut into (within its 2 seconds) proves nothing either way.
        cut = self.kill_time is not None and started + DBUS_LIMIT > self.kill_time
        calls = self.counts.dbus_by_method.setdefault(method, [0, 0, 0.0])
        calls[0] += 1
        calls[2] = max(calls[2], took if not cut else 0.0)
        if (answer is None or took > DBUS_LIMIT) and not cut:
            self.counts.dbus_slow += 1
            calls[1] += 1
            # How busy the machine is: the bus daemon's own answer, and the load average.
            bus_started = time.time()
            subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"], capture_output=True,
                           env=self.s.env, timeout=30)
            self.counts.problem("D-Bus %s: %s after %.2f s (called %.1f s after the launch; the bus daemon "
                                "answers in %.2f s, load %.1f)" % (
                                    method, "no answer" if answer is None else "answer", took,
                                    started - self.launched, time.time() - bus_started, os.getloadavg()[0]))
        return answer, took

    def run(self):
        while not self.quit.is_set():
            if not self.live.wait(0.2):
                continue
            self.idle.clear()
            try:
                if self.live.is_set():
                    self.one_round()
            finally:
                self.idle.set()

    def one_round(self):
        path = self.rng.choice(self.churn)
        add = self.rng.random() < 0.6
        with self.lock:
            if add:
                new = [path] + [p for p in self.model if p != path]
            else:
                new = [p for p in self.model if p != path]
            self.model = new
            self.held.add(tuple(new))
        if add:
            self.call("AddToCooler", "array:string:" + path, "int32:0")
        else:
            self.call("RemoveFromCooler", "array:string:" + path)
        if self.rng.random() < 0.3:
            answer, _ = self.call("CoolerItems")
            if answer is not None and self.live.is_set():
                paths = [i["path"] for i in json.loads(answer or "[]")]
                with self.lock:
                    if paths != self.model:
                        self.counts.model_mismatches += 1
                        self.model = paths
                        self.held.add(tuple(paths))
        if self.rng.random() < 0.2:
            self.call("RecentItems", "string:")
        if self.rng.random() < 0.5:
            # Losing the focus writes the recent store (and now and then the Cooler's).
            self.call("Show")
            time.sleep(0.3)
            self.call("Hide")

    def restarted_with(self, paths):
        with self.lock:
            self.model = list(paths)


class TagLoop(threading.Thread):
    """`kelso tags add|remove` on a few files: attributes and the shared domain's recent tags."""

    def __init__(self, s, files, rng, counts, stop):
        super().__init__(daemon=True)
        self.s, self.files, self.rng, self.counts, self.stop = s, files, rng, counts, stop
        self.current = None
        self.lock = threading.Lock()

    def run(self):
        n = 0
        while not self.stop.is_set():
            n += 1
            verb = "add" if self.rng.random() < 0.7 else "remove"
            tag = "Tag%d" % self.rng.randrange(40)
            with self.lock:
                self.current = subprocess.Popen([self.s.kelso_bin, "tags", verb, tag, self.rng.choice(self.files)],
                                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                                env=self.s.env)
            try:
                self.current.wait(30)
            except subprocess.TimeoutExpired:
                self.current.kill()
                self.current.wait()
            self.counts.tag_writes += 1
            time.sleep(0.05)

    def kill_in_flight(self):
        with self.lock:
            p = self.current
            if p is not None and p.poll() is None:
                p.send_signal(signal.SIGKILL)
                return True
        return False


# ---- the trials -------------------------------------------------------------------------------

class Harness:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.counts = Counts()
        self.s = Session(args.kelso, args.out, "crash-stress")
        for rule in args.log:
            area, _, level = rule.partition(".")
            self.s.log_area(area, level or "debug")
        home = self.s.home
        self.config = self.s.env["XDG_CONFIG_HOME"]
        self.data = os.path.join(self.s.env["XDG_DATA_HOME"], "Kelso")
        self.state = os.path.join(self.s.env["XDG_STATE_HOME"], "Kelso")
        self.cache = os.path.join(self.s.env["XDG_CACHE_HOME"], "com.tallow.kelso")
        self.paths = {
            "recent": os.path.join(self.data, "recentItems.plist"),
            "cooler": os.path.join(self.data, "coolerItems.plist"),
            "settings": os.path.join(self.config, "com.tallow.kelso.plist"),
            "tags": os.path.join(self.config, "com.lumitag.shared.plist"),
            "journal": os.path.join(self.state, "fsevents.journal"),
            "index": os.path.join(self.cache, "index.sqlite3"),
        }
        kept = os.path.join(home, "Documents", "kept")
        os.makedirs(kept)
        self.base = [self.make(kept, "base-%d.txt" % i) for i in range(3)]
        self.churn = [self.make(kept, "churn-%d.txt" % i) for i in range(6)]
        tagged = os.path.join(home, "Documents", "tagged")
        os.makedirs(tagged)
        self.tagged = [self.make(tagged, "tagged-%d.txt" % i) for i in range(5)]
        # The shared tag domain is used once its file exists.
        os.makedirs(self.config, exist_ok=True)
        # Already asked about crash reports: no question window at the third start.
        with open(self.paths["settings"], "wb") as f:
            plistlib.dump({"bugsnagHaveAsked": True, "bugsnagCanSendReports": False}, f, fmt=plistlib.FMT_BINARY)
        with open(self.paths["tags"], "wb") as f:
            plistlib.dump({}, f, fmt=plistlib.FMT_BINARY)
        self.stop = threading.Event()
        self.stamps = {}

    @staticmethod
    def make(folder, name):
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write(name + "\n")
        return path

    def run(self):
        s = self.s
        s.start_display()
        # A first, calm run puts the known items in the Cooler and lets it write its store.
        proc = s.start_kelso()
        s.wait_started(proc)
        r = s.kelso("cooler", "add", *self.base)
        if r.returncode != 0:
            raise RuntimeError("kelso cooler add failed: " + r.stderr)
        s.quit_kelso(proc)
        stored = cooler_paths_in_store(self.paths["cooler"])
        if list(stored) != self.base:
            raise RuntimeError("the first Cooler store holds %r" % (stored,))

        self.cooler = CoolerLoop(s, self.base, self.churn, self.rng, self.counts)
        storm = Storm([os.path.join(s.home, "Documents", "storm"), os.path.join(s.home, "Downloads", "storm"),
                       os.path.join(s.home, "Desktop")], random.Random(self.rng.random()), self.counts, self.stop)
        tags = TagLoop(s, self.tagged, random.Random(self.rng.random()), self.counts, self.stop)
        self.tag_loop = tags
        for t in (self.cooler, storm, tags):
            t.start()
        try:
            for n in range(self.args.trials):
                self.trial(n)
        finally:
            self.stop.set()
            self.cooler.quit.set()
        # A last start reads what the last kill left.
        self.start_and_check(final=True)
        return self.counts

    def trial(self, n):
        c = self.counts
        c.trials += 1
        # Some kills land in the start-up (reading the stores, the launch count, the journal's
        # catch-up); the others a random time after it, while the loops make Kelso write.
        if self.rng.random() < self.args.startup_kills:
            life = self.rng.uniform(self.args.min_life, 2.0)
            proc, started = self.start_and_check(life=life)
            deadline = self.launched + life
        else:
            proc, started = self.start_and_check()
            deadline = time.time() + self.rng.uniform(self.args.min_life, self.args.max_life)
        if proc is None:
            return
        left = deadline - time.time()
        if left > 0:
            time.sleep(left)
        if proc.poll() is not None:
            c.exits_on_own += 1
            c.problem("trial %d: kelso exited on its own with %s" % (n, proc.returncode))
        else:
            self.cooler.kill_time = time.time()
            self.cooler.live.clear()
            proc.send_signal(signal.SIGKILL)
            if self.rng.random() < 0.25 and self.tag_loop.kill_in_flight():
                c.tag_writer_kills += 1
            proc.wait(10)
            c.kills += 1
            if not started:
                c.killed_starting += 1
        self.cooler.idle.wait(15)
        self.cooler.kill_time = None
        # The thumbnail decoders go with their parent; any left would hold files open.
        time.sleep(0.2)
        for pid in self.s.kelso_pids(include_workers=True):
            try:
                os.kill(pid, signal.SIGKILL)
                c.orphans += 1
            except OSError:
                pass
        self.check_stores("after kill %d" % n)
        if (n + 1) % 10 == 0:
            print("trial %d/%d: kills %d, broken %d, moved aside %d, slow D-Bus %d" % (
                n + 1, self.args.trials, c.kills, sum(c.broken.values()), len(c.moved_aside), c.dbus_slow),
                flush=True)

    def start_and_check(self, life=None, final=False):
        """Starts Kelso; once it says it started (within `life`, if given), checks what it read."""
        c = self.counts
        s = self.s
        self.launched = self.cooler.launched = time.time()
        proc = s.start_kelso()
        mark = s.log_mark
        wait = 30 if life is None else life
        ok = wait_for(lambda: "kelso[app]: started" in s.read_log()[mark:] or proc.poll() is not None, wait, 0.05)
        started = ok and proc.poll() is None
        if not started:
            if proc.poll() is not None:
                c.failed_starts += 1
                c.problem("kelso did not start (exit %s)" % proc.returncode)
                return None, False
            if life is None:
                c.failed_starts += 1
                c.problem("kelso did not start within 30 s")
            return proc, False
        c.starts_checked += 1
        c.start_seconds.append(time.time() - self.launched)
        answer, took = self.cooler.call("CoolerItems")
        if answer is not None:
            paths = tuple(i["path"] for i in json.loads(answer or "[]"))
            self.check_cooler(paths, "after start")
            self.cooler.restarted_with(paths)
        self.cooler.call("RecentItems", "string:")
        self.check_log(s.read_log()[mark:])
        if final:
            s.quit_kelso(proc)
            self.check_stores("after the last quit")
        else:
            self.cooler.live.set()
        return proc, True

    def check_cooler(self, paths, when):
        c = self.counts
        if not paths:
            c.cooler_empty += 1
            c.problem("the Cooler is empty %s" % when)
        elif paths not in self.cooler.held:
            c.cooler_unknown += 1
            c.problem("the Cooler holds a list it never held %s: %r" % (when, paths))
        elif not all(p in paths for p in self.base):
            c.cooler_unknown += 1
            c.problem("the Cooler lost its kept items %s: %r" % (when, paths))

    def check_log(self, text):
        for store, line in DAMAGE_LINES:
            for m in line.finditer(text):
                self.counts.broken[store] += 1
                self.counts.problem("kelso reports a broken %s store: %s" % (store, m.group(0)))

    def check_stores(self, when):
        c = self.counts
        whys = {
            "recent": check_plist(self.paths["recent"], (dict, list)),
            "cooler": check_plist(self.paths["cooler"], dict),
            "settings": check_plist(self.paths["settings"], dict),
            "tags": check_plist(self.paths["tags"], dict),
            "journal": check_journal(self.paths["journal"], c),
            "index": check_index(self.paths["index"]),
        }
        for store, path in self.paths.items():
            stamp = stamp_of(path)
            if stamp != self.stamps.get(store):
                c.store_changes[store] += 1
            self.stamps[store] = stamp
        for store, why in whys.items():
            if why:
                c.broken[store] += 1
                c.problem("%s: the %s store %s" % (when, store, why))
        if whys["cooler"] is None:
            if not os.path.exists(self.paths["cooler"]):
                c.cooler_empty += 1
                c.problem("%s: the Cooler store is gone" % when)
            else:
                self.check_cooler(cooler_paths_in_store(self.paths["cooler"]), when + " (store)")
        leftovers = 0
        for folder in (self.config, self.data, self.state, self.cache):
            for root, _, names in os.walk(folder):
                for name in names:
                    if MOVED_ASIDE.search(name):
                        path = os.path.join(root, name)
                        if path not in c.moved_aside:
                            c.moved_aside.add(path)
                            c.problem("%s: moved aside: %s" % (when, path))
                    elif LEFTOVER.search(name):
                        leftovers += 1
        c.leftovers_max = max(c.leftovers_max, leftovers)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--kelso", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--trials", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock)")
    parser.add_argument("--min-life", type=float, default=0.2, help="shortest life before the kill, seconds")
    parser.add_argument("--max-life", type=float, default=4.0,
                        help="longest life after the start-up before the kill, seconds")
    parser.add_argument("--startup-kills", type=float, default=0.3,
                        help="share of the kills that land in the start-up (within 2 s of the launch)")
    parser.add_argument("--keep-home", action="store_true", help="keep the home folder for a look")
    parser.add_argument("--log", action="append", default=[], metavar="AREA.LEVEL",
                        help="one more of Kelso's logging areas into the log, e.g. fsevents.info")
    args = parser.parse_args()
    if os.environ.get("KELSO_STRESS_INNER") != "1":
        env = dict(os.environ, KELSO_STRESS_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)
    if args.seed is None:
        args.seed = int(time.time())
    print("seed %d, %d trials, life %.1f-%.1f s" % (args.seed, args.trials, args.min_life, args.max_life),
          flush=True)
    h = Harness(args)
    ok = False
    try:
        counts = h.run()
        print(counts.report())
        ok = not counts.failed()
    finally:
        h.s.close(keep_home=args.keep_home or not ok)
    print("PASS" if ok else "FAIL (home kept: %s; log: %s)" % (h.s.home, h.s.log_path))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
