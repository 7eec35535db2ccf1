#!/usr/bin/env python3
"""End-to-end scenarios for the Cooler as scripts and users reach it.

The real `kelso` runs in a fresh home under the display, window manager, tray and private D-Bus
session of the Session class of kelso_e2e.py. The Cooler is changed the way a script would
(`kelso cooler add`, the D-Bus calls) and the way a user would (dragging a cell onto it).

    cooler_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import plistlib
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import (Failure, check, cooler_cell_centre, recent_cell_centre, run_main,  # noqa: E402
                       show_with_recent, wait_for)

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


# ---- helpers --------------------------------------------------------------------------------

def write(path, text="kept\n"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    return path


def store_path(s):
    return os.path.join(s.env["XDG_DATA_HOME"], "Kelso", "coolerItems.plist")


def stored_paths(s):
    """The paths in the Cooler's store file as it is on the disk now."""
    try:
        with open(store_path(s), "rb") as f:
            return [i.get("path") for i in plistlib.load(f).get("items", [])]
    except (OSError, plistlib.InvalidFileException, ValueError):
        return []


def cooler_paths(s):
    return [i["path"] for i in s.cooler_items()]


def dbus_send(s, method, *args):
    """A raw D-Bus call as a script makes it: (exit status, output, error text)."""
    r = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--reply-timeout=30000",
                        "--dest=com.tallow.kelso", "/com/tallow/kelso", "com.tallow.kelso.App." + method, *args],
                       capture_output=True, text=True, env=s.env, timeout=60)
    return r.returncode, r.stdout.strip(), r.stderr.strip()


def string_array(paths):
    # dbus-send splits array items at commas (the test's names have none) and cannot send an
    # empty one.
    return "array:string:" + ",".join(paths)


def start(s):
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    return proc


# ---- scenarios ------------------------------------------------------------------------------

@scenario
def cooler_kill_keeps_changes(s):
    """An add, a reorder and a removal reach the disk a moment later: a SIGKILL right after them
    loses nothing, without any deactivation or quit writing the store."""
    docs = os.path.join(s.home, "Documents")
    files = [s.make_jpeg(os.path.join(docs, "keep%d.jpg" % i), "320x240", c)
             for i, c in enumerate(("red-blue", "green-yellow", "white-black"))]
    proc = start(s)
    check(s.kelso("cooler", "add", files[0], files[1]).returncode == 0, "cooler add failed")
    check(s.kelso("cooler", "add", files[2]).returncode == 0, "cooler add failed")
    check(s.kelso("cooler", "remove", files[1]).returncode == 0, "cooler remove failed")
    wanted = [files[2], files[0]]
    check(cooler_paths(s) == wanted, "the Cooler holds %r" % cooler_paths(s))
    check(wait_for(lambda: stored_paths(s) == wanted, 5), "the store holds %r, not the changes" % stored_paths(s))
    proc.send_signal(signal.SIGKILL)
    proc.wait(10)

    proc = s.start_kelso()
    s.wait_started(proc)
    check(cooler_paths(s) == wanted, "after SIGKILL the Cooler holds %r" % cooler_paths(s))
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    time.sleep(2)
    s.screenshot("after-kill")
    s.quit_kelso(proc)


