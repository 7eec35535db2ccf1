#!/usr/bin/env python3
"""End-to-end scenarios for Kelso.

Each scenario runs the real `kelso` binary the way a user would: inside its own
`dbus-run-session`, on its own Xvfb display with openbox (window manager), xcompmgr
(compositing, so translucent windows blend) and trayer (a system tray), with HOME and the XDG
variables pointed at a fresh folder. The fresh home lies in the real user's home folder: not
under /tmp or /var (system roots that Kelso's rules ignore) and not in a hidden folder.

Screenshots are saved next to the test log in the artifacts folder given by --out.

    kelso_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import argparse
import json
import os
import plistlib
import re
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCENARIOS = {}

# Under AddressSanitizer Kelso starts and works a few times slower: `make test-e2e-asan` sets
# KELSO_E2E_TIME_FACTOR, which stretches every wait for Kelso (wait_for, command-line calls).
TIME_FACTOR = max(1.0, float(os.environ.get("KELSO_E2E_TIME_FACTOR") or 1))


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Session:
    """A fresh home, a display with a window manager, compositor and tray, and Kelso runs."""

    def __init__(self, kelso, out, name):
        self.kelso_bin = os.path.abspath(kelso)
        self.out = os.path.abspath(out)
        self.name = name
        os.makedirs(self.out, exist_ok=True)
        base = os.path.join(pwd.getpwuid(os.getuid()).pw_dir, "kelso-e2e-homes")
        os.makedirs(base, exist_ok=True)
        self.home = tempfile.mkdtemp(prefix=name + "-", dir=base)
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
            # The log then tells why the window came or went when a scenario fails, and what the
            # shell did (started, tray or window mode); log_area() adds one more area.
            "QT_LOGGING_RULES": "kelso.activation.debug=true;kelso.app.info=true",
        })
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        for d in ("Documents", "Downloads", "Desktop"):
            os.makedirs(os.path.join(self.home, d), exist_ok=True)
        self.helpers = []
        self.kelso_procs = []
        self.log_path = os.path.join(self.out, name + ".kelso.log")
        self.log = open(self.log_path, "w")
        self.shots = 0
        self.log_mark = 0

    # ---- display --------------------------------------------------------------------------
    def start_display(self, tray=True):
        """Xvfb, openbox and xcompmgr; with `tray`, trayer too (without it the desktop has no
        system tray, as stock GNOME)."""
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
        check(number.strip(), "Xvfb did not start")
        self.helpers.append(xvfb)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        self.helpers.append(subprocess.Popen(["openbox"], **quiet))
        self.helpers.append(subprocess.Popen(["xcompmgr", "-n"], **quiet))
        if tray:
            self.start_tray()
        time.sleep(1.5)  # let the window manager and the tray claim their selections

    def start_tray(self):
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        self.helpers.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--width", "10",
                                              "--height", "24", "--SetDockType", "true", "--transparent", "false"],
                                             **quiet))

    # ---- kelso ----------------------------------------------------------------------------
    def log_area(self, area, level="debug"):
        """Switches on one more logging area (kelso.AREA) for the Kelso started next."""
        self.env["QT_LOGGING_RULES"] += ";kelso.%s.%s=true" % (area, level)

    def start_kelso(self, *args, env=None):
        # The log keeps earlier instances' lines: wait_started only looks past this mark.
        self.log_mark = len(self.read_log())
        proc = subprocess.Popen([self.kelso_bin, *args], stdout=self.log, stderr=subprocess.STDOUT,
                                env=env or self.env)
        self.kelso_procs.append(proc)
        return proc

    def kelso(self, *args, timeout=30, env=None):
        return subprocess.run([self.kelso_bin, *args], capture_output=True, text=True, timeout=timeout * TIME_FACTOR,
                              env=env or self.env)

    def wait_started(self, proc, timeout=30):
        ok = wait_for(lambda: "kelso[app]: started" in self.read_log()[self.log_mark:] or proc.poll() is not None,
                      timeout)
        check(ok and proc.poll() is None, "kelso did not start; log:\n" + self.read_log())

    def quit_kelso(self, proc, timeout=20):
        r = self.kelso("quit")
        check(r.returncode == 0, "kelso quit failed: %s" % r.stderr)
        try:
            proc.wait(timeout * TIME_FACTOR)
        except subprocess.TimeoutExpired:
            raise Failure("kelso did not exit after 'kelso quit'")
        check(proc.returncode == 0, "kelso exited with %s" % proc.returncode)

    def read_log(self):
        self.log.flush()
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def settings(self):
        path = os.path.join(self.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return plistlib.load(f)

    def visible_windows(self, name):
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], capture_output=True,
                           text=True, env=self.env)
        return [w for w in r.stdout.split() if w]

    def screenshot(self, label):
        self.shots += 1
        path = os.path.join(self.out, "%s-%02d-%s.png" % (self.name, self.shots, label))
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True, timeout=30)
        return path

    # ---- files and queries -----------------------------------------------------------------
    def make_jpeg(self, path, size="640x480", colours="red-blue"):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        r = subprocess.run(["/usr/bin/convert", "-size", size, "gradient:" + colours, path], capture_output=True,
                           env=self.env, timeout=60)
        check(r.returncode == 0 and os.path.exists(path), "cannot make %s: %s" % (path, r.stderr))
        return path

    def make_pdf(self, path, text="Kelso"):
        """A one-page PDF with a line of text, written by hand (ImageMagick may not write PDF)."""
        os.makedirs(os.path.dirname(path), exist_ok=True)
        content = ("BT /F1 48 Tf 72 600 Td (%s) Tj ET" % text).encode()
        objects = [
            b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
            b"/Resources << /Font << /F1 5 0 R >> >> >>",
            b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
            b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        ]
        out = b"%PDF-1.4\n"
        offsets = []
        for i, body in enumerate(objects, 1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
        for o in offsets:
            out += b"%010d 00000 n \n" % o
        out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
        with open(path, "wb") as f:
            f.write(out)
        return path

    def dbus_call(self, method, *args):
        """Calls a method of the running Kelso; answers the reply printed literally."""
        r = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=com.tallow.kelso",
                            "/com/tallow/kelso", "com.tallow.kelso.App." + method, *args],
                           capture_output=True, text=True, env=self.env, timeout=30)
        check(r.returncode == 0, "D-Bus %s failed: %s" % (method, r.stderr))
        return r.stdout.strip()

    def recent_items(self, folder=""):
        return json.loads(self.dbus_call("RecentItems", "string:" + folder) or "[]")

    def shown_recent_items(self):
        """What the Recent Files grid shows now (inside a stack, the stack's files)."""
        return json.loads(self.dbus_call("ShownRecentItems") or "[]")

    def cooler_items(self):
        r = self.kelso("cooler", "--json")
        check(r.returncode == 0, "kelso cooler --json failed: %s" % r.stderr)
        return json.loads(r.stdout)

    def window_geometry(self, name="^Kelso$"):
        # A window being shown again is briefly unmapped: give it a moment.
        wins = []
        wait_for(lambda: wins.extend(self.visible_windows(name)) or wins, 5)
        check(wins, "no visible window %s" % name)
        # xwininfo, not `xdotool getwindowgeometry`: the latter counts a window manager's frame
        # twice for a decorated window.
        r = subprocess.run(["xwininfo", "-id", wins[0]], capture_output=True, text=True, env=self.env)
        g = {}
        for line in r.stdout.splitlines():
            key, _, value = line.strip().partition(":")
            g[key] = value.strip()
        return (int(g["Absolute upper-left X"]), int(g["Absolute upper-left Y"]), int(g["Width"]),
                int(g["Height"]))

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], capture_output=True, text=True, env=self.env, timeout=30)

    def active_window(self):
        return self.xdotool("getactivewindow").stdout.strip()

    def activate(self, win, timeout=20):
        """Gives a window the focus and waits until the window manager reports it active.
        (`windowactivate --sync` gives up quietly after a while, and a busy window manager may
        drop a request for a window it is still framing: ask again until it holds.)"""
        def active():
            if self.active_window() == win:
                return True
            self.xdotool("windowactivate", win)
            return False
        check(wait_for(active, timeout, 0.25),
              "window %s did not become active (active: %s)" % (win, self.active_window() or "none"))

    def window_tree(self):
        return subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True, env=self.env,
                              timeout=30).stdout

    def kelso_pids(self, include_workers=False):
        """Processes running our binary with this session's home (with the thumbnail decoders,
        which are the same binary in another role, only when asked)."""
        pids = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                exe = os.readlink("/proc/%s/exe" % pid)
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    argv = f.read().split(b"\0")
            except OSError:
                continue
            # The thumbnail decoders are the same binary in another role, not other instances.
            if b"--thumbnail-worker" in argv and not include_workers:
                continue
            if exe == self.kelso_bin and ("HOME=" + self.home).encode() in environ:
                pids.append(int(pid))
        return pids

    def close(self, keep_home=False):
        for p in self.kelso_procs:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        for p in reversed(self.helpers):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
        self.log.close()
        if not keep_home:
            shutil.rmtree(self.home, ignore_errors=True)


