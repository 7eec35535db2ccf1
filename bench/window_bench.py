#!/usr/bin/env python3
"""Speed and memory of Kelso's main window, measured on a real X display.

Runs the real `kelso` the way the end-to-end tests do: inside its own dbus-run-session, on its
own Xvfb display with openbox, xcompmgr and trayer, with HOME and the XDG folders pointed at a
fresh home (under the user's home folder, not hidden, so the recent-files rules accept it).
The home is prepared with real files: 100 JPEGs in the recent list (recentItems.plist: 49 files
of their own plus one busy folder of 51, which the pane shows as a stack, since it ranks at most
50 cells) and 100 JPEGs in the Cooler (coolerItems.plist).

Sections (all by default):

  startup  Time from process start to the window being mapped (viewable), several runs each,
           alternating: a minimal Qt Widgets program (built by this script with g++ into a
           temporary folder) that shows one window, and `kelso` followed by the D-Bus Show
           call (what `kelso show` sends) as soon as Kelso logs that it started. Prints medians
           and the ratio kelso / minimal (target: at most 1.5), then kelso again with both
           stores moved aside (what the 200 items add).
  memory   Resident memory (VmRSS, VmHWM) of kelso after both grids and the stack were walked
           through row by row, so that 200 cells were painted and got their thumbnails, and the
           process went quiet (target: under 150 MB).
  scroll   File accesses of the main thread (strace on the thread whose id is the process id)
           while the grids are scrolled with the mouse wheel: once while the thumbnails are
           still arriving, once with all of them in memory. Reads of sockets, pipes and event
           descriptors (X, D-Bus, wake-ups) are counted apart from everything that touches the
           file system.

    bench/window_bench.py --kelso build/winbench/bin/kelso [--runs 7] [startup] [memory] [scroll]

`make bench` runs it through bench/run-all.sh against build/default. Mapping is detected with
Xlib (through ctypes): the script listens for MapNotify on the root window and on every frame
window and then checks which window named "Kelso" is viewable — no polling processes that
would compete with the measured program for the CPU.
"""
import argparse
import collections
import ctypes
import ctypes.util
import datetime
import os
import plistlib
import pwd
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

MINIMAL_SOURCE = r"""
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal Qt Window"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("One window")));
    window.resize(1360, 560);
    window.show();
    return app.exec();
}
"""

MINIMAL_TITLE = "Minimal Qt Window"
KELSO_TITLE = "Kelso"


def log(msg):
    print(msg, flush=True)


