#!/usr/bin/env python3
"""End-to-end scenarios for the main window as people use it.

The real `kelso` runs in a fresh home under the display, window manager and private D-Bus
session of the other end-to-end scenarios (the Session class of kelso_e2e.py): the list follows
saved and opened files while the window is up, a desktop without a system tray gets a normal
decorated window, and the keyboard reaches what the mouse does.

    window_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, run_main, tray_icon_centre, wait_for  # noqa: E402
from recent_e2e import add_recently_used  # noqa: E402

SCENARIOS = {}
DOCS_SHOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "dock-mode.png")


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def recent_paths(s):
    """What the window's recent-files grid holds now (the pane's list over D-Bus)."""
    return [i["path"] for i in s.shown_recent_items()]


def window_id(s, timeout=10):
    seen = []
    check(wait_for(lambda: seen.extend(s.visible_windows("^Kelso$")) or seen, timeout), "no Kelso window")
    return seen[0]


def show_and_focus(s):
    s.kelso("show")
    win = window_id(s)
    s.activate(win)
    time.sleep(0.5)
    return win


def seconds_until_listed(s, path, limit):
    """Polls the shown list until `path` is in it; answers the seconds it took (None: not within
    `limit`)."""
    started = time.monotonic()
    while time.monotonic() - started < limit:
        if path in recent_paths(s):
            return time.monotonic() - started
        time.sleep(0.05)
    return None


def frame_extents(s, win):
    """The window manager's frame around a window (left, right, top, bottom); none: no frame."""
    r = subprocess.run(["xprop", "-id", win, "_NET_FRAME_EXTENTS"], capture_output=True, text=True, env=s.env)
    if "=" not in r.stdout:
        return None
    return [int(v) for v in r.stdout.split("=", 1)[1].split(",")]


def is_viewable(s, win):
    r = subprocess.run(["xwininfo", "-id", win], capture_output=True, text=True, env=s.env)
    return "IsViewable" in r.stdout