def wait_for(condition, timeout=15.0, step=0.1):
    deadline = time.time() + timeout * TIME_FACTOR
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(step)
    return bool(condition())


# ---- scenarios ----------------------------------------------------------------------------

@scenario
def first_launch(s):
    """First launch writes the settings file; quitting leaves KLVirginLaunch false."""
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    # (The recent list may write the file first, with what its start handled.)
    check(wait_for(lambda: (s.settings() or {}).get("launchCount") is not None, 10),
          "no launch count in the settings after the first launch: %r" % s.settings())
    prefs = s.settings()
    check(prefs.get("launchCount") == 1, "launchCount is %r, expected 1" % prefs.get("launchCount"))
    r = s.kelso("show")
    check(r.returncode == 0, "kelso show failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the Kelso window did not appear on 'kelso show'")
    s.screenshot("shown")
    s.quit_kelso(proc)
    check(s.settings().get("KLVirginLaunch") is False, "KLVirginLaunch is not false after quitting")


@scenario
def crash_consent(s):
    """The third launch asks for crash-report consent once; after an answer never again."""
    s.start_display()
    for launch in (1, 2):
        proc = s.start_kelso()
        s.wait_started(proc)
        time.sleep(2.5)  # past the 2-second consent timer
        check(not s.visible_windows("Crash Reports"), "consent asked on launch %d" % launch)
        s.quit_kelso(proc)
    proc = s.start_kelso()
    s.wait_started(proc)
    check(wait_for(lambda: s.visible_windows("Crash Reports"), 15), "no consent question on the third launch")
    s.screenshot("consent")
    window = s.visible_windows("Crash Reports")[0]
    s.activate(window)
    subprocess.run(["xdotool", "key", "--window", window, "Return"], env=s.env, capture_output=True, timeout=10)
    check(wait_for(lambda: (s.settings() or {}).get("bugsnagHaveAsked") is True, 10), "the answer was not recorded")
    check(s.settings().get("bugsnagCanSendReports") is True, "'Yes' did not allow crash reports")
    s.quit_kelso(proc)
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(3.5)
    check(not s.visible_windows("Crash Reports"), "consent asked again after an answer")
    check("asking for crash-report consent" not in s.read_log().split("crash reporting allowed")[-1],
          "consent asked again after an answer (log)")
    s.quit_kelso(proc)


