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
import os
import plistlib
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCENARIOS = {}


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
        })
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        for d in ("Documents", "Downloads", "Desktop"):
            os.makedirs(os.path.join(self.home, d), exist_ok=True)
        self.helpers = []
        self.kelso_procs = []
        self.log_path = os.path.join(self.out, name + ".kelso.log")
        self.log = open(self.log_path, "w")
        self.shots = 0

    # ---- display --------------------------------------------------------------------------
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
        check(number.strip(), "Xvfb did not start")
        self.helpers.append(xvfb)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        self.helpers.append(subprocess.Popen(["openbox"], **quiet))
        self.helpers.append(subprocess.Popen(["xcompmgr", "-n"], **quiet))
        self.helpers.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--width", "10",
                                              "--height", "24", "--SetDockType", "true", "--transparent", "false"],
                                             **quiet))
        time.sleep(1.5)  # let the window manager and the tray claim their selections

    # ---- kelso ----------------------------------------------------------------------------
    def start_kelso(self, *args, env=None):
        proc = subprocess.Popen([self.kelso_bin, *args], stdout=self.log, stderr=subprocess.STDOUT,
                                env=env or self.env)
        self.kelso_procs.append(proc)
        return proc

    def kelso(self, *args, timeout=30, env=None):
        return subprocess.run([self.kelso_bin, *args], capture_output=True, text=True, timeout=timeout,
                              env=env or self.env)

    def wait_started(self, proc, timeout=30):
        ok = wait_for(lambda: "Kelso: started" in self.read_log() or proc.poll() is not None, timeout)
        check(ok and proc.poll() is None, "kelso did not start; log:\n" + self.read_log())

    def quit_kelso(self, proc, timeout=20):
        r = self.kelso("quit")
        check(r.returncode == 0, "kelso quit failed: %s" % r.stderr)
        try:
            proc.wait(timeout)
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

    def kelso_pids(self):
        """Processes running our binary with this session's home."""
        pids = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                exe = os.readlink("/proc/%s/exe" % pid)
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
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
    deadline = time.time() + timeout
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
    check(wait_for(lambda: s.settings() is not None, 10), "no settings file after the first launch")
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
    subprocess.run(["xdotool", "windowactivate", "--sync", window], env=s.env, capture_output=True, timeout=10)
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelso", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    if os.environ.get("KELSO_E2E_INNER") != "1":
        # Each scenario gets a session bus of its own.
        env = dict(os.environ, KELSO_E2E_INNER="1")
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)
    s = Session(args.kelso, args.out, args.scenario)
    ok = False
    try:
        SCENARIOS[args.scenario](s)
        ok = True
        print("PASS %s" % args.scenario)
    except Failure as e:
        print("FAIL %s: %s" % (args.scenario, e))
        s.screenshot("failure")
        print("--- kelso log ---\n" + s.read_log())
    finally:
        s.close(keep_home=not ok)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
