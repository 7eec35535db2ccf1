#!/usr/bin/env python3
"""End-to-end scenarios for Kelso's own file operations.

The real `kelso` runs in a fresh home under the display, window manager, tray and private D-Bus
session of the other scenarios (the Session class of kelso_e2e.py). A second file system is a
tmpfs mounted inside the session's home; mounting needs root (the CI runs as root), and a
scenario that needs it and cannot mount exits with status 77 (skipped) and says why.

    fileops_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import datetime
import json
import os
import plistlib
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, cooler_cell_centre, run_main, wait_for, wait_for_new_window, kelso_windows  # noqa: E402

SCENARIOS = {}
SKIPPED = 77


class Skip(Exception):
    pass


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


# ---- helpers --------------------------------------------------------------------------------

def write(path, text="hello\n", mtime=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    if mtime is not None:
        os.utime(path, (mtime, mtime))
    return path


def write_settings(s, values):
    """The settings file as Kelso keeps it (binary plist), written before Kelso starts."""
    path = os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY)


class Volume:
    """A tmpfs mounted in the session's home, unmounted (lazily) when the scenario ends."""

    def __init__(self, s, name):
        self.path = os.path.join(s.home, name)
        os.makedirs(self.path)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=32m", "tmpfs", self.path],
                           capture_output=True, text=True)
        self.mounted = r.returncode == 0
        self.why = (r.stderr or r.stdout).strip()

    def read_only(self):
        r = subprocess.run(["mount", "-o", "remount,ro", self.path], capture_output=True, text=True)
        check(r.returncode == 0, "cannot remount %s read-only: %s" % (self.path, r.stderr))

    def close(self):
        if self.mounted:
            subprocess.run(["umount", "-l", self.path], capture_output=True)
            self.mounted = False


def needs_volume(s, name):
    v = Volume(s, name)
    if not v.mounted:
        raise Skip("cannot mount a tmpfs at %s (%s); this scenario needs root" % (v.path, v.why))
    return v


def show_and_focus(s):
    check(s.kelso("show").returncode == 0, "kelso show failed")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear on 'kelso show'")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(1)


def cooler_context_menu(s, index=0):
    before = kelso_windows(s)
    x, y = cooler_cell_centre(s, index)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "3")
    menu = wait_for_new_window(s, before)
    check(menu, "a right-click on Cooler cell %d opened no menu" % index)
    time.sleep(0.5)
    return menu


def keys(s, *names, pause=0.25):
    for name in names:
        s.xdotool("key", name)
        time.sleep(pause)


# ---- scenarios ------------------------------------------------------------------------------

@scenario
def filing_other_volume(s):
    """`kelso file` onto a filed-documents folder on another file system moves the file as mv
    does: its tags, rating and modification time come along and the original is gone."""
    volume = needs_volume(s, "Archive")
    try:
        write_settings(s, {"KPFiledDocumentsPath": os.path.join(volume.path, "Filed")})
        old = time.time() - 3 * 365 * 86400
        source = write(os.path.join(s.home, "Documents", "Invoice 2023.pdf"), "%PDF-1.4 invoice\n")
        check(s.kelso("tags", "set", "Tax", source).returncode == 0, "kelso tags set failed")
        check(s.kelso("tags", "add", "Invoices", source).returncode == 0, "kelso tags add failed")
        check(s.kelso("rate", "4", source).returncode == 0, "kelso rate failed")
        os.utime(source, (old, int(old)))
        attrs_before = {n: os.getxattr(source, n) for n in os.listxattr(source) if n.startswith("user.")}
        check(b"Tax" in attrs_before.get("user.xdg.tags", b""), "the tag was not written: %r" % attrs_before)

        r = s.kelso("file", source)
        check(r.returncode == 0, "kelso file failed (%d): %s" % (r.returncode, r.stderr))
        filed = r.stdout.strip()
        today = datetime.date.today()
        day_folder = os.path.join(volume.path, "Filed", str(today.year), str(today.month), str(today.day))
        check(filed == os.path.join(day_folder, "Invoice 2023.pdf"), "filed at %r" % filed)
        check(os.stat(filed).st_dev != os.stat(s.home).st_dev, "the filed copy is not on the other file system")
        check(not os.path.exists(source), "the original was left behind")
        with open(filed) as f:
            check(f.read() == "%PDF-1.4 invoice\n", "the data changed")
        for name, value in attrs_before.items():
            check(os.getxattr(filed, name) == value, "attribute %s lost or changed" % name)
        listing = json.loads(s.kelso("tags", "--json", filed).stdout)
        entry = listing[0] if isinstance(listing, list) else listing
        text = json.dumps(entry)
        check("Tax" in text and "Invoices" in text, "kelso tags --json on the filed file: %s" % text)
        check('"rating": 4' in text.replace("4.0", "4"), "the rating did not come along: %s" % text)
        # The managed mark is written on arrival, which moves a time older than an hour on by
        # exactly 2 seconds (so that indexers look again); the file's own time is otherwise kept.
        check(int(os.stat(filed).st_mtime) == int(old) + 2,
              "modification time %s, expected %s" % (os.stat(filed).st_mtime, int(old) + 2))
        check(any("kMDItemLTManaged" in n for n in os.listxattr(filed)), "the managed mark is missing")
        print("filed %s with %s" % (filed, sorted(attrs_before)))
    finally:
        volume.close()