@scenario
def single_instance(s):
    """A second kelso hands over to the first; kelso FILE shows the window with the file."""
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    second = s.kelso()
    check(second.returncode == 0, "second kelso failed: " + second.stderr)
    check(len(s.kelso_pids()) == 1, "a second instance is running: %r" % s.kelso_pids())
    doc = os.path.join(s.home, "Documents", "handed over.txt")
    with open(doc, "w") as f:
        f.write("hello")
    r = s.kelso(doc)
    check(r.returncode == 0, "kelso FILE failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "window not shown for handed-over files")
    check(len(s.kelso_pids()) == 1, "kelso FILE started a second instance")
    s.screenshot("handed-over")
    s.quit_kelso(proc)
    check(wait_for(lambda: not s.kelso_pids(), 10), "kelso still running after quit")


@scenario
def termination_signal(s):
    """SIGTERM runs the normal termination: the settings are saved and KLVirginLaunch is false."""
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    proc.send_signal(signal.SIGTERM)
    proc.wait(20)
    check(proc.returncode == 0, "kelso exited with %s after SIGTERM" % proc.returncode)
    check((s.settings() or {}).get("KLVirginLaunch") is False, "KLVirginLaunch is not false after SIGTERM")


@scenario
def command_line_errors(s):
    """Usage errors exit 2; control commands without a running Kelso and no display exit 1."""
    r = s.kelso("--bogus")
    check(r.returncode == 2 and "unknown option" in r.stderr, "--bogus: %d %s" % (r.returncode, r.stderr))
    r = s.kelso("no-such-command-or-file")
    check(r.returncode == 2, "unknown word: exit %d" % r.returncode)
    r = s.kelso("show")
    check(r.returncode == 1 and "not running" in r.stderr, "show without Kelso: %d %s" % (r.returncode, r.stderr))
    env = dict(s.env)
    env.pop("DISPLAY", None)
    env["DISPLAY"] = ":987"
    r = s.kelso(env=env, timeout=30)
    check(r.returncode == 1 and "cannot open display" in r.stderr,
          "no display: %d %s" % (r.returncode, r.stderr))
    r = s.kelso("--version")
    check(r.returncode == 0 and r.stdout.startswith("kelso "), "--version: " + r.stdout)


# ---- the main window ----------------------------------------------------------------------

def cooler_cell_centre(s, index):
    """The screen point of a Cooler cell's picture centre: the Cooler grid fills the bottom of the
    band (6-point margins), cells are 148 x 158 with the 112-point picture area 6 points down."""
    x, y, w, h = s.window_geometry()
    grid_top = y + h - 6 - (158 + 6)
    grid_left = x + 6
    return grid_left + index * 148 + 74, grid_top + 6 + 56


@scenario
def tray_icon(s):
    """In tray mode Kelso puts its icon into the system tray and shows no window at start."""
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    check("started (tray mode)" in s.read_log(), "Kelso did not start in tray mode:\n" + s.read_log())
    check(wait_for(lambda: tray_icon_centre(s) is not None, 15), "no Kelso icon in the tray:\n" + s.window_tree())
    check(not s.visible_windows("^Kelso$"), "the main window shows at start-up")
    s.screenshot("tray")
    # A click on the icon brings the window; another one hides it.
    x, y = tray_icon_centre(s)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "1")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "a click on the tray icon did not show the window")
    s.screenshot("tray-click")
    time.sleep(0.5)
    s.xdotool("click", "1")
    check(wait_for(lambda: not s.visible_windows("^Kelso$"), 10), "a second click on the tray icon did not hide it")
    s.quit_kelso(proc)


