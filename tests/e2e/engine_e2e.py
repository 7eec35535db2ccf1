#!/usr/bin/env python3
"""End-to-end scenarios for the recent-files engine: folders that arrive filled, answers that
are current, and what the event stream says it watches.

The real `kelso` runs under the display, window manager, tray and private D-Bus session of the
other scenarios (the Session class of kelso_e2e.py). The list is read as a script reads it,
with `kelso recent --json`, without ever showing the window in between: the answer must be the
list as of now, not the one the window showed last.

    engine_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import datetime
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, run_main, wait_for  # noqa: E402

SCENARIOS = {}
YEAR = 365 * 86400


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def write(path, text="hello\n", mtime=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    if mtime is not None:
        os.utime(path, (mtime, mtime))
    return path


def recent(s, *extra):
    r = s.kelso("recent", "--json", *extra, timeout=90)
    check(r.returncode == 0, "kelso recent failed (%d): %s" % (r.returncode, r.stderr))
    check("did not answer" not in r.stderr, "the running Kelso did not answer: " + r.stderr)
    try:
        return json.loads(r.stdout)
    except ValueError as e:
        raise Failure("kelso recent printed no JSON (%s): %r" % (e, r.stdout[:300]))


def find(items, path):
    return next((i for i in items if i["path"] == path), None)


def brief(s, items):
    return [(os.path.relpath(i["path"], s.home), i["time"], len(i.get("stack") or [])) for i in items]


def start_and_wait(s):
    proc = s.start_kelso()

    def owned():
        r = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:com.tallow.kelso"],
                           capture_output=True, text=True, env=s.env, timeout=30)
        return proc.poll() is not None or "true" in r.stdout
    check(wait_for(owned, 30, 0.2) and proc.poll() is None, "kelso did not take its bus name; log:\n" + s.read_log())
    return proc


@scenario
def engine_folder_filled_at_once(s):
    """A folder made and filled in one go, a copied tree with old dates and a folder moved in
    from outside the watched folders are listed with all their files; the first as a stack."""
    home = s.home
    docs = os.path.join(home, "Documents")
    os.makedirs(docs, exist_ok=True)
    outside = os.path.join(home, ".elsewhere")  # hidden folders are not watched
    old = time.time() - 2 * YEAR
    tree = os.path.join(outside, "tree")
    tree_files = [write(os.path.join(tree, *parts), mtime=old) for parts in
                  (("a.txt",), ("b.txt",), ("level2", "c.txt"), ("level2", "level3", "d.txt"))]
    moved_src = os.path.join(outside, "arrival")
    moved_files = [write(os.path.join(moved_src, "m%d.txt" % i), mtime=old) for i in range(3)]
    s.start_display()
    proc = start_and_wait(s)
    time.sleep(2)  # the watches are set up on the collector's thread

    # 12 files written at once into a new folder, in one shell command.
    filled = os.path.join(docs, "unpacked")
    r = subprocess.run(["sh", "-c", 'mkdir "$1" && for i in $(seq -w 1 12); do echo "$i" > "$1/part$i.txt"; done',
                        "sh", filled], env=s.env)
    check(r.returncode == 0, "could not fill the folder")
    parts = sorted(os.path.join(filled, "part%02d.txt" % i) for i in range(1, 13))
    # A three-level tree copied with its dates (cp -a), and a folder moved in whole.
    copied = os.path.join(docs, "copied")
    check(subprocess.run(["cp", "-a", tree, copied]).returncode == 0, "cp -a failed")
    copied_files = [f.replace(tree, copied) for f in tree_files]
    arrived = os.path.join(docs, "arrived")
    os.rename(moved_src, arrived)
    arrived_files = [f.replace(moved_src, arrived) for f in moved_files]

    got = {"items": []}

    def listed():
        got["items"] = recent(s)
        everything = set()
        for i in got["items"]:
            everything.add(i["path"])
            everything.update(i.get("stack") or [])
        stack = find(got["items"], filled)
        return (stack is not None and sorted(stack.get("stack") or []) == parts
                and all(p in everything for p in copied_files + arrived_files))
    check(wait_for(listed, 60, 1.0), "not all files of the new folders are listed: %r" % brief(s, got["items"]))
    stack = find(got["items"], filled)
    today = datetime.date.today()
    check(datetime.date.fromtimestamp(stack["time"]) == today, "the stack is dated %s" % stack["time"])
    for i in got["items"]:
        check(i["time"] > 978307200 + 86400, "an item at the epoch: %r" % i)
        check("2001" not in i["subtitle"], "an item dated 2001: %r" % i)

    # Inside the stack: every file, dated today.
    inside = recent(s, "--folder", filled)
    check(sorted(i["path"] for i in inside) == parts, "the folder lists %r" % brief(s, inside))

    r = s.kelso("show")
    check(r.returncode == 0, "kelso show failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 15), "the window did not appear")
    time.sleep(3)
    print("screenshot: " + s.screenshot("engine-folder-filled"))
    s.quit_kelso(proc)


@scenario
def engine_current_answer(s):
    """`kelso recent --json` right after a change lists it dated today, without the window
    being shown in between; a deleted folder leaves the list; --status says what is watched."""
    home = s.home
    docs = os.path.join(home, "Documents")
    os.makedirs(docs, exist_ok=True)
    s.start_display()
    proc = start_and_wait(s)
    time.sleep(2)
    # The window once, so that it holds a list of its own (which must not be the answer).
    check(s.kelso("show").returncode == 0, "kelso show failed")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 15), "the window did not appear")
    check(s.kelso("hide").returncode == 0, "kelso hide failed")

    changed = write(os.path.join(docs, "just-now.txt"), "changed\n")
    started = time.monotonic()
    got = {"items": []}

    def listed():
        got["items"] = recent(s)
        return find(got["items"], changed) is not None
    check(wait_for(listed, 15, 0.3), "the change is not listed: %r" % brief(s, got["items"]))
    took = time.monotonic() - started
    item = find(got["items"], changed)
    check(datetime.date.fromtimestamp(item["time"]) == datetime.date.today(), "dated %r" % item)
    check(abs(item["time"] - os.stat(changed).st_mtime) < 2, "not the file's time: %r" % item)
    print("listed %.1f s after the change" % took)

    # A busy folder, then deleted: it leaves the list.
    busy = os.path.join(docs, "busy")
    files = [write(os.path.join(busy, "f%d.txt" % i)) for i in range(8)]
    check(wait_for(lambda: find(recent(s), busy) is not None, 30, 0.5), "the busy folder is not listed")
    shutil.rmtree(busy)
    check(wait_for(lambda: all(find(recent(s), p) is None for p in [busy] + files), 30, 0.5),
          "the deleted folder stays listed: %r" % brief(s, recent(s)))

    r = s.kelso("recent", "--status")
    check(r.returncode == 0, "kelso recent --status failed (%d): %s" % (r.returncode, r.stderr))
    check("root: " + home in r.stdout and "watched folders:" in r.stdout, "status: %r" % r.stdout)
    print("status:\n" + r.stdout)
    s.quit_kelso(proc)
    r = s.kelso("recent", "--status")
    check(r.returncode == 1 and "not running" in r.stderr, "status without Kelso: %d %r" % (r.returncode, r.stderr))


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