def wait_for(condition, timeout=15.0, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


# ---- X: waiting for a window to become viewable ----------------------------------------------

class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class MapWatcher:
    """Answers the moment a top-level window with a given name becomes viewable."""
    CreateNotify, MapNotify, ReparentNotify = 16, 19, 21
    SubstructureNotifyMask = 1 << 19
    IsViewable = 2

    def __init__(self, display):
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_void_p)]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XFlush.argtypes = [ctypes.c_void_p]
        # Windows vanish between a query and the next request: ignore those errors instead of
        # letting Xlib's default handler end the process.
        self._handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
        x.XSetErrorHandler(self._handler)
        self.x = x
        self.dpy = x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display)
        self.root = x.XDefaultRootWindow(self.dpy)
        self.fd = x.XConnectionNumber(self.dpy)
        self.watched = set()
        self.event = ctypes.create_string_buffer(256)
        self._watch(self.root)
        self.x.XFlush(self.dpy)

    def _watch(self, window):
        if window not in self.watched:
            self.watched.add(window)
            self.x.XSelectInput(self.dpy, window, self.SubstructureNotifyMask)

    def _children(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                                 ctypes.byref(n)):
            return []
        out = [children[i] for i in range(n.value)]
        if children:
            self.x.XFree(children)
        return out

    def _name(self, window):
        p = ctypes.c_void_p()
        if not self.x.XFetchName(self.dpy, window, ctypes.byref(p)) or not p.value:
            return None
        name = ctypes.string_at(p.value).decode("latin-1")
        self.x.XFree(p)
        return name

    def _viewable(self, window, min_width):
        a = XWindowAttributes()
        if not self.x.XGetWindowAttributes(self.dpy, window, ctypes.byref(a)):
            return False
        return a.map_state == self.IsViewable and a.width >= min_width

    def find(self, name, min_width=0):
        """The viewable window named `name` (a top-level window or a client inside a frame)."""
        for top in self._children(self.root):
            self._watch(top)
            for w in [top] + self._children(top):
                if self._viewable(w, min_width) and self._name(w) == name:
                    return w
        self.x.XFlush(self.dpy)
        return None

    def drain(self):
        """Reads the queued events; answers whether one of them may have shown a window."""
        interesting = False
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, self.event)
            kind = int.from_bytes(self.event.raw[0:4], sys.byteorder)
            if kind == self.CreateNotify:
                # XCreateWindowEvent: type, serial, send_event, display, parent, window.
                parent = int.from_bytes(self.event.raw[32:40], sys.byteorder)
                window = int.from_bytes(self.event.raw[40:48], sys.byteorder)
                if parent == self.root:
                    self._watch(window)
            elif kind in (self.MapNotify, self.ReparentNotify):
                interesting = True
        self.x.XFlush(self.dpy)
        return interesting

    def wait_viewable(self, name, timeout, min_width=0):
        """Monotonic time at which the window was seen viewable, or None on timeout."""
        deadline = time.monotonic() + timeout
        last_check = 0.0
        while time.monotonic() < deadline:
            interesting = self.drain()
            now = time.monotonic()
            if interesting or now - last_check > 0.1:
                last_check = now
                if self.find(name, min_width):
                    return now
            select.select([self.fd], [], [], 0.05)
        return None

    def wait_gone(self, name, timeout, min_width=0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.drain()
            if not self.find(name, min_width):
                return True
            select.select([self.fd], [], [], 0.05)
        return False


# ---- the session ---------------------------------------------------------------------------

class Session:
    def __init__(self, kelso, keep_home=False, out=None):
        self.kelso_bin = os.path.abspath(kelso)
        self.keep_home = keep_home
        self.out = os.path.abspath(out) if out else None
        base = os.path.join(pwd.getpwuid(os.getuid()).pw_dir, "kelso-bench-homes")
        os.makedirs(base, exist_ok=True)
        self.home = tempfile.mkdtemp(prefix="window-", dir=base)
        self.tmp = tempfile.mkdtemp(prefix="kelso-window-bench-")
        self.env = dict(os.environ)
        for var in ("XDG_CONFIG_DIRS", "XDG_DATA_DIRS", "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        self.env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local/share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_STATE_HOME": os.path.join(self.home, ".local/state"),
            "XDG_RUNTIME_DIR": os.path.join(self.home, ".run"),
            "QT_QPA_PLATFORM": "xcb",
            "LANG": "C.UTF-8",
            # The "started" line is an info line of the kelso.app area.
            "QT_LOGGING_RULES": "kelso.app.info=true",
        })
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        for d in ("Documents", "Downloads", "Desktop", ".config", ".local/share/Kelso"):
            os.makedirs(os.path.join(self.home, d), exist_ok=True)
        self.display_procs = []
        self.procs = []
        self.watcher = None

    def start_display(self):
        r, w = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1440x900x24", "-nolisten", "tcp"],
                                pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        os.close(w)
        number = b""
        deadline = time.time() + 20
        while time.time() < deadline and not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        self.display_procs.append(xvfb)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        self.display_procs.append(subprocess.Popen(["openbox"], **quiet))
        self.display_procs.append(subprocess.Popen(["xcompmgr", "-n"], **quiet))
        self.display_procs.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--width", "10",
                                              "--height", "24", "--SetDockType", "true", "--transparent", "false"],
                                             **quiet))
        time.sleep(1.5)  # let the window manager and the tray claim their selections
        self.watcher = MapWatcher(self.env["DISPLAY"])

    # ---- the prepared home ------------------------------------------------------------------
    def prepare_home(self, recent=100, cooler=100):
        colours = ["red", "orange", "gold", "yellowgreen", "seagreen", "teal", "skyblue", "navy", "purple", "pink",
                   "brown", "white", "black", "grey", "salmon", "khaki", "orchid", "turquoise", "tomato", "plum"]
        # The recent pane ranks at most 50 cells: 49 single files plus one busy folder (a stack)
        # holding the other 51, so that stepping into the stack shows 51 more thumbnails.
        singles = min(recent, 49)
        recent_paths = [os.path.join(self.home, "Documents", "Project %02d" % (i % 10), "photo-%03d.jpg" % i)
                        for i in range(singles)]
        batch_paths = [os.path.join(self.home, "Downloads", "batch", "IMG_%04d.jpg" % i)
                       for i in range(recent - singles)]
        recent_paths += batch_paths
        cooler_paths = [os.path.join(self.home, "Desktop", "kept", "kept-%03d.jpg" % i) for i in range(cooler)]
        everything = recent_paths + cooler_paths
        for p in everything:
            os.makedirs(os.path.dirname(p), exist_ok=True)
        # One ImageMagick run writes a batch of pictures (the %d pattern splits the sequence).
        batch = 50
        for start in range(0, len(everything), batch):
            chunk = everything[start:start + batch]
            stage = os.path.join(self.tmp, "batch-%d" % start)
            os.makedirs(stage, exist_ok=True)
            cmd = ["convert", "-size", "640x480"]
            for k in range(len(chunk)):
                n = start + k
                cmd.append("gradient:%s-%s" % (colours[n % len(colours)], colours[(n * 7 + 3) % len(colours)]))
            cmd += ["-quality", "85", os.path.join(stage, "img-%03d.jpg")]
            subprocess.run(cmd, check=True, capture_output=True, timeout=300)
            for k, target in enumerate(chunk):
                shutil.move(os.path.join(stage, "img-%03d.jpg" % k), target)
        # Two days old, a minute apart (newest first): the list order is the stores' order, and
        # no scan of the last day's changes adds them a second time.
        now = time.time()
        for i, p in enumerate(recent_paths):
            # The busy folder's files are the newest, so the stack is the first cell.
            t = now - 86400 - i if p in batch_paths else now - 2 * 86400 - i * 60
            os.utime(p, (t, t))
        for i, p in enumerate(cooler_paths):
            t = now - 3 * 86400 - i * 60
            os.utime(p, (t, t))
        support = os.path.join(self.env["XDG_DATA_HOME"], "Kelso")
        utc = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
        events = [{"files": [{"path": p}], "date": utc - datetime.timedelta(days=2, minutes=i),
                   "path": os.path.dirname(p)} for i, p in enumerate(recent_paths[:singles])]
        if batch_paths:
            events.insert(0, {"files": [{"path": p} for p in batch_paths], "date": utc - datetime.timedelta(days=1),
                              "path": os.path.dirname(batch_paths[0])})
        with open(os.path.join(support, "recentItems.plist"), "wb") as f:
            plistlib.dump({"version": 1, "events": events}, f, fmt=plistlib.FMT_BINARY)
        with open(os.path.join(support, "coolerItems.plist"), "wb") as f:
            plistlib.dump({"version": 1, "items": [{"path": p} for p in cooler_paths]}, f, fmt=plistlib.FMT_BINARY)
        # Already asked about crash reports: no question window pops up during the runs.
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist"), "wb") as f:
            plistlib.dump({"bugsnagHaveAsked": True, "bugsnagCanSendReports": False}, f, fmt=plistlib.FMT_BINARY)
        return recent_paths, cooler_paths

    def build_minimal(self):
        src = os.path.join(self.tmp, "minimal_window.cpp")
        exe = os.path.join(self.tmp, "minimal_window")
        with open(src, "w") as f:
            f.write(MINIMAL_SOURCE)
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "Qt6Widgets"], check=True, capture_output=True,
                               text=True).stdout.split()
        subprocess.run(["g++", "-std=c++17", "-O2", "-fPIC", src, "-o", exe, *flags], check=True, timeout=600)
        return exe

    # ---- kelso ------------------------------------------------------------------------------
    def start_kelso(self):
        """Starts kelso; answers (process, start time, event set once it logged "started")."""
        log_file = open(os.path.join(self.tmp, "kelso.log"), "a")
        started = threading.Event()
        t0 = time.monotonic()
        proc = subprocess.Popen([self.kelso_bin], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=self.env)

        def pump():
            for line in iter(proc.stdout.readline, b""):
                text = line.decode(errors="replace")
                log_file.write(text)
                log_file.flush()
                if "kelso[app]: started" in text or "Kelso: started" in text:  # or an older build's line
                    started.set()
            log_file.close()
        threading.Thread(target=pump, daemon=True).start()
        self.procs.append(proc)
        return proc, t0, started

    def dbus(self, method, *args, timeout=30):
        return subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=com.tallow.kelso",
                               "/com/tallow/kelso", "com.tallow.kelso.App." + method, *args],
                              capture_output=True, text=True, env=self.env, timeout=timeout)

    def show_kelso(self, proc, started, timeout=60):
        if not started.wait(timeout):
            raise RuntimeError("kelso did not log that it started; see %s" % os.path.join(self.tmp, "kelso.log"))
        t_started = time.monotonic()
        r = self.dbus("Show")
        if r.returncode != 0:
            raise RuntimeError("D-Bus Show failed: " + r.stderr)
        return t_started

    def quit_kelso(self, proc):
        self.dbus("Quit")
        try:
            proc.wait(30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(10)
        self.watcher.wait_gone(KELSO_TITLE, 10, min_width=300)
        # The bus name goes with the process; wait until it is free for the next run.
        wait_for(lambda: self.dbus("Show", timeout=10).returncode != 0, 10, 0.1)

    def recent_items(self):
        """What the recent pane shows now (inside a stack: the stack's files)."""
        import json
        r = self.dbus("RecentItems", "string:")
        try:
            return json.loads(r.stdout.strip() or "[]")
        except ValueError:
            return []

    def recent_count(self):
        items = self.recent_items()
        return len(items), sum(1 for i in items if i.get("stack"))

    def cooler_count(self):
        import json
        r = self.dbus("CoolerItems")
        try:
            return len(json.loads(r.stdout.strip() or "[]"))
        except ValueError:
            return None

    def screenshot(self, label):
        path = os.path.join(self.tmp, "window-bench-%s.png" % label)
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True, timeout=60)
        return path

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], capture_output=True, text=True, env=self.env, timeout=60)

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        for p in reversed(self.display_procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        if self.out:
            os.makedirs(self.out, exist_ok=True)
            for name in os.listdir(self.tmp):
                if name.endswith((".log", ".txt", ".png")):
                    shutil.copy(os.path.join(self.tmp, name), self.out)
        shutil.rmtree(self.tmp, ignore_errors=True)
        if not self.keep_home:
            shutil.rmtree(self.home, ignore_errors=True)


# ---- process facts -------------------------------------------------------------------------

def proc_status(pid):
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM", "RssAnon", "RssFile", "RssShmem", "Threads"):
                out[key] = int(value.split()[0])
    return out


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime of all threads


def wait_quiet(pid, quiet_for=1.0, timeout=60.0):
    """Waits until the process used no CPU for `quiet_for` seconds (the thumbnails are done)."""
    deadline = time.monotonic() + timeout
    last = cpu_ticks(pid)
    quiet_since = time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.2)
        now_ticks = cpu_ticks(pid)
        if now_ticks - last > 1:  # more than one 10-ms tick of CPU in 0.2 s
            quiet_since = time.monotonic()
        last = now_ticks
        if time.monotonic() - quiet_since >= quiet_for:
            return True
    return False