@scenario
def main_window(s):
    """`kelso show` brings up the band: recent files with thumbnails above, the Cooler below."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    photos = os.path.join(s.home, "Downloads", "photos")
    os.makedirs(photos)
    # Made in a hidden folder (not watched), then moved in at once: one busy change.
    staging = os.path.join(s.home, ".staging")
    for i in range(8):
        s.make_jpeg(os.path.join(staging, "IMG_%04d.jpg" % i), "320x240",
                    ["red-yellow", "green-blue", "white-black", "pink-teal"][i % 4])
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1)
    for name in sorted(os.listdir(staging)):
        os.rename(os.path.join(staging, name), os.path.join(photos, name))
    s.make_jpeg(os.path.join(docs, "sunset.jpg"), "800x600", "orange-purple")
    s.make_jpeg(os.path.join(docs, "sea.jpg"), "600x600", "skyblue-navy")
    s.make_pdf(os.path.join(docs, "invoice.pdf"), "Invoice 2026")
    s.make_pdf(os.path.join(docs, "notes.pdf"), "Meeting notes")
    kept = s.make_jpeg(os.path.join(s.home, "Desktop", "kept.jpg"), "500x500", "gold-darkgreen")
    r = s.kelso("cooler", "add", kept, os.path.join(docs, "notes.pdf"))
    check(r.returncode == 0, "kelso cooler add failed: " + r.stderr)
    r = s.kelso("show")
    check(r.returncode == 0, "kelso show failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear on 'kelso show'")
    x, y, w, h = s.window_geometry()
    check(x == 40 and w == 1440 - 80, "the band is not full width with 40-point insets: %r" % ((x, y, w, h),))
    check(abs((y + h / 2) - 450) <= 15, "the band is not centred vertically: %r" % ((x, y, w, h),))

    def recent_paths():
        return [i["path"] for i in s.recent_items()]
    want = [os.path.join(docs, n) for n in ("sunset.jpg", "sea.jpg", "invoice.pdf")]
    check(wait_for(lambda: all(p in recent_paths() for p in want), 30),
          "the recent files do not list the new files: %r" % recent_paths())
    check(wait_for(lambda: any(i.get("stack") for i in s.recent_items()), 30),
          "the busy folder is not a stack: %r" % s.recent_items())
    items = s.recent_items()
    stacks = [i for i in items if i.get("stack")]
    check(stacks[0]["path"] == photos and len(stacks[0]["stack"]) == 8, "unexpected stack: %r" % stacks)
    cooler = [i["path"] for i in s.cooler_items()]
    check(cooler == [kept, os.path.join(docs, "notes.pdf")], "the Cooler holds %r" % cooler)
    time.sleep(3)  # thumbnails arrive through the 0.5-second redraw timer
    shot = s.screenshot("main-window")
    print("screenshot: " + shot)

    # Double-clicking the stack steps into it.
    stack_index = items.index(stacks[0])
    check(stack_index < 9, "stack beyond the first row")
    gx, gy = x + 6 + stack_index * 148 + 74, y + 6 + 30 + 2 + 6 + 56
    s.xdotool("mousemove", "--sync", str(gx), str(gy))
    s.xdotool("click", "--repeat", "2", "--delay", "80", "1")
    # RecentItems answers the collector's list, not what the window shows: compare the window
    # before and after (the stack's eight photos replace the four top-level cells).
    def window_changed():
        after = s.screenshot("inside-stack")
        r = subprocess.run(["compare", "-metric", "AE", shot, after, "null:"], capture_output=True, text=True)
        try:
            return float(r.stderr.split()[0]) > 20000
        except (ValueError, IndexError):
            return False
    check(wait_for(window_changed, 10, 1.0), "double-clicking the stack did not enter it")
    s.quit_kelso(proc)


@scenario
def escape_hides(s):
    """Escape hides the window; activating another window hides Kelso a second later."""
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    win = s.visible_windows("^Kelso$")[0]
    s.activate(win)
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Kelso$"), 5), "Escape did not hide the window")
    # Again, and this time another window takes the focus.
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not come back")
    other = subprocess.Popen(["xmessage", "-geometry", "300x100+500+50", "another program"], env=s.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.helpers.append(other)
    # The window manager unmaps a new window for a moment while it frames it: keep the id seen.
    seen = []
    check(wait_for(lambda: seen.extend(s.visible_windows("^xmessage$")) or seen, 10), "xmessage did not start")
    s.activate(seen[0])
    check(wait_for(lambda: not s.visible_windows("^Kelso$"), 5),
          "Kelso did not hide when another window became active")
    s.quit_kelso(proc)


@scenario
def open_files_to_cooler(s):
    """`kelso a.jpg b.pdf` while Kelso runs puts them first in the Cooler and shows the window."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    old = s.make_jpeg(os.path.join(docs, "old.jpg"))
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", old).returncode == 0, "cooler add failed")
    a = s.make_jpeg(os.path.join(docs, "a.jpg"), "400x300", "yellow-red")
    b = s.make_pdf(os.path.join(docs, "b.pdf"), "B")
    r = subprocess.run([s.kelso_bin, "a.jpg", "b.pdf"], cwd=docs, capture_output=True, text=True, env=s.env,
                       timeout=30)
    check(r.returncode == 0, "kelso a.jpg b.pdf failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not show for handed-over files")
    check(len(s.kelso_pids()) == 1, "a second instance is running")
    cooler = [i["path"] for i in s.cooler_items()]
    check(cooler == [a, b, old], "the Cooler holds %r" % cooler)
    s.screenshot("handed-over")
    s.quit_kelso(proc)


