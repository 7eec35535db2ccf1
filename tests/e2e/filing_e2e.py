#!/usr/bin/env python3
"""End-to-end scenarios for filing from the command line while Kelso runs.

`kelso file` moves files into the dated filed-documents folders from a process of its own; the
running Kelso must follow those moves as it follows the ones it makes itself, so that its
Cooler names the files where they now are.

    filing_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import json
import os
import plistlib
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import check, run_main, wait_for  # noqa: E402

SCENARIOS = {}
SKIPPED = 77


class Skip(Exception):
    pass


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def start_and_wait(s):
    """Starts Kelso and waits until it owns its name on the session bus."""
    proc = s.start_kelso()

    def owned():
        r = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:com.tallow.kelso"],
                           capture_output=True, text=True, env=s.env, timeout=30)
        return proc.poll() is not None or "true" in r.stdout
    check(wait_for(owned, 30, 0.2) and proc.poll() is None, "kelso did not start; log:\n" + s.read_log())
    return proc


def write_settings(s, values):
    """The settings file as Kelso keeps it (binary plist), written before Kelso starts."""
    path = os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY)


def mount_volume(s, name):
    """A tmpfs in the session's home: a move onto it is a copy and a removal, no rename."""
    path = os.path.join(s.home, name)
    os.makedirs(path)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=32m", "tmpfs", path], capture_output=True, text=True)
    if r.returncode != 0:
        raise Skip("cannot mount a tmpfs at %s (%s); this scenario needs root" % (path, r.stderr.strip()))
    return path


def cooler_paths(s):
    return [item["path"] for item in s.cooler_items()]


@scenario
def filing_from_command_line_moves_cooler_item(s):
    """A file in the Cooler filed with `kelso file` onto another file system (where the event
    stream sees no rename to follow) is in the Cooler at its new place at once, and a stray
    report of a move that did not happen changes nothing."""
    volume = mount_volume(s, "Archive")
    try:
        write_settings(s, {"KPFiledDocumentsPath": os.path.join(volume, "Filed")})
        filed_and_followed(s)
    finally:
        subprocess.run(["umount", "-l", volume], capture_output=True)


def filed_and_followed(s):
    s.start_display()
    proc = start_and_wait(s)
    source = os.path.join(s.home, "Documents", "Quarterly report.txt")
    with open(source, "w") as f:
        f.write("figures\n")
    r = s.kelso("cooler", "add", source)
    check(r.returncode == 0, "kelso cooler add failed: %s" % r.stderr)
    check(wait_for(lambda: source in cooler_paths(s), 10), "the file did not reach the Cooler: %s" % cooler_paths(s))

    r = s.kelso("file", source)
    check(r.returncode == 0, "kelso file failed (%d): %s" % (r.returncode, r.stderr))
    check("not told" not in r.stderr, "kelso file: %s" % r.stderr)
    filed = r.stdout.strip()
    check(os.path.isfile(filed) and not os.path.exists(source), "not filed: %r" % filed)
    check(os.stat(filed).st_dev != os.stat(s.home).st_dev, "filed on the same file system: %s" % filed)
    # Answered once the window followed: no waiting needed, but allow a moment.
    check(wait_for(lambda: cooler_paths(s) == [filed], 5),
          "the Cooler kept the old path: %s (filed at %s)" % (cooler_paths(s), filed))
    items = s.cooler_items()
    check(items[0].get("exists") is True, "the Cooler's item is missing its file: %s" % json.dumps(items))

    # A report whose old path still exists, or whose new one does not, is not followed.
    elsewhere = os.path.join(s.home, "Desktop", "elsewhere.txt")
    s.dbus_call("ItemsMoved", "array:string:" + filed, "array:string:" + elsewhere)
    gone = os.path.join(s.home, "Documents", "never-there.txt")
    s.dbus_call("ItemsMoved", "array:string:" + gone, "array:string:" + filed)
    check(cooler_paths(s) == [filed], "a move that did not happen was followed: %s" % cooler_paths(s))

    check(s.kelso("show").returncode == 0, "kelso show failed")
    wait_for(lambda: s.visible_windows("^Kelso$"), 10)
    print("screenshot: " + s.screenshot("cooler-after-filing"))
    s.quit_kelso(proc)


def main():
    try:
        return run_main(SCENARIOS)
    except Skip as e:
        print("SKIP: %s" % e)
        return SKIPPED


if __name__ == "__main__":
    sys.exit(main())