def start_other_program(s):
    other = subprocess.Popen(["xmessage", "-geometry", "300x100+560+60", "another program"], env=s.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.helpers.append(other)
    seen = []
    check(wait_for(lambda: seen.extend(s.visible_windows("^xmessage$")) or seen, 10), "xmessage did not start")
    s.activate(seen[0])
    return seen[0]


# ---- the live list ----------------------------------------------------------------------------

@scenario
def live_list_while_shown(s):
    """A file saved, and a file opened through recently-used.xbel, while the window is up are in
    the shown grid within 2 seconds, with no activation in between."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    old = os.path.join(s.home, "Desktop", "older notes.txt")
    with open(old, "w") as f:
        f.write("written long ago\n")
    os.utime(old, (time.time() - 86400 * 30, time.time() - 86400 * 30))
    proc = s.start_kelso()
    s.wait_started(proc)
    show_and_focus(s)
    time.sleep(2)  # past the activation's own refreshes at 0.5 s
    activations = s.read_log().count("became active")

    saved = os.path.join(docs, "report.txt")
    with open(saved, "w") as f:
        f.write("saved while Kelso is shown\n")
    took = seconds_until_listed(s, saved, 10)
    check(took is not None, "the saved file did not appear: %r" % recent_paths(s))
    print("saved file listed after %.2f s" % took)
    check(took <= 2.0, "the saved file took %.2f s to appear" % took)
    s.screenshot("saved-file-listed")

    time.sleep(1.2)
    add_recently_used(s, old)
    took = seconds_until_listed(s, old, 10)
    check(took is not None, "the opened file did not appear: %r" % recent_paths(s))
    print("opened file listed after %.2f s" % took)
    check(took <= 2.0, "the opened file took %.2f s to appear" % took)
    check(s.read_log().count("became active") == activations, "Kelso was activated meanwhile; not a live update")
    check(s.visible_windows("^Kelso$"), "the window went away")
    s.screenshot("opened-file-listed")
    s.quit_kelso(proc)


# ---- no tray ----------------------------------------------------------------------------------

@scenario
def dock_without_tray(s):
    """With no system tray, `kelso` shows a decorated window at launch with the first start's hint
    and the empty list's text; another program's window taking the focus leaves it on screen;
    closing it hides it; a tray that appears later takes Kelso into tray mode."""
    s.start_display(tray=False)
    proc = s.start_kelso()
    s.wait_started(proc)
    check("started (window mode)" in s.read_log(), "not in window mode without a tray:\n" + s.read_log())
    win = window_id(s)  # no `kelso show`: shown at launch
    extents = frame_extents(s, win)
    check(extents and extents[2] > 0, "the window has no title bar (frame %r)" % (extents,))
    check("first start: Kelso is running" in s.read_log(), "no first-start hint:\n" + s.read_log())
    time.sleep(1.5)
    shot = s.screenshot("dock-at-launch")
    print("screenshot: " + shot)
    shutil.copyfile(shot, DOCS_SHOT)

    other = start_other_program(s)
    time.sleep(2.5)  # past the second after which tray mode hides
    check(s.active_window() == other, "the other program does not have the focus")
    check(is_viewable(s, win), "the Kelso window was unmapped when another program took the focus")
    shot = s.screenshot("dock-behind-other")
    print("screenshot: " + shot)

    # Alt+Tab-like: the window manager gives it back the focus.
    s.activate(win)
    # Closing hides (minimises) it; Kelso keeps running; `kelso show` brings it back.
    s.xdotool("key", "--window", win, "alt+F4")
    check(wait_for(lambda: not is_viewable(s, win), 5), "closing the window did not hide it")
    check(proc.poll() is None, "closing the window ended Kelso")
    check(s.kelso("show").returncode == 0, "kelso show failed")
    check(wait_for(lambda: is_viewable(s, win), 5), "kelso show did not bring the window back")

    # A tray appears: Kelso moves its icon there.
    s.start_tray()
    check(wait_for(lambda: "a system tray appeared" in s.read_log(), 15), "the new tray was not noticed")
    check(wait_for(lambda: tray_icon_centre(s) is not None, 10), "no Kelso icon in the new tray")
    s.screenshot("tray-appeared")
    check("running as a normal window" in s.read_log(), "expected the fallback line in the log")
    s.quit_kelso(proc)

    # The hint shows once only.
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1)
    check(s.read_log().count("first start:") == 1, "the hint showed again:\n" + s.read_log())
    s.quit_kelso(proc)


@scenario
def dock_chosen_stays(s):
    """With dock mode chosen, a tray that is there changes nothing; Escape minimises, the taskbar
    entry stays."""
    import plistlib
    os.makedirs(s.env["XDG_CONFIG_HOME"], exist_ok=True)
    with open(os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist"), "wb") as f:
        plistlib.dump({"KPRunInDock": True}, f, fmt=plistlib.FMT_BINARY)
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    check("started (window mode)" in s.read_log(), "dock mode not kept:\n" + s.read_log())
    win = window_id(s)
    s.activate(win)
    time.sleep(4)
    check("a system tray appeared" not in s.read_log(), "a chosen dock mode moved to the tray")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not is_viewable(s, win), 5), "Escape did not hide the window")
    state = subprocess.run(["xprop", "-id", win, "WM_STATE"], capture_output=True, text=True, env=s.env).stdout
    check("Iconic" in state, "hidden, but not minimised to the taskbar: %s" % state.strip())
    s.quit_kelso(proc)


# ---- keyboard ---------------------------------------------------------------------------------

@scenario
def keyboard_paths(s):
    """The keys on the recent files: Down selects, Delete removes from Kelso and Ctrl+Z brings it
    back, F2 opens the rename sheet, the Menu key and Shift+F10 the context menu, Tab reaches
    "Add File"; inside a stack Backspace and Escape step out; F2, a name and Return rename a file;
    Escape then hides."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    photos = os.path.join(s.home, "Downloads", "photos")
    os.makedirs(photos)
    # Made in a hidden folder (not watched), then moved in at once: one busy change, a stack.
    staging = os.path.join(s.home, ".staging")
    for i in range(8):
        s.make_jpeg(os.path.join(staging, "IMG_%d.jpg" % i), "200x150")
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1)
    for name in sorted(os.listdir(staging)):
        os.rename(os.path.join(staging, name), os.path.join(photos, name))
    time.sleep(1.6)
    note = os.path.join(docs, "note.txt")
    with open(note, "w") as f:
        f.write("a note\n")
    win = show_and_focus(s)
    check(wait_for(lambda: note in recent_paths(s) and photos in recent_paths(s), 20),
          "the files are not listed: %r" % recent_paths(s))
    time.sleep(1)
    first = recent_paths(s)[0]

    # Down selects the first cell; Delete takes it out of Kelso; Ctrl+Z brings it back.
    s.xdotool("key", "Down")
    s.xdotool("key", "Delete")
    check(wait_for(lambda: first not in recent_paths(s), 5), "Delete did not remove %s" % first)
    check(os.path.exists(first), "Delete touched the file")
    s.xdotool("key", "ctrl+z")
    check(wait_for(lambda: first in recent_paths(s), 5), "Ctrl+Z did not bring %s back" % first)

    # F2: the rename sheet for the selected cell.
    s.xdotool("key", "F2")
    check(wait_for(lambda: s.visible_windows("Rename"), 5), "F2 opened no rename sheet")
    s.screenshot("f2-rename")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("Rename"), 5), "the rename sheet did not close")
    s.activate(win)

    # The Menu key and Shift+F10: the context menu, a new window of Kelso's.
    from kelso_e2e import kelso_windows, wait_for_new_window
    for key in ("Menu", "shift+F10"):
        before = kelso_windows(s)
        s.xdotool("key", key)
        menu = wait_for_new_window(s, before, 5)
        check(menu, "%s opened no context menu" % key)
        s.screenshot("menu-" + key.replace("+", "-"))
        s.xdotool("key", "Escape")
        check(wait_for(lambda: menu not in kelso_windows(s), 5), "the context menu did not close")
        check(s.visible_windows("^Kelso$"), "Escape on the menu hid the window")

    # Tab to "Add File", Space opens its menu.
    s.xdotool("key", "Tab")
    before = kelso_windows(s)
    s.xdotool("key", "space")
    menu = wait_for_new_window(s, before, 5)
    check(menu, "Tab then Space did not open the Add File menu")
    s.screenshot("add-file-menu")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: menu not in kelso_windows(s), 5), "the Add File menu did not close")
    s.xdotool("key", "shift+Tab")

    # Into the stack with the mouse, out with Backspace; in again, out with Escape, which leaves
    # the window up; the next Escape hides it.
    index = recent_paths(s).index(photos)
    check(index < 9, "the stack is beyond the first row")
    x, y, w, h = s.window_geometry()
    gx, gy = x + 6 + index * 148 + 74, y + 6 + 30 + 2 + 6 + 56
    inside = lambda: recent_paths(s) and all(p.startswith(photos + "/") for p in recent_paths(s))
    for leave in ("BackSpace", "alt+Up", "Escape"):
        s.xdotool("mousemove", "--sync", str(gx), str(gy))
        s.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        check(wait_for(inside, 5), "the stack did not open: %r" % recent_paths(s))
        s.xdotool("key", leave)
        check(wait_for(lambda: photos in recent_paths(s), 5), "%s did not leave the stack" % leave)
        check(s.visible_windows("^Kelso$"), "%s hid the window instead of leaving the stack" % leave)
    s.screenshot("left-stack")

    # A rename through the sheet: a click selects the note, then F2, a new name and Return. The
    # rename runs off the window's thread; the sheet closes once it is done and the list follows
    # the file to its new name.
    index = recent_paths(s).index(note)
    check(index < 9, "the note is beyond the first row")
    s.xdotool("mousemove", "--sync", str(x + 6 + index * 148 + 74), str(gy))
    s.xdotool("click", "1")
    s.xdotool("key", "F2")
    check(wait_for(lambda: s.visible_windows("Rename"), 5), "F2 opened no rename sheet")
    s.xdotool("type", "--delay", "40", "note renamed")
    s.xdotool("key", "Return")
    renamed = os.path.join(docs, "note renamed.txt")
    check(wait_for(lambda: os.path.exists(renamed) and not os.path.exists(note), 5),
          "Return did not rename the note: %s" % os.listdir(docs))
    check(wait_for(lambda: not s.visible_windows("Rename"), 5), "the rename sheet stayed open")
    check(wait_for(lambda: renamed in recent_paths(s), 10),
          "the list did not follow the rename: %r" % recent_paths(s))
    s.screenshot("renamed")
    s.activate(win)
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Kelso$"), 5), "Escape at the top did not hide the window")
    s.quit_kelso(proc)


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