@scenario
def delete_badge(s):
    """The hover badge of a Cooler cell removes the item from the Cooler; the file stays."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    first = s.make_jpeg(os.path.join(docs, "first.jpg"), "600x600", "red-blue")
    second = s.make_jpeg(os.path.join(docs, "second.jpg"), "600x600", "green-white")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", first, second).returncode == 0, "cooler add failed")
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(2)  # the square thumbnails fill the picture area once they arrived
    cx, cy = cooler_cell_centre(s, 0)
    s.xdotool("mousemove", "--sync", str(cx), str(cy))
    time.sleep(0.5)
    # The badge: the 16-point square at the picture's top-left corner.
    bx, by = cx - 56 + 8, cy - 56 + 8
    s.xdotool("mousemove", "--sync", str(bx), str(by))
    time.sleep(0.5)
    s.screenshot("badge")
    s.xdotool("click", "1")
    check(wait_for(lambda: [i["path"] for i in s.cooler_items()] == [second], 10),
          "the badge did not remove the first item: %r" % s.cooler_items())
    check(os.path.exists(first), "the badge touched the file")
    s.quit_kelso(proc)


@scenario
def cooler_survives_restart(s):
    """The Cooler's order survives quitting, and a SIGKILL after the store was written."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    files = [s.make_pdf(os.path.join(docs, "doc%d.pdf" % i), "Doc %d" % i) for i in range(4)]
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", files[3]).returncode == 0, "cooler add failed")
    check(s.kelso("cooler", "add", files[1], files[0]).returncode == 0, "cooler add failed")
    check(s.kelso("cooler", "remove", files[3]).returncode == 0, "cooler remove failed")
    check(s.kelso("cooler", "add", files[2], files[3]).returncode == 0, "cooler add failed")
    order = [files[2], files[3], files[1], files[0]]
    check([i["path"] for i in s.cooler_items()] == order, "unexpected order %r" % s.cooler_items())
    s.quit_kelso(proc)
    store = os.path.join(s.env["XDG_DATA_HOME"], "Kelso", "coolerItems.plist")
    check(os.path.exists(store), "no Cooler store after quitting")
    # Without Kelso the tool reads the store.
    check([i["path"] for i in s.cooler_items()] == order, "the store holds %r" % s.cooler_items())

    proc = s.start_kelso()
    s.wait_started(proc)
    check([i["path"] for i in s.cooler_items()] == order, "after a restart the Cooler holds %r" % s.cooler_items())
    # A change, written by the first deactivation, then a hard kill.
    check(s.kelso("cooler", "remove", files[1]).returncode == 0, "cooler remove failed")
    order.remove(files[1])
    before = os.stat(store).st_mtime_ns
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    s.xdotool("key", "Escape")
    check(wait_for(lambda: os.stat(store).st_mtime_ns != before, 10), "the first deactivation did not write")
    proc.send_signal(signal.SIGKILL)
    proc.wait(10)
    proc = s.start_kelso()
    s.wait_started(proc)
    check([i["path"] for i in s.cooler_items()] == order, "after SIGKILL the Cooler holds %r" % s.cooler_items())
    s.quit_kelso(proc)


