#!/usr/bin/env python3
"""End-to-end scenarios for the tag editor.

The real `kelso` runs in a fresh home under the same display, window manager, tray and private
D-Bus session as the other end-to-end scenarios (the Session class of kelso_e2e.py). Files are
chosen in the Cooler with the mouse, the editor is opened with Return and typed into with
xdotool, and the result is read straight from the files' "user.xdg.tags" attributes and from
the recent-tags preference file. The favourite-tag buttons are found on the accessibility bus.

    tags_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import plistlib
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import (check, cooler_cell_centre, kelso_windows, run_main, tray_icon_centre,  # noqa: E402
                       wait_for, wait_for_new_window)
from a11y_e2e import find, kelso_app, start_a11y_bus, tree_text  # noqa: E402

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def xdg_tags(path):
    """The file's desktop tags as a list, in their stored order ([] without any)."""
    try:
        raw = os.getxattr(path, "user.xdg.tags", follow_symlinks=False)
    except OSError:
        return []
    return [t.strip() for t in raw.decode("utf-8").split(",") if t.strip()]


def recent_tags(s):
    """The recently entered tags, from whichever preference domain Kelso keeps them in."""
    config = s.env["XDG_CONFIG_HOME"]
    for domain in ("com.lumitag.shared", "com.tallow.kelso"):
        path = os.path.join(config, domain + ".plist")
        if not os.path.exists(path):
            continue
        try:
            with open(path, "rb") as f:
                value = plistlib.load(f).get("recentlyEnteredTags")
        except Exception:
            continue
        if value:
            return list(value)
    return []


def show_cooler(s, proc):
    s.kelso("show")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear")
    main = s.visible_windows("^Kelso$")[0]
    s.activate(main)
    time.sleep(1.5)
    return main


def click_cell(s, index, ctrl=False):
    cx, cy = cooler_cell_centre(s, index)
    s.xdotool("mousemove", "--sync", str(cx), str(cy))
    if ctrl:
        s.xdotool("keydown", "ctrl")
    s.xdotool("click", "1")
    if ctrl:
        s.xdotool("keyup", "ctrl")
    time.sleep(0.3)


def open_editor(s, title):
    s.xdotool("key", "Return")
    check(wait_for(lambda: s.visible_windows(title), 10), "Return opened no tag editor titled %r" % title)
    editor = s.visible_windows(title)[0]
    s.activate(editor)
    time.sleep(0.5)
    return editor


@scenario
def tags_editor_two_files(s):
    """Two Cooler files, Return, `Urgent,` and a second tag typed, then the user turns to the
    main window: both files keep their own tags and carry the two new ones, the recent tags start
    with them, and the favourite buttons offer them when the editor opens again."""
    s.start_display()
    Atspi = start_a11y_bus(s)
    docs = os.path.join(s.home, "Documents")
    first = s.make_jpeg(os.path.join(docs, "harbour.jpg"), "600x400", "skyblue-navy")
    second = s.make_jpeg(os.path.join(docs, "meadow.jpg"), "600x400", "gold-darkgreen")
    check(s.kelso("tags", "set", "Work", first).returncode == 0, "kelso tags set failed")
    check(s.kelso("tags", "set", "Home", second).returncode == 0, "kelso tags set failed")
    check(s.kelso("rate", "4", first).returncode == 0, "kelso rate failed")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", first, second).returncode == 0, "cooler add failed")
    main = show_cooler(s, proc)
    click_cell(s, 0)
    click_cell(s, 1, ctrl=True)
    open_editor(s, "^Tags of 2 files$")
    s.xdotool("type", "--delay", "40", "Urgent,")
    s.xdotool("type", "--delay", "40", "Deadline")
    time.sleep(0.3)
    s.screenshot("typed")
    check(xdg_tags(first) == ["Work"] and xdg_tags(second) == ["Home"], "written before the editor was left")
    # The user turns to the main window: the editor loses the keyboard and writes.
    s.activate(main)
    check(wait_for(lambda: not s.visible_windows("^Tags of 2 files$"), 10), "the editor stayed up after being left")
    check(wait_for(lambda: xdg_tags(first) == ["Work", "Urgent", "Deadline"], 10),
          "the first file's tags are %r" % xdg_tags(first))
    check(xdg_tags(second) == ["Home", "Urgent", "Deadline"], "the second file's tags are %r" % xdg_tags(second))
    check(wait_for(lambda: recent_tags(s)[:2] == ["Urgent", "Deadline"], 10),
          "the recent tags are %r" % recent_tags(s)[:5])

    # Next time, on the first file alone: the favourite buttons offer the new tags.
    click_cell(s, 0)
    open_editor(s, "^Tags of harbour.jpg$")
    app = kelso_app(Atspi) if wait_for(lambda: kelso_app(Atspi) is not None, 20) else None
    check(app is not None, "Kelso is not listed on the accessibility bus")
    # The buttons are on/off toggles: screen readers see check boxes.
    def button(name):
        return find(app, "check box", name) or find(app, "toggle button", name) or find(app, "push button", name)
    check(wait_for(lambda: button("Urgent") is not None and button("Deadline") is not None, 10),
          "no favourite buttons for the new tags; the tree:\n" + tree_text(app))
    time.sleep(1.0)
    s.screenshot("tag-editor")
    # Escape leaves the file as it was.
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Tags of harbour.jpg$"), 10), "Escape left the editor up")
    check(xdg_tags(first) == ["Work", "Urgent", "Deadline"], "Escape changed the tags: %r" % xdg_tags(first))
    s.quit_kelso(proc)


