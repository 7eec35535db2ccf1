#!/usr/bin/env python3
"""End-to-end scenarios for the preferences window.

The real `kelso` runs under the display, window manager, tray and private D-Bus session of the
other scenarios (the Session class of kelso_e2e.py), in dock mode so that its menu bar's
Ctrl+, opens the preferences. The window is driven with the keyboard only (xdotool), as a user
without a mouse would; the recent list is read back from the running Kelso (what the grid
shows, and the collector's list).

    prefs_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import plistlib
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, run_main, tray_icon_centre, wait_for  # noqa: E402

SCENARIOS = {}
PREFS = "^Kelso Preferences"


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


# ---- helpers --------------------------------------------------------------------------------

def write(path, text="hello\n"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    return path


def settings_path(s):
    return os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist")


def write_settings(s, values):
    path = settings_path(s)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".edit"
    with open(tmp, "wb") as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY)
    os.rename(tmp, path)


def keys(s, *names, pause=0.3):
    for name in names:
        s.xdotool("key", name)
        time.sleep(pause)


def shown(s):
    return [i["path"] for i in s.shown_recent_items()]


def listed(s):
    return [i["path"] for i in s.recent_items()]


def start_in_dock_mode(s, files):
    """Starts Kelso in dock mode, then makes the files (new files are what the list shows)."""
    write_settings(s, {"KPRunInDock": True})
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1)
    for path, text in files.items():
        write(path, text)
        time.sleep(0.3)
    files = list(files)
    s.kelso("show")
    wins = []
    check(wait_for(lambda: wins.extend(s.visible_windows("^Kelso$")) or wins, 10), "the window did not appear")
    check(wait_for(lambda: all(p in shown(s) for p in files), 40),
          "the recent list does not show %r: %r" % (files, shown(s)))
    return proc, wins[0]


def open_preferences(s, main):
    s.activate(main)
    time.sleep(0.5)
    keys(s, "ctrl+comma")
    wins = []
    check(wait_for(lambda: wins.extend(s.visible_windows(PREFS)) or wins, 10),
          "Ctrl+, opened no preferences window")
    s.activate(wins[0])
    time.sleep(0.8)
    return wins[0]


def window_shot(s, win, label):
    """A picture of one window (not the whole screen), kept next to the test log."""
    s.shots += 1
    path = os.path.join(s.out, "%s-%02d-%s.png" % (s.name, s.shots, label))
    subprocess.run(["import", "-window", win, path], env=s.env, capture_output=True, timeout=30)
    check(os.path.exists(path), "no screenshot of %s" % label)
    print("screenshot: " + path)
    return path


def title_of(s, win):
    return s.xdotool("getwindowname", win).stdout.strip()


def choose_in_file_dialog(s, path):
    """Types a path into the open file chooser and accepts it."""
    wins = []
    check(wait_for(lambda: wins.extend(s.visible_windows("^Add Folder")) or wins, 10), "no folder chooser opened")
    s.activate(wins[0])
    time.sleep(0.8)
    s.screenshot("folder-chooser")
    keys(s, "ctrl+a")
    s.xdotool("type", "--delay", "20", path)
    time.sleep(0.4)
    keys(s, "Return", pause=0.8)
    if s.visible_windows("^Add Folder"):
        # The chooser first entered the folder named; the second Return chooses it.
        keys(s, "Return", pause=0.8)
    check(wait_for(lambda: not s.visible_windows("^Add Folder"), 10), "the folder chooser did not close")


# ---- scenarios ------------------------------------------------------------------------------

@scenario
def prefs_unwanted_folders(s):
    """An unwanted folder added in the preferences keeps its files out of the recent list at once;
    removing it there brings them back. Screenshots of each pane on the way."""
    notes = os.path.join(s.home, "Documents", "notes.txt")
    scratch = os.path.join(s.home, "Scratch")
    log = os.path.join(scratch, "build.log")
    proc, main = start_in_dock_mode(s, {notes: "notes\n", log: "compiling\n"})
    prefs = open_preferences(s, main)

    # The five panes through their keys (Ctrl+1 … Ctrl+5), each in its picture.
    for number, pane in ((1, "General"), (2, "Folders"), (3, "Extensions"), (4, "Files"), (5, "Advanced")):
        keys(s, "ctrl+%d" % number, pause=0.8)
        check(title_of(s, prefs).endswith(pane), "Ctrl+%d shows %r" % (number, title_of(s, prefs)))
        window_shot(s, prefs, "pane-%s" % pane.lower())

    # The folders pane: the table has the focus; Tab reaches "Add Folder…", Space presses it.
    keys(s, "ctrl+2", pause=0.8)
    keys(s, "Tab", "space", pause=0.6)
    choose_in_file_dialog(s, scratch)
    settings = lambda: plistlib.load(open(settings_path(s), "rb"))
    check(wait_for(lambda: "~/Scratch" in settings().get("unwantedDirectories", []), 10),
          "unwantedDirectories does not hold ~/Scratch: %r" % settings().get("unwantedDirectories"))
    # At once: the grid and the collector's list drop the folder's file, and only it.
    check(wait_for(lambda: log not in shown(s), 5), "the window still shows %s: %r" % (log, shown(s)))
    check(log not in listed(s), "the recent list still holds %s" % log)
    check(notes in shown(s), "notes.txt left the window as well: %r" % shown(s))
    s.activate(prefs)
    window_shot(s, prefs, "folder-added")

    # Removing it: Ctrl+2 puts the focus on the table, on its first row; Delete removes it.
    keys(s, "ctrl+2", pause=0.6)
    window_shot(s, prefs, "folder-row-focused")
    keys(s, "Delete", pause=0.5)
    check(wait_for(lambda: "~/Scratch" not in settings().get("unwantedDirectories", []), 10),
          "the entry is still in unwantedDirectories: %r" % settings().get("unwantedDirectories"))
    check(wait_for(lambda: log in shown(s), 5), "%s did not come back into the window: %r" % (log, shown(s)))
    check(log in listed(s), "%s did not come back into the recent list" % log)
    window_shot(s, prefs, "folder-removed")

    # The hot key's "Change…" on the general pane (the mode, three boxes and the key's field
    # come before it) opens the assignment sheet; Escape cancels it, the key stays.
    # An absent key reads as its registered default (Super, the "/" key).
    hot_key = lambda: (settings().get("XPModifierFlags", 1048576), settings().get("XPHotKeyKeyCode", 61))
    before_key = hot_key()
    keys(s, "ctrl+1", pause=0.6)
    keys(s, "Tab", "Tab", "Tab", "Tab", "Tab", "space", pause=0.4)
    check(wait_for(lambda: s.visible_windows("^Assign Hot Key$"), 10), "Change… opened no hot-key sheet")
    time.sleep(0.5)
    s.screenshot("hot-key-sheet")
    keys(s, "Escape", pause=0.8)
    check(wait_for(lambda: not s.visible_windows("^Assign Hot Key$"), 10), "Escape left the sheet open")
    check(hot_key() == before_key, "cancelling changed the hot key: %r, was %r" % (hot_key(), before_key))
    s.activate(prefs)

    # Escape closes the window; the drop zone's overlap goes with it.
    keys(s, "Escape", pause=0.8)
    check(wait_for(lambda: not s.visible_windows(PREFS), 10), "Escape did not close the preferences")
    check(wait_for(lambda: settings().get("KPDropZoneOverlapWithScreen") is False, 10),
          "KPDropZoneOverlapWithScreen stayed on: %r" % settings().get("KPDropZoneOverlapWithScreen"))
    s.quit_kelso(proc)


@scenario
def prefs_tray_switch_and_outside_edit(s):
    """Switching from a window to the tray in the preferences takes effect at once; a settings
    change made by hand while Kelso runs is taken (the file leaves the list) and kept when Kelso
    writes its settings again."""
    notes = os.path.join(s.home, "Documents", "notes.txt")
    secret = os.path.join(s.home, "Documents", "secret.txt")
    proc, main = start_in_dock_mode(s, {notes: "notes\n", secret: "hush\n"})
    check(tray_icon_centre(s) is None, "a tray icon in dock mode")
    prefs = open_preferences(s, main)

    # General pane: Ctrl+1 puts the focus on its first control, the mode; Up picks the item
    # above "As a window with a taskbar entry", "From its tray icon".
    keys(s, "ctrl+1", pause=0.8)
    keys(s, "Up", pause=1.0)
    check(wait_for(lambda: tray_icon_centre(s) is not None, 15), "no tray icon after choosing the tray")
    settings = lambda: plistlib.load(open(settings_path(s), "rb"))
    check(wait_for(lambda: settings().get("KPRunInDock") is False, 10),
          "KPRunInDock is %r" % settings().get("KPRunInDock"))
    window_shot(s, prefs, "tray-chosen")
    keys(s, "Escape", pause=0.8)

    # By hand, as another program would: secret.txt into unwantedItems, the rest kept.
    edited = settings()
    edited["unwantedItems"] = [secret]
    write_settings(s, edited)
    check(wait_for(lambda: secret not in listed(s), 10),
          "the running Kelso did not take the edited settings: %r" % listed(s))
    check(notes in listed(s), "notes.txt left the list too")
    # Kelso's own next write (quitting) keeps the edit.
    s.quit_kelso(proc)
    after = settings()
    check(after.get("unwantedItems") == [secret], "Kelso wrote over the edit: %r" % after.get("unwantedItems"))
    check(after.get("KPRunInDock") is False, "the mode choice was lost: %r" % after.get("KPRunInDock"))


@scenario
def prefs_from_tray_menu(s):
    """In tray mode the status menu's "Preferences…" opens the window in front, and it stays
    while the user works in it; a never-show list edited there hides the file at once."""
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    check("started (tray mode)" in s.read_log(), "Kelso did not start in tray mode")
    time.sleep(1)
    report = write(os.path.join(s.home, "Documents", "report.txt"), "numbers\n")
    check(wait_for(lambda: report in listed(s), 40), "report.txt never reached the list")
    check(wait_for(lambda: tray_icon_centre(s) is not None, 15), "no Kelso icon in the tray")
    x, y = tray_icon_centre(s)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "3")
    time.sleep(0.8)
    s.screenshot("status-menu")
    # Open Kelso, Check for Updates, Search Tags…, Hot Key…, Open at Login, About Kelso,
    # Preferences…
    keys(s, *(["Down"] * 7), pause=0.2)
    keys(s, "Return", pause=0.5)
    wins = []
    check(wait_for(lambda: wins.extend(s.visible_windows(PREFS)) or wins, 10), "Preferences… opened no window")
    prefs = wins[0]
    check(wait_for(lambda: s.active_window() == prefs, 10), "the preferences window is not in front")
    # It is still there after the tray band's one-second hide.
    time.sleep(2)
    check(s.visible_windows(PREFS), "the preferences window went away with the tray band")

    # Files pane: the focus is on the list of single files; a typed fragment hides report.txt.
    keys(s, "ctrl+4", pause=0.6)
    # Tab: Add File… (Remove is off without a selection), the fragments list, Add Fragment.
    keys(s, "Tab", "Tab", "Tab", pause=0.3)
    window_shot(s, prefs, "add-fragment-focused")
    keys(s, "space", pause=0.6)  # a new row, open for typing
    s.xdotool("type", "--delay", "20", "report.t")
    keys(s, "Return", pause=0.6)
    settings = lambda: plistlib.load(open(settings_path(s), "rb"))
    check(wait_for(lambda: settings().get("unwantedPathFragments") == ["report.t"], 10),
          "unwantedPathFragments is %r" % settings().get("unwantedPathFragments"))
    check(wait_for(lambda: report not in listed(s), 10), "report.txt is still listed")
    window_shot(s, prefs, "fragment-added")
    # Quitting with the window open leaves the drop zone as it is without the window.
    check(settings().get("KPDropZoneOverlapWithScreen") is True, "the open window did not set the overlap")
    s.quit_kelso(proc)
    check(settings().get("KPDropZoneOverlapWithScreen") is False,
          "the overlap stayed on after quitting: %r" % settings().get("KPDropZoneOverlapWithScreen"))


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