@scenario
def preview_space(s):
    """Space previews the selected cell; without the desktop previewer in Kelso's own window."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    photo = s.make_jpeg(os.path.join(docs, "look.jpg"), "600x400", "purple-orange")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", photo).returncode == 0, "cooler add failed")
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    cx, cy = cooler_cell_centre(s, 0)
    s.xdotool("mousemove", "--sync", str(cx), str(cy))
    s.xdotool("click", "1")
    s.xdotool("key", "space")
    check(wait_for(lambda: s.visible_windows("^look.jpg$"), 10), "Space did not open the preview")
    s.screenshot("preview")
    # The preview never takes the keyboard: Space again closes it, Escape hides Kelso.
    s.xdotool("key", "space")
    check(wait_for(lambda: not s.visible_windows("^look.jpg$"), 10), "Space again did not close the preview")
    s.xdotool("key", "space")
    check(wait_for(lambda: s.visible_windows("^look.jpg$"), 10), "Space did not open the preview again")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Kelso$"), 10), "Escape did not hide Kelso")
    check(wait_for(lambda: not s.visible_windows("^look.jpg$"), 10), "the preview stayed after Kelso hid")
    s.quit_kelso(proc)


@scenario
def trashed_leaves_cooler(s):
    """A Cooler file trashed by another program leaves the Cooler at the next activation."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    keep = s.make_pdf(os.path.join(docs, "keep.pdf"), "Keep")
    gone = s.make_pdf(os.path.join(docs, "gone.pdf"), "Gone")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", gone, keep).returncode == 0, "cooler add failed")
    r = subprocess.run(["gio", "trash", gone], capture_output=True, text=True, env=s.env, timeout=30)
    check(r.returncode == 0 and not os.path.exists(gone), "gio trash failed: " + r.stderr)
    time.sleep(3.5)  # the item's cached facts are refreshed at most every 3 seconds
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")

    def cooler_paths():
        return [i["path"] for i in s.cooler_items()]
    # The first activation may still see the old facts; a second one certainly sees the new.
    if not wait_for(lambda: cooler_paths() == [keep], 5):
        s.kelso("hide")
        check(wait_for(lambda: not s.visible_windows("^Kelso$"), 10), "hide failed")
        s.kelso("show")
    check(wait_for(lambda: cooler_paths() == [keep], 10), "the trashed file is still in the Cooler: %r" % cooler_paths())
    check(os.path.exists(keep), "the other file was touched")
    s.quit_kelso(proc)


# ---- menus --------------------------------------------------------------------------------
def kelso_windows(s):
    """Every visible top-level window of Kelso (main window, tray icon, open menus)."""
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "kelso"], capture_output=True,
                       text=True, env=s.env)
    return set(w for w in r.stdout.split() if w)


def wait_for_new_window(s, before, timeout=10):
    """Waits for a Kelso window that was not there before (a menu popping up); answers its id."""
    found = []
    def appeared():
        found[:] = sorted(kelso_windows(s) - before)
        return bool(found)
    return found[0] if wait_for(appeared, timeout) else None


def geometry_of(s, win):
    r = s.xdotool("getwindowgeometry", "--shell", win)
    g = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def recent_cell_centre(s, index):
    """The screen point of a recent-files cell's picture centre (first row of the upper grid)."""
    x, y, w, h = s.window_geometry()
    return x + 6 + index * 148 + 74, y + 6 + 30 + 2 + 6 + 56


def tray_icon_centre(s):
    lines = s.window_tree().splitlines()
    for i, line in enumerate(lines):
        if '("panel" "trayer")' not in line:
            continue
        depth = len(line) - len(line.lstrip())
        for inner in lines[i + 1:]:
            if len(inner) - len(inner.lstrip()) <= depth:
                break
            if '("kelso" "Kelso")' in inner:
                m = re.search(r"(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)", inner)
                if m:
                    w, h, x, y = map(int, m.groups())
                    return x + w // 2, y + h // 2
    return None


def show_with_recent(s, proc, wanted):
    """Shows the window and waits until the recent files list every path in `wanted`."""
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear on 'kelso show'")
    paths = lambda: [i["path"] for i in s.recent_items()]
    check(wait_for(lambda: all(p in paths() for p in wanted), 40),
          "the recent files do not list %r: %r" % (wanted, paths()))
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(1)