@scenario
def trash_read_only(s):
    """Move to Trash on a file in a read-only folder: the file and its Cooler cell stay, and one
    message names the file."""
    volume = needs_volume(s, "Locked")
    try:
        locked = write(os.path.join(volume.path, "Locked notes.txt"), "cannot go\n")
        volume.read_only()
        write_settings(s, {"KPDONTWarnAboutTrashingFiles": True})
        s.start_display()
        proc = s.start_kelso()
        s.wait_started(proc)
        check(s.kelso("cooler", "add", locked).returncode == 0, "cooler add failed")
        show_and_focus(s)
        windows_before = set(s.visible_windows("^Kelso$"))
        cooler_context_menu(s)
        s.screenshot("cooler-menu")
        # The last entry of a Cooler cell's menu is Move to Trash.
        keys(s, "Up")
        s.screenshot("move-to-trash-entry")
        keys(s, "Return")
        check(wait_for(lambda: set(s.visible_windows("^Kelso$")) - windows_before, 10),
              "no message appeared for the file that could not be trashed")
        time.sleep(1)
        shot = s.screenshot("trash-failed-message")
        print("screenshot: " + shot)
        check(os.path.exists(locked), "the file is gone")
        paths = [i["path"] for i in s.cooler_items()]
        check(paths == [locked], "the Cooler cell left with a file that is still there: %r" % paths)
        log = s.read_log()
        check("Locked notes.txt" in log, "the failure is not in the log")
        message = sorted(set(s.visible_windows("^Kelso$")) - windows_before)[0]
        s.activate(message)
        keys(s, "Return")
        check(wait_for(lambda: message not in s.visible_windows("^Kelso$"), 10), "the message did not close")
        check([i["path"] for i in s.cooler_items()] == [locked], "closing the message changed the Cooler")
        s.quit_kelso(proc)
    finally:
        volume.close()


@scenario
def move_to_keeps_cell(s):
    """Move To another folder from a Cooler cell's menu: the cell follows the file to its new
    folder at once, with its own date, never the missing-file placeholder."""
    s.start_display()
    yesterday = time.time() - 86400 - 3600
    plan = write(os.path.join(s.home, "Desktop", "Plan.txt"), "the plan\n", mtime=yesterday)
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", plan).returncode == 0, "cooler add failed")
    show_and_focus(s)
    before = s.cooler_items()
    check([i["path"] for i in before] == [plan], "the Cooler holds %r" % before)
    cooler_context_menu(s)
    # From the bottom: Move to Trash, Remove from Cooler, then the "Move To" submenu. Its first
    # entries are the places ("/" or the home folder first); the second one is a folder in the
    # home (the home folder itself or Documents), whose submenu starts with that folder.
    keys(s, "Up", "Up", "Up")
    s.screenshot("move-to-entry")
    keys(s, "Right", pause=0.6)
    keys(s, "Down", pause=0.4)
    keys(s, "Right", pause=0.6)
    s.screenshot("move-to-folder")
    keys(s, "Return")
    check(wait_for(lambda: not os.path.exists(plan), 10), "Move To did not move the file")
    found = [os.path.join(d, "Plan.txt") for d in (s.home, os.path.join(s.home, "Documents"))
             if os.path.exists(os.path.join(d, "Plan.txt"))]
    check(found, "Plan.txt went somewhere unexpected")
    moved = found[0]
    # At once: well before the item's facts are due for their next refresh (3 s).
    check(wait_for(lambda: [i["path"] for i in s.cooler_items()] == [moved], 1.5),
          "the Cooler cell did not follow the file: %r" % s.cooler_items())
    time.sleep(1)
    shot = s.screenshot("moved-cell")
    print("screenshot: " + shot)
    for _ in range(3):  # across several refreshes of the item's facts
        items = s.cooler_items()
        check(len(items) == 1 and items[0]["path"] == moved, "the cell changed: %r" % items)
        check("1904" not in items[0].get("subtitle", "") and items[0].get("time", 0) > 0,
              "the cell shows the missing-file placeholder: %r" % items[0])
        check(abs(items[0]["time"] - yesterday) < 2, "the cell's date is not the file's: %r" % items[0])
        time.sleep(1.5)
    s.quit_kelso(proc)


def main():
    try:
        return run_main(SCENARIOS)
    except Skip as e:
        print("SKIP: %s" % e)
        return SKIPPED


if __name__ == "__main__":
    sys.exit(main())