@scenario
def cooler_full_refuses_extra(s):
    """A full Cooler keeps all it holds: the command line and D-Bus refuse what does not fit,
    saying how many, and exit 1 / answer an error."""
    kept = [write(os.path.join(s.home, "Documents", "kept", "k%03d.txt" % i)) for i in range(97)]
    extra = [write(os.path.join(s.home, "Documents", "extra", "e%d.txt" % i)) for i in range(6)]
    proc = start(s)
    check(s.kelso("cooler", "add", *kept).returncode == 0, "cooler add of 97 failed")
    r = s.kelso("cooler", "add", *extra[:5])
    check(r.returncode == 1, "an add that did not fit exited %d" % r.returncode)
    check("2 of the 5 files did not fit" in r.stderr, "the message does not say how many: %r" % r.stderr)
    now = cooler_paths(s)
    check(len(now) == 100, "the Cooler holds %d items" % len(now))
    check(now[:3] == extra[:3] and now[3:] == kept, "what fitted went first, the rest stayed: %r" % now[:5])

    status, _, err = dbus_send(s, "AddToCooler", string_array([extra[5], kept[4]]), "int32:0")
    check(status != 0 and "com.tallow.kelso.Error.CoolerFull" in err and "1 of the 2 files" in err,
          "D-Bus did not refuse the add that did not fit: %r" % err)
    now = cooler_paths(s)
    check(now[0] == kept[4] and extra[5] not in now and len(now) == 100, "the Cooler holds %r" % now[:4])
    check(wait_for(lambda: stored_paths(s) == now, 5), "the store did not follow")
    s.quit_kelso(proc)


@scenario
def cooler_dbus_checks_arguments(s):
    """D-Bus takes absolute paths of existing files (and file:// URIs) only; a bad argument is
    answered with an error naming it, and nothing of that call lands in the Cooler."""
    good = write(os.path.join(s.home, "Documents", "good file.txt"))
    other = write(os.path.join(s.home, "Documents", "other.txt"))
    proc = start(s)
    status, _, err = dbus_send(s, "AddToCooler", string_array(["file://" + good.replace(" ", "%20")]), "int32:0")
    check(status == 0, "a file:// URI was refused: %s" % err)
    check(cooler_paths(s) == [good], "the URI did not become its path: %r" % cooler_paths(s))

    cases = [
        (["relative/name.txt"], "argument 1 is not an absolute path: 'relative/name.txt'"),
        ([other, "http://example.org/a.txt"], "argument 2 is not a local file"),
        ([os.path.join(s.home, "missing.txt")], "argument 1 names no existing file"),
        # (one argument of a command line holds at most 128 KiB)
        ([other, "/" + "x" * 100000], "argument 2 is longer than 4095 bytes"),
    ]
    for args, says in cases:
        status, _, err = dbus_send(s, "AddToCooler", string_array(args), "int32:0")
        check(status != 0 and "InvalidArgs" in err and says in err, "%r was answered %r" % (args[-1][:40], err[:300]))
        check(len(err) < 1000, "the error repeats a huge argument: %d characters" % len(err))
    status, _, err = dbus_send(s, "OpenFiles", string_array(["notes.txt"]))
    check(status != 0 and "not an absolute path" in err, "OpenFiles took a relative path: %r" % err)
    status, _, err = dbus_send(s, "RemoveFromCooler", string_array(["notes.txt"]))
    check(status != 0 and "not an absolute path" in err, "RemoveFromCooler took a relative path: %r" % err)

    # Ten thousand paths fit on dbus-send's command line only when each is short: a link in /tmp.
    short = "/tmp/k" + os.urandom(2).hex()
    os.symlink(other, short)
    try:
        status, _, err = dbus_send(s, "AddToCooler", string_array([short] * 10001), "int32:0")
        check(status != 0 and "too many paths in one call: 10001" in err, "10,001 paths were not refused: %r" % err)
        check(cooler_paths(s) == [good], "a refused call changed the Cooler: %r" % cooler_paths(s))
        status, _, err = dbus_send(s, "AddToCooler", string_array([short] * 10000), "int32:0")
        check(status == 0, "10,000 paths were refused: %r" % err)
        check(cooler_paths(s) == [short, good], "the Cooler holds %r" % cooler_paths(s))
        check(wait_for(lambda: stored_paths(s) == [short, good], 5), "the store holds %r" % stored_paths(s))
    finally:
        os.unlink(short)
    s.quit_kelso(proc)