@scenario
def never_show_extension(s):
    """Choosing the never-show entry for report.pdf in a cell's context menu adds "pdf" to the
    never-show extensions and the recent list drops the file while Kelso keeps running."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1)
    notes = os.path.join(docs, "notes.txt")
    with open(notes, "w") as f:
        f.write("notes\n")
    time.sleep(1.2)
    report = s.make_pdf(os.path.join(docs, "report.pdf"), "Quarterly report")
    show_with_recent(s, proc, [report, notes])
    index = [i["path"] for i in s.recent_items()].index(report)
    check(index < 9, "report.pdf is beyond the first row")
    before = kelso_windows(s)
    cx, cy = recent_cell_centre(s, index)
    s.xdotool("mousemove", "--sync", str(cx), str(cy))
    s.xdotool("click", "3")
    menu = wait_for_new_window(s, before)
    check(menu, "a right-click on report.pdf opened no menu")
    time.sleep(0.5)
    shot = s.screenshot("context-menu")
    print("screenshot: " + shot)
    # The last entries of a recent file's menu, bottom up: Preferences…, Move to Trash, Remove
    # from Kelso, the folder submenu, "Never Show <name>", "Never Show “.pdf” Files". With no entry
    # active yet, the first Up selects the last entry.
    for _ in range(6):
        s.xdotool("key", "Up")
    time.sleep(0.3)
    s.screenshot("never-show-entry")
    s.xdotool("key", "Return")
    settings = lambda: s.settings() or {}
    check(wait_for(lambda: "pdf" in settings().get("unwantedExtensions", []), 10),
          "unwantedExtensions does not hold pdf: %r" % settings().get("unwantedExtensions"))
    check(report not in settings().get("unwantedItems", []), "the item entry was chosen instead")
    paths = lambda: [i["path"] for i in s.recent_items()]
    check(wait_for(lambda: report not in paths(), 10), "report.pdf is still listed: %r" % paths())
    check(notes in paths(), "notes.txt left the list as well: %r" % paths())
    check(os.path.exists(report), "the file itself was touched")
    r = s.kelso("recent", "--json")
    check(r.returncode == 0 and report not in [i["path"] for i in json.loads(r.stdout)],
          "kelso recent --json still lists report.pdf: %s %s" % (r.stdout, r.stderr))
    time.sleep(1)
    s.screenshot("after-never-show")
    s.quit_kelso(proc)


@scenario
def menus_reachable(s):
    """In tray mode: the status menu opens on a right-click on the tray icon, and a cell's context
    menu opens on a right-click, on the Menu key and on Shift+F10."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    a = s.make_jpeg(os.path.join(docs, "holiday.jpg"), "640x480", "orange-purple")
    proc = s.start_kelso()
    s.wait_started(proc)
    check("started (tray mode)" in s.read_log(), "Kelso did not start in tray mode")
    check(wait_for(lambda: tray_icon_centre(s) is not None, 15), "no Kelso icon in the tray")
    check(s.kelso("cooler", "add", a).returncode == 0, "cooler add failed")

    # The status menu.
    before = kelso_windows(s)
    x, y = tray_icon_centre(s)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "3")
    menu = wait_for_new_window(s, before)
    check(menu, "a right-click on the tray icon opened no menu")
    mx, my, mw, mh = geometry_of(s, menu)
    # Open Kelso, Check for Updates, Search Tags, Open at Login, nine selection commands and Quit.
    check(mh > 13 * 16, "the status menu is too short to hold its entries: %r" % ((mx, my, mw, mh),))
    s.screenshot("status-menu")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: menu not in kelso_windows(s), 5), "the status menu did not close")

    # The Cooler cell's context menu: right-click, then the keyboard.
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(2)
    cx, cy = cooler_cell_centre(s, 0)
    s.xdotool("mousemove", "--sync", str(cx), str(cy))
    before = kelso_windows(s)
    s.xdotool("click", "3")
    menu = wait_for_new_window(s, before)
    check(menu, "a right-click on a Cooler cell opened no menu")
    time.sleep(0.5)
    s.screenshot("cooler-context-menu")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: menu not in kelso_windows(s), 5), "the context menu did not close")
    for key in ("Menu", "shift+F10"):
        before = kelso_windows(s)
        s.xdotool("key", key)
        menu = wait_for_new_window(s, before)
        check(menu, "%s opened no context menu for the selected cell" % key)
        s.xdotool("key", "Escape")
        check(wait_for(lambda: menu not in kelso_windows(s), 5), "the context menu did not close")

    # The Cooler's file picker ("Add File", right end of the Cooler's header) opens its places.
    x, y, w, h = s.window_geometry()
    px, py = x + w - 53, y + h - 6 - 164 - 15
    before = kelso_windows(s)
    s.xdotool("mousemove", "--sync", str(px), str(py))
    s.xdotool("click", "1")
    menu = wait_for_new_window(s, before)
    check(menu, "a click on the file picker at %d,%d opened no menu" % (px, py))
    time.sleep(0.4)
    s.screenshot("file-picker")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: menu not in kelso_windows(s), 5), "the file picker menu did not close")
    s.quit_kelso(proc)