@scenario
def tags_editor_escape(s):
    """Typing tags and pressing Escape writes nothing, not even when Kelso quits afterwards."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    photo = s.make_jpeg(os.path.join(docs, "pier.jpg"), "500x400", "white-navy")
    check(s.kelso("tags", "set", "Keep", photo).returncode == 0, "kelso tags set failed")
    before = os.getxattr(photo, "user.xdg.tags")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", photo).returncode == 0, "cooler add failed")
    show_cooler(s, proc)
    click_cell(s, 0)
    open_editor(s, "^Tags of pier.jpg$")
    s.xdotool("type", "--delay", "40", "Nope,Never")
    time.sleep(0.3)
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Tags of pier.jpg$"), 10), "Escape left the editor up")
    time.sleep(1.0)
    check(os.getxattr(photo, "user.xdg.tags") == before, "Escape wrote %r" % xdg_tags(photo))
    s.quit_kelso(proc)
    check(os.getxattr(photo, "user.xdg.tags") == before, "quitting wrote %r" % xdg_tags(photo))
    check("Nope" not in recent_tags(s), "the dropped tags joined the recent tags: %r" % recent_tags(s))


@scenario
def tags_search_window(s):
    """"Search Tags…" in the tray menu opens the tag search window (its favourite buttons hold
    the tag just entered in the editor); Escape closes it."""
    s.start_display()
    docs = os.path.join(s.home, "Documents")
    photo = s.make_jpeg(os.path.join(docs, "quay.jpg"), "500x400", "white-navy")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", photo).returncode == 0, "cooler add failed")
    # A tag entered in the editor becomes a recent tag.
    main = show_cooler(s, proc)
    click_cell(s, 0)
    open_editor(s, "^Tags of quay.jpg$")
    s.xdotool("type", "--delay", "40", "Harbour,")
    s.activate(main)
    check(wait_for(lambda: xdg_tags(photo) == ["Harbour"], 10), "the tag was not written: %r" % xdg_tags(photo))
    s.kelso("hide")

    check(wait_for(lambda: tray_icon_centre(s) is not None, 15), "no Kelso icon in the tray")
    before = kelso_windows(s)
    x, y = tray_icon_centre(s)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "3")
    menu = wait_for_new_window(s, before)
    check(menu, "a right-click on the tray icon opened no menu")
    # "Open Kelso", "Check for Updates…", then "Search Tags…".
    for key in ("Down", "Down", "Down", "Return"):
        s.xdotool("key", key)
        time.sleep(0.15)
    check(wait_for(lambda: s.visible_windows("^Search Tags$"), 10), "the tag search window did not open")
    window = s.visible_windows("^Search Tags$")[0]
    s.activate(window)
    time.sleep(0.5)
    s.screenshot("tag-search")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Search Tags$"), 10), "Escape left the search window up")
    s.quit_kelso(proc)


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