@scenario
def cooler_plain_output(s):
    """`kelso cooler` prints one line per item, whatever the names hold."""
    odd = write(os.path.join(s.home, "Documents", "two\nlines\there.txt"))
    plain = write(os.path.join(s.home, "Documents", "plain.txt"))
    proc = start(s)
    check(s.kelso("cooler", "add", odd, plain).returncode == 0, "cooler add failed")
    for running in (True, False):
        r = s.kelso("cooler")
        check(r.returncode == 0, "kelso cooler failed: %s" % r.stderr)
        lines = r.stdout.split("\n")
        check(len(lines) == 3 and lines[2] == "", "two items printed as %r" % r.stdout)
        path, _title = lines[0].split("\t")
        check(path == os.path.join(s.home, "Documents", "two\\nlines\\there.txt"), "the odd name reads %r" % path)
        check(lines[1].split("\t")[0] == plain, "the second line reads %r" % lines[1])
        if running:
            s.quit_kelso(proc)  # the same from the store


@scenario
def cooler_full_drop_asks(s):
    """Dragging a file onto a full Cooler asks before it pushes kept items out; Cancel keeps
    everything as it was."""
    kept = [write(os.path.join(s.home, "Desktop", "kept", "k%03d.txt" % i)) for i in range(100)]
    proc = start(s)
    check(s.kelso("cooler", "add", *kept).returncode == 0, "cooler add of 100 failed")
    photo = s.make_jpeg(os.path.join(s.home, "Documents", "harbour.jpg"), "640x480", "skyblue-white")
    show_with_recent(s, proc, [photo])
    index = [i["path"] for i in s.recent_items()].index(photo)
    check(index < 9, "the new photo is beyond the first row: index %d" % index)
    sx, sy = recent_cell_centre(s, index)
    tx, ty = cooler_cell_centre(s, 1)
    s.xdotool("mousemove", "--sync", str(sx), str(sy))
    s.xdotool("mousedown", "1")
    steps = 12
    for k in range(1, steps + 1):
        s.xdotool("mousemove", "--sync", str(sx + (tx - sx) * k // steps), str(sy + (ty - sy) * k // steps))
        time.sleep(0.05)
    time.sleep(0.3)
    s.xdotool("mouseup", "1")
    check(wait_for(lambda: s.visible_windows("Kelso") and len(s.visible_windows("Kelso")) > 1, 10),
          "no question appeared")
    time.sleep(1)
    s.screenshot("question")
    s.xdotool("key", "Escape")
    time.sleep(1)
    now = cooler_paths(s)
    check(now == kept, "the Cooler changed after Cancel: %r" % now[:3])
    check(photo not in now, "the photo went in without asking")
    s.quit_kelso(proc)


@scenario
def cooler_reorder_by_drag(s):
    """Dragging a Cooler cell to another place reorders the Cooler (the drag offers no move
    while KLAlwaysCopyOnDrag is on) and leaves the file where it is."""
    docs = os.path.join(s.home, "Documents")
    files = [s.make_jpeg(os.path.join(docs, "r%d.jpg" % i), "300x300", c)
             for i, c in enumerate(("red-white", "green-white", "blue-white"))]
    proc = start(s)
    check(s.kelso("cooler", "add", *files).returncode == 0, "cooler add failed")
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(1.5)
    sx, sy = cooler_cell_centre(s, 0)
    tx, ty = cooler_cell_centre(s, 2)
    tx += 60  # right of the third cell's centre: after it
    # The add selected all three: a click first leaves only the first selected.
    s.xdotool("mousemove", "--sync", str(sx), str(sy))
    s.xdotool("click", "1")
    time.sleep(0.8)
    s.xdotool("mousedown", "1")
    steps = 12
    for k in range(1, steps + 1):
        s.xdotool("mousemove", "--sync", str(sx + (tx - sx) * k // steps), str(sy + (ty - sy) * k // steps))
        time.sleep(0.05)
    time.sleep(0.3)
    s.xdotool("mouseup", "1")
    wanted = [files[1], files[2], files[0]]
    check(wait_for(lambda: cooler_paths(s) == wanted, 10), "the Cooler holds %r" % cooler_paths(s))
    check(all(os.path.exists(f) for f in files), "the drag moved a file")
    time.sleep(1)
    s.screenshot("reordered")
    s.quit_kelso(proc)


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