@scenario
def dock_mode_menu_bar(s):
    """With KPRunInDock on, Kelso starts as a normal window whose menu bar opens its menus."""
    os.makedirs(s.env["XDG_CONFIG_HOME"], exist_ok=True)
    with open(os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist"), "wb") as f:
        plistlib.dump({"KPRunInDock": True}, f, fmt=plistlib.FMT_BINARY)
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    kept = s.make_jpeg(os.path.join(docs, "kept.jpg"), "500x500", "gold-darkgreen")
    proc = s.start_kelso()
    s.wait_started(proc)
    check("started (window mode)" in s.read_log(), "Kelso did not start in dock mode:\n" + s.read_log())
    check(s.kelso("cooler", "add", kept).returncode == 0, "cooler add failed")
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(1.5)
    x, y, w, h = s.window_geometry()
    s.screenshot("dock-window")
    # The menu bar's first menu ("Kelso") sits at the window's top-left corner.
    for mx, my, label in ((x + 22, y + 10, "kelso-menu"), (x + 70, y + 10, "file-menu")):
        before = kelso_windows(s)
        s.xdotool("mousemove", "--sync", str(mx), str(my))
        s.xdotool("click", "1")
        menu = wait_for_new_window(s, before)
        check(menu, "a click on the menu bar at %d,%d opened no menu" % (mx, my))
        time.sleep(0.4)
        s.screenshot(label)
        s.xdotool("key", "Escape")
        check(wait_for(lambda: menu not in kelso_windows(s), 5), "the menu did not close")
    s.quit_kelso(proc)


@scenario
def edit_tags(s):
    """Return on a selected Cooler cell opens the tag editor; what is typed there is written to the
    file's tags (read back with `kelso tags --json`)."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    photo = s.make_jpeg(os.path.join(docs, "beach.jpg"), "500x400", "skyblue-navy")
    r = s.kelso("tags", "set", "Holiday", photo)
    check(r.returncode == 0, "kelso tags set failed: " + r.stderr)
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", photo).returncode == 0, "cooler add failed")
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(1.5)
    cx, cy = cooler_cell_centre(s, 0)
    s.xdotool("mousemove", "--sync", str(cx), str(cy))
    s.xdotool("click", "1")
    time.sleep(0.3)
    s.xdotool("key", "Return")
    check(wait_for(lambda: s.visible_windows("^Tags of beach.jpg$"), 10), "Return opened no tag editor")
    editor = s.visible_windows("^Tags of beach.jpg$")[0]
    s.activate(editor)
    time.sleep(0.5)
    s.screenshot("tag-editor")
    # The field holds the file's tags; type one more: the first Return ends the tag, the
    # second writes and closes the editor.
    s.xdotool("type", "--delay", "30", "Sea")
    s.xdotool("key", "Return")
    time.sleep(0.3)
    s.xdotool("key", "Return")
    def tags():
        r = s.kelso("tags", "--json", photo)
        if r.returncode != 0:
            return None
        return sorted(t for item in json.loads(r.stdout) for t in item.get("tags", []))
    check(wait_for(lambda: tags() == ["Holiday", "Sea"], 10), "the file's tags are %r" % tags())
    check(wait_for(lambda: not s.visible_windows("^Tags of beach.jpg$"), 5), "the editor stayed open after saving")
    s.quit_kelso(proc)


@scenario
def drag_to_cooler(s):
    """Dragging a recent cell onto the Cooler adds it there; the file stays where it is."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    kept = s.make_jpeg(os.path.join(s.home, "Desktop", "kept.jpg"), "400x400", "gold-darkgreen")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", kept).returncode == 0, "cooler add failed")
    photo = s.make_jpeg(os.path.join(docs, "harbour.jpg"), "640x480", "skyblue-white")
    show_with_recent(s, proc, [photo])
    index = [i["path"] for i in s.recent_items()].index(photo)
    check(index < 9, "the new photo is beyond the first row: index %d" % index)
    sx, sy = recent_cell_centre(s, index)
    tx, ty = cooler_cell_centre(s, 3)  # empty space right of the Cooler's one item
    s.xdotool("mousemove", "--sync", str(sx), str(sy))
    s.xdotool("mousedown", "1")
    # Small steps: the drag starts once the pointer has moved a few points with the button down,
    # and the drop target follows the pointer through the window.
    steps = 12
    for k in range(1, steps + 1):
        s.xdotool("mousemove", "--sync", str(sx + (tx - sx) * k // steps), str(sy + (ty - sy) * k // steps))
        time.sleep(0.05)
    time.sleep(0.3)
    s.xdotool("mouseup", "1")
    check(wait_for(lambda: photo in [i["path"] for i in s.cooler_items()], 10),
          "the dragged photo did not join the Cooler: %r" % s.cooler_items())
    check(os.path.exists(photo) and os.path.exists(kept), "the drag moved or removed a file")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 5), "the window went away after a drop inside it")
    time.sleep(1)
    s.screenshot("dragged-to-cooler")
    s.quit_kelso(proc)


def run_main(scenarios, on_pass=None):
    """The command line of a scenario file: runs one scenario in a D-Bus session of its own,
    prints PASS or FAIL (with a screenshot and the end of Kelso's log), keeps the home of a
    failed run for a look."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelso", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("scenario", choices=sorted(scenarios))
    args = parser.parse_args()
    if os.environ.get("KELSO_E2E_INNER") != "1":
        # Each scenario gets a session bus of its own.
        env = dict(os.environ, KELSO_E2E_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)
    s = Session(args.kelso, args.out, args.scenario)
    ok = False
    try:
        scenarios[args.scenario](s)
        ok = True
        if on_pass:
            on_pass()
        print("PASS %s" % args.scenario)
    except Failure as e:
        print("FAIL %s: %s" % (args.scenario, e))
        s.screenshot("failure")
        print("--- kelso log ---\n" + s.read_log()[-20000:])
    finally:
        s.close(keep_home=not ok)
    return 0 if ok else 1


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
