#!/usr/bin/env python3
"""End-to-end scenarios for hostile things in the place of Kelso's stores and settings.

The real `kelso` runs in a fresh home under the same display, window manager, tray and private
D-Bus session as the other end-to-end scenarios (the Session class of kelso_e2e.py). Before it
starts, the settings file, the shared tag domain and both stores are replaced by FIFOs, sockets
or property lists nested 100,000 deep. Kelso must start, take its bus name, answer D-Bus, show
its window, move each bad file aside with one log line, and quit when asked. A last scenario
holds the settings lock from a process that is then stopped, and checks that D-Bus answers
stay prompt.

    stores_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import signal
import socket
import stat
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, run_main, wait_for  # noqa: E402

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


# ---- the files ------------------------------------------------------------------------------

def store_paths(s):
    config, data = s.env["XDG_CONFIG_HOME"], os.path.join(s.env["XDG_DATA_HOME"], "Kelso")
    os.makedirs(config, exist_ok=True)
    os.makedirs(data, exist_ok=True)
    return {
        "settings": os.path.join(config, "com.tallow.kelso.plist"),
        "shared tags": os.path.join(config, "com.lumitag.shared.plist"),
        "recent store": os.path.join(data, "recentItems.plist"),
        "Cooler store": os.path.join(data, "coolerItems.plist"),
    }


def deep_binary(levels):
    """`levels` nested arrays as a binary plist (about 900 KB for 100,000)."""
    objects = [bytes([0xA1]) + struct.pack(">I", i + 1) for i in range(levels - 1)] + [bytes([0x10, 1])]
    out = bytearray(b"bplist00")
    offsets = []
    for o in objects:
        offsets.append(len(out))
        out += o
    table = len(out)
    for o in offsets:
        out += struct.pack(">I", o)
    out += bytes(6) + bytes([4, 4]) + struct.pack(">QQQ", len(objects), 0, table)
    return bytes(out)


def deep_xml(levels):
    return (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n' + b"<array>" * (levels - 1) +
            b"<integer>1</integer>" + b"</array>" * (levels - 1) + b"\n</plist>\n")


def aside_copies(path):
    folder, name = os.path.split(path)
    return [os.path.join(folder, n) for n in os.listdir(folder) if n.startswith(name + ".corrupt-")]


def timed_kelso(s, *args, limit=10):
    """Runs a kelso command; fails when it does not finish within `limit` seconds."""
    started = time.monotonic()
    try:
        r = s.kelso(*args, timeout=limit)
    except subprocess.TimeoutExpired:
        raise Failure("`kelso %s` did not finish within %d s" % (" ".join(args), limit))
    return r, time.monotonic() - started


def answers_dbus(s):
    """Kelso holds its bus name and answers: the Cooler and the recent list come back."""
    r, took = timed_kelso(s, "cooler", "--json")
    check(r.returncode == 0, "kelso cooler --json failed: " + r.stderr)
    r, took2 = timed_kelso(s, "recent", "--json")
    check(r.returncode == 0, "kelso recent --json failed: " + r.stderr)
    check("did not answer" not in r.stderr, "the running Kelso did not answer: " + r.stderr)
    s.dbus_call("CoolerItems")
    return max(took, took2)


def start_show_and_check(s, paths, kind):
    """Starts Kelso over the bad files and checks what every scenario must see."""
    proc = s.start_kelso()
    s.wait_started(proc, timeout=30)
    answers_dbus(s)
    r, _ = timed_kelso(s, "show")
    check(r.returncode == 0, "kelso show failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    time.sleep(1.0)
    s.screenshot("shown")
    log = s.read_log()
    for what in ("settings", "recent store", "Cooler store"):
        path = paths[what]
        copies = aside_copies(path)
        check(len(copies) == 1, "the %s was not moved aside once: %r" % (what, copies))
        check(kind(os.lstat(copies[0]).st_mode), "what was moved aside is not what was there: %s" % copies[0])
        lines = [line for line in log.splitlines() if path + " " in line or path + ":" in line]
        check(len(lines) == 1, "expected one log line about the %s, found %r" % (what, lines))
    return proc


def tag_through_shared_domain(s, paths, kind):
    """`kelso tags add` reads and writes the shared recent tags: a bad file there is moved aside."""
    photo = os.path.join(s.home, "Documents", "note.txt")
    with open(photo, "w") as f:
        f.write("hello\n")
    r, _ = timed_kelso(s, "tags", "add", "Beach", photo, limit=20)
    check(r.returncode == 0, "kelso tags add failed: " + r.stderr)
    copies = aside_copies(paths["shared tags"])
    check(len(copies) == 1 and kind(os.lstat(copies[0]).st_mode),
          "the shared tag domain was not moved aside: %r" % copies)


def quit_promptly(s, proc, paths):
    started = time.monotonic()
    s.quit_kelso(proc, timeout=20)
    took = time.monotonic() - started
    print("kelso quit took %.2f s" % took)
    check(os.path.isfile(paths["settings"]), "no settings file written after quitting")
    check((s.settings() or {}).get("KLVirginLaunch") is False, "the settings were not saved at quit")


# ---- scenarios ------------------------------------------------------------------------------

@scenario
def stores_fifos(s):
    """A FIFO in the place of the settings, the shared tags and both stores."""
    s.start_display()
    paths = store_paths(s)
    for path in paths.values():
        os.mkfifo(path)
    proc = start_show_and_check(s, paths, stat.S_ISFIFO)
    tag_through_shared_domain(s, paths, stat.S_ISFIFO)
    quit_promptly(s, proc, paths)


@scenario
def stores_sockets(s):
    """A listening socket in the place of the settings, the shared tags and both stores."""
    s.start_display()
    paths = store_paths(s)
    sockets = []
    for path in paths.values():
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.bind(path)
        sock.listen(1)
        sockets.append(sock)
    try:
        proc = start_show_and_check(s, paths, stat.S_ISSOCK)
        tag_through_shared_domain(s, paths, stat.S_ISSOCK)
        quit_promptly(s, proc, paths)
    finally:
        for sock in sockets:
            sock.close()


@scenario
def stores_deep_plists(s):
    """Property lists nested 100,000 deep, binary and XML, in the place of each file."""
    s.start_display()
    paths = store_paths(s)
    contents = {
        "settings": deep_binary(100000),
        "shared tags": deep_xml(100000),
        "recent store": deep_xml(100000),
        "Cooler store": deep_binary(100000),
    }
    for what, path in paths.items():
        with open(path, "wb") as f:
            f.write(contents[what])
    proc = start_show_and_check(s, paths, stat.S_ISREG)
    for what in ("settings", "recent store", "Cooler store"):
        with open(aside_copies(paths[what])[0], "rb") as f:
            check(f.read() == contents[what], "the %s moved aside lost bytes" % what)
    check("deeper than 512" in s.read_log(), "the log does not say why the files were refused")
    tag_through_shared_domain(s, paths, stat.S_ISREG)
    quit_promptly(s, proc, paths)


HOLDER = r"""
import fcntl, sys, time
f = open(sys.argv[1], "a")
fcntl.flock(f, fcntl.LOCK_EX)
print("locked", flush=True)
time.sleep(600)
"""


@scenario
def settings_lock_stopped(s):
    """A process stopped while it holds the settings lock (as a `kelso tags` stopped with Ctrl-Z
    would) does not freeze the running Kelso: D-Bus answers stay prompt while the window comes
    and goes (each time it goes, the recent list and the settings are saved)."""
    s.start_display()
    paths = store_paths(s)
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1.5)  # past the first settings write after the start
    holder = subprocess.Popen([sys.executable, "-c", HOLDER, paths["settings"] + ".lock"], stdout=subprocess.PIPE,
                              text=True)
    try:
        check(holder.stdout.readline().strip() == "locked", "the lock holder did not take the lock")
        holder.send_signal(signal.SIGSTOP)
        slowest = 0.0
        for round_ in range(3):
            r, took = timed_kelso(s, "show")
            check(r.returncode == 0, "kelso show failed: " + r.stderr)
            check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
            if round_ == 0:
                time.sleep(1.0)
                s.screenshot("shown-while-lock-held")
            slowest = max(slowest, took)
            r, took = timed_kelso(s, "hide")
            check(r.returncode == 0, "kelso hide failed: " + r.stderr)
            slowest = max(slowest, took)
            slowest = max(slowest, answers_dbus(s))
            time.sleep(1.5)  # the window's own hiding after a deactivation is over before the next show
        print("slowest answer while the lock was held: %.2f s" % slowest)
        check(slowest < 3.0, "a D-Bus answer took %.1f s while a stopped process held the settings lock" % slowest)
        stopped = [line for line in s.read_log().splitlines() if "settings lock" in line and "stopped" in line]
        check(len(stopped) == 1, "expected one log line about the stopped holder, found %r" % stopped)
        check(str(holder.pid) in stopped[0], "the log line does not name the holder: " + stopped[0])
    finally:
        holder.send_signal(signal.SIGCONT)
        holder.kill()
        holder.wait(10)
    # With the holder gone the lock is free again: what was kept in memory is written.
    r, _ = timed_kelso(s, "show")
    check(r.returncode == 0, "kelso show failed after the holder went: " + r.stderr)
    quit_promptly(s, proc, paths)


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