def wait_rss_settled(pid, timeout=60.0):
    """Samples VmRSS every half second until three seconds pass within 1 % of each other."""
    samples = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        samples.append(proc_status(pid)["VmRSS"])
        recent = samples[-7:]
        if len(recent) == 7 and max(recent) - min(recent) <= max(recent) * 0.01:
            return True
        time.sleep(0.5)
    return False


# ---- the grids -----------------------------------------------------------------------------

CELL_W, CELL_H = 148, 158


def grid_points(s):
    """Screen points over the recent grid and over the Cooler grid of the shown band."""
    wins = s.xdotool("search", "--onlyvisible", "--name", "^%s$" % KELSO_TITLE).stdout.split()
    if not wins:
        raise RuntimeError("no visible Kelso window")
    best = None
    for w in wins:
        g = dict(line.split("=", 1) for line in s.xdotool("getwindowgeometry", "--shell", w).stdout.split()
                 if "=" in line)
        geo = tuple(int(g[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        if best is None or geo[2] > best[2]:
            best = geo
    x, y, w, h = best
    # Picture centres of the first cells (as the end-to-end tests place them): the recent grid
    # sits under its pane's header at the top of the band, the Cooler grid (one row) fills the
    # bottom. Wheel points are over the middle of each grid.
    recent_cell = (x + 6 + CELL_W // 2, y + 6 + 30 + 2 + 6 + 56)
    cooler_cell = (x + 6 + CELL_W // 2, y + h - 6 - (CELL_H + 6) + 6 + 56)
    return {"recent": (recent_cell, (x + w // 2, recent_cell[1] + 40)),
            "cooler": (cooler_cell, (x + w // 2, cooler_cell[1]))}


def walk_grid(s, pid, first_cell, rows):
    """Selects the first cell, then moves right a row (nine cells) at a time, letting each row's
    thumbnails arrive (moving the selection scrolls its row into view). Up and Down would
    switch to the other grid."""
    s.xdotool("mousemove", "--sync", str(first_cell[0]), str(first_cell[1]))
    s.xdotool("click", "1")
    wait_quiet(pid, quiet_for=0.6, timeout=20)
    for _ in range(rows - 1):
        s.xdotool("key", "--delay", "15", *(["Right"] * 9))
        wait_quiet(pid, quiet_for=0.6, timeout=20)


def scroll(s, point, clicks, button):
    """Mouse-wheel clicks over a point (button 4 up, 5 down), at about a dozen a second."""
    s.xdotool("mousemove", "--sync", str(point[0]), str(point[1]))
    for _ in range(clicks):
        s.xdotool("click", str(button))
        time.sleep(0.08)


# ---- sections ------------------------------------------------------------------------------

def median_ms(values):
    return statistics.median(values) * 1000.0


def section_startup(s, minimal, runs):
    log("\n== Start-up: process start to window mapped (%d runs each, alternating, after one warm-up)" % runs)
    mini, kel, kel_started, kel_show = [], [], [], []
    for rep in range(runs + 1):
        # The minimal program.
        t0 = time.monotonic()
        proc = subprocess.Popen([minimal], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=s.env)
        t_mapped = s.watcher.wait_viewable(MINIMAL_TITLE, 30)
        if t_mapped is None:
            raise RuntimeError("the minimal window did not appear")
        proc.terminate()
        proc.wait(10)
        s.watcher.wait_gone(MINIMAL_TITLE, 10)
        # Kelso.
        kproc, k0, started = s.start_kelso()
        t_started = s.show_kelso(kproc, started)
        k_mapped = s.watcher.wait_viewable(KELSO_TITLE, 30, min_width=300)
        if k_mapped is None:
            raise RuntimeError("the Kelso window did not appear")
        if rep == 0:
            n, stacks = s.recent_count()
            log("   (the prepared home: recent pane shows %s cells, %s of them stacks; Cooler holds %s items)"
                % (n, stacks, s.cooler_count()))
        s.quit_kelso(kproc)
        if rep == 0:
            log("   warm-up: minimal %.0f ms, kelso %.0f ms" % ((t_mapped - t0) * 1000, (k_mapped - k0) * 1000))
            continue
        mini.append(t_mapped - t0)
        kel.append(k_mapped - k0)
        kel_started.append(t_started - k0)
        kel_show.append(k_mapped - t_started)
        log("   run %d: minimal %6.0f ms   kelso %6.0f ms  ('started' logged at %.0f ms, then Show call to mapped %.0f ms)"
            % (rep, (t_mapped - t0) * 1000, (k_mapped - k0) * 1000, (t_started - k0) * 1000,
               (k_mapped - t_started) * 1000))
    ratio = statistics.median(kel) / statistics.median(mini)
    log("   median: minimal Qt window %.0f ms, kelso %.0f ms -> ratio %.2fx (target <= 1.5x) %s"
        % (median_ms(mini), median_ms(kel), ratio, "OK" if ratio <= 1.5 else "OVER TARGET"))
    log("   kelso split (medians): start to 'started' %.0f ms; 'started' seen to window mapped (D-Bus Show call included) %.0f ms"
        % (median_ms(kel_started), median_ms(kel_show)))
    # The same with both stores moved aside: what the 200 items add to the start.
    support = os.path.join(s.env["XDG_DATA_HOME"], "Kelso")
    aside = os.path.join(s.tmp, "stores-aside")
    os.makedirs(aside, exist_ok=True)
    for name in ("recentItems.plist", "coolerItems.plist"):
        shutil.move(os.path.join(support, name), os.path.join(aside, name))
    empty = []
    try:
        for rep in range(min(runs, 5)):
            kproc, k0, started = s.start_kelso()
            s.show_kelso(kproc, started)
            k_mapped = s.watcher.wait_viewable(KELSO_TITLE, 30, min_width=300)
            if k_mapped is None:
                raise RuntimeError("the Kelso window did not appear")
            s.quit_kelso(kproc)
            empty.append(k_mapped - k0)
    finally:
        for name in ("recentItems.plist", "coolerItems.plist"):
            if os.path.exists(os.path.join(support, name)):
                os.remove(os.path.join(support, name))
            shutil.move(os.path.join(aside, name), os.path.join(support, name))
    log("   kelso with empty lists (stores moved aside, %d runs): median %.0f ms (%s ms) -> %.2fx the minimal window"
        % (len(empty), median_ms(empty), " ".join("%.0f" % (e * 1000) for e in empty),
           statistics.median(empty) / statistics.median(mini)))
    return ratio


def start_shown_kelso(s):
    kproc, _, started = s.start_kelso()
    s.show_kelso(kproc, started)
    if s.watcher.wait_viewable(KELSO_TITLE, 30, min_width=300) is None:
        raise RuntimeError("the Kelso window did not appear")
    # Kelso hides when another window takes the focus: keep the band in front.
    wins = s.xdotool("search", "--onlyvisible", "--name", "^%s$" % KELSO_TITLE).stdout.split()
    if wins:
        s.xdotool("windowactivate", "--sync", wins[-1])
    return kproc


class MainThreadTrace:
    """strace on the main thread only (its id is the process id; no -f, so no other thread)."""

    def __init__(self, s, pid, label):
        self.path = os.path.join(s.tmp, "strace-%s.txt" % label)
        self.proc = subprocess.Popen(["strace", "-tt", "-y", "-e", "trace=%file,read,readv,pread64",
                                      "-o", self.path, "-p", str(pid)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # strace prints "attached" once it traces the thread.
        wait_for(lambda: os.path.exists(self.path), 10)
        time.sleep(0.3)

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        with open(self.path, errors="replace") as f:
            return f.read().splitlines()


def classify(lines):
    """Splits a trace into reads of sockets/pipes/event descriptors and file-system accesses."""
    other = collections.Counter()
    disk = collections.Counter()
    for line in lines:
        m = re.match(r"^\S+ (\w+)\((.*)", line)
        if not m:
            continue
        call, rest = m.groups()
        if call in ("read", "readv", "pread64"):
            fd = re.match(r"(\d+)(<[^>]*>)?", rest)
            target = fd.group(2) if fd and fd.group(2) else "<fd %s>" % (fd.group(1) if fd else "?")
            if re.match(r"<(socket|pipe|anon_inode|UNIX|TCP|UDP|\[)", target) or "socket:[" in target \
                    or "pipe:[" in target or "anon_inode:" in target:
                other["%s %s" % (call, re.sub(r"\[\d+\]", "[...]", target))] += 1
            else:
                disk["%s %s" % (call, target)] += 1
        else:
            path = re.search(r'"([^"]*)"', rest)
            disk["%s %s" % (call, path.group(1) if path else rest[:60])] += 1
    return other, disk


def report_trace(label, lines):
    other, disk = classify(lines)
    log("   %s: %d traced calls on the main thread" % (label, sum(other.values()) + sum(disk.values())))
    for key, n in other.most_common():
        log("      %5d  %s" % (n, key))
    if not disk:
        log("      no file-system access")
    else:
        log("      file-system accesses (%d):" % sum(disk.values()))
        for key, n in disk.most_common(40):
            log("      %5d  %s" % (n, key))
        if len(disk) > 40:
            log("      ... and %d more distinct" % (len(disk) - 40))
    return disk


def section_memory_and_scroll(s, do_memory, do_scroll):
    kproc = start_shown_kelso(s)
    pid = kproc.pid
    wait_quiet(pid, quiet_for=1.0, timeout=60)
    n, stacks = s.recent_count()
    grids = grid_points(s)
    recent_rows = -(-(n or 0) // 9)
    cooler_rows = -(-(s.cooler_count() or 0) // 9)
    log("\n== The shown window: recent grid %s cells (%s rows of 9, 2 visible), Cooler %s cells (%s rows, 1 visible)"
        % (n, recent_rows, s.cooler_count(), cooler_rows))
    shown = proc_status(pid)
    s.screenshot("shown")
    log("   just shown, first rows painted: VmRSS %.1f MB" % (shown["VmRSS"] / 1024))

    cold_trace = MainThreadTrace(s, pid, "cold") if do_scroll else None
    # Through both grids a row at a time, so that every cell gets painted and asks for its
    # thumbnail.
    top_items = s.recent_items()
    walk_grid(s, pid, grids["recent"][0], recent_rows)
    walk_grid(s, pid, grids["cooler"][0], cooler_rows)
    # Then into the stack (a double click on it), and through its files.
    stack_files = 0
    stacks = [i for i, item in enumerate(top_items) if item.get("stack")]
    if stacks and stacks[0] < 18:
        index = stacks[0]
        scroll(s, grids["recent"][1], recent_rows + 2, 4)
        wait_quiet(pid, quiet_for=0.6, timeout=20)
        cx = grids["recent"][0][0] + (index % 9) * CELL_W
        cy = grids["recent"][0][1] + (index // 9) * CELL_H
        s.xdotool("mousemove", "--sync", str(cx), str(cy))
        s.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        stack_path = top_items[index]["path"] + "/"
        inside = wait_for(lambda: (lambda items: len(items) > 1 and all(i["path"].startswith(stack_path)
                                                                         for i in items) and items)(s.recent_items()),
                          15, 0.3)
        if inside:
            stack_files = len(inside)
            walk_grid(s, pid, grids["recent"][0], -(-stack_files // 9))
        else:
            log("   (could not step into the stack; its files are left out)")
    cold = cold_trace.stop() if cold_trace else None
    wait_quiet(pid, quiet_for=1.5, timeout=60)
    wait_rss_settled(pid)
    st = proc_status(pid)
    if do_memory:
        singles = sum(1 for i in top_items if not i.get("stack"))
        log("\n== Memory with every cell painted, settled: %d thumbnails asked for (%d recent files, %d files "
            "inside the stack, %s Cooler items)" % (singles + stack_files + (s.cooler_count() or 0), singles,
                                                    stack_files, s.cooler_count()))
        log("   VmRSS %.1f MB (anonymous %.1f, file-backed %.1f, shared %.1f), VmHWM %.1f MB, %d threads"
            % (st["VmRSS"] / 1024, st.get("RssAnon", 0) / 1024, st.get("RssFile", 0) / 1024,
               st.get("RssShmem", 0) / 1024, st["VmHWM"] / 1024, st.get("Threads", 0)))
        log("   target: under 150 MB -> %s" % ("OK" if st["VmRSS"] < 150 * 1024 else "OVER TARGET"))
        s.screenshot("scrolled")

    if do_scroll:
        warm_trace = MainThreadTrace(s, pid, "warm")
        # Up and down again with every thumbnail in memory, at wheel speed.
        for grid, rows in (("cooler", cooler_rows), ("recent", recent_rows)):
            scroll(s, grids[grid][1], rows, 4)
            scroll(s, grids[grid][1], rows, 5)
        time.sleep(0.5)
        s.screenshot("wheel")
        warm = warm_trace.stop()
        log("\n== Main-thread file access while scrolling (strace -p %d, main thread only)" % pid)
        cold_disk = report_trace("down through both grids while the thumbnails arrive", cold)
        warm_disk = report_trace("up and down again with all thumbnails in memory", warm)
        log("   (X and D-Bus traffic goes through recvmsg/sendmsg, not traced; /etc/localtime, /etc/TZ and\n"
            "   /etc/timezone are the C library's and Qt's checks for a changed time zone, made each time a\n"
            "   local date or the system time zone is asked for)")
        log("   verdict: %s" % ("no file-system access on the main thread while scrolling"
                                if not cold_disk and not warm_disk else
                                "the main thread touched the file system while scrolling (listed above)"))
    after = proc_status(pid)
    if do_memory:
        log("   after the scrolling: VmRSS %.1f MB, VmHWM %.1f MB" % (after["VmRSS"] / 1024, after["VmHWM"] / 1024))
    s.quit_kelso(kproc)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kelso", default="build/default/bin/kelso")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--keep-home", action="store_true")
    parser.add_argument("--out", help="folder that receives the kelso log, the strace logs and screenshots")
    parser.add_argument("sections", nargs="*", metavar="startup|memory|scroll")
    args = parser.parse_args()
    sections = set(args.sections or ["startup", "memory", "scroll"])
    unknown = sections - {"startup", "memory", "scroll"}
    if unknown:
        parser.error("unknown section(s): " + " ".join(sorted(unknown)))
    if os.environ.get("KELSO_BENCH_INNER") != "1":
        missing = [t for t in ("Xvfb", "openbox", "xcompmgr", "trayer", "xdotool", "dbus-run-session", "convert",
                               "g++", "pkg-config") + (("strace",) if "scroll" in sections else ())
                   if not shutil.which(t)]
        if missing:
            print("window_bench: missing tools: %s (scripts/install-deps.sh installs them)" % " ".join(missing))
            return 1
        if not os.access(args.kelso, os.X_OK):
            print("window_bench: no kelso binary at %s" % args.kelso)
            return 1
        env = dict(os.environ, KELSO_BENCH_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)

    s = Session(args.kelso, keep_home=args.keep_home, out=args.out)
    try:
        log("Kelso window benchmark: %s" % s.kelso_bin)
        log("   machine: %d CPUs, load %s" % (os.cpu_count(), " ".join(open("/proc/loadavg").read().split()[:3])))
        t = time.monotonic()
        recent, cooler = s.prepare_home()
        log("   prepared %d recent and %d Cooler JPEGs (640x480) in %.1f s; home %s"
            % (len(recent), len(cooler), time.monotonic() - t, s.home))
        minimal = s.build_minimal() if "startup" in sections else None
        s.start_display()
        if "startup" in sections:
            section_startup(s, minimal, args.runs)
        if "memory" in sections or "scroll" in sections:
            section_memory_and_scroll(s, "memory" in sections, "scroll" in sections)
    finally:
        s.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
