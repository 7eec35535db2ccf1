#!/usr/bin/env python3
"""End-to-end scenarios for the context-menu entries whose facts and work come from worker
threads: the "Open With" submenu (its applications are found after the menu is up) and
"Move to Filed Documents" (its entry waits for the files' marks; the filing itself runs off
the window's thread).

The real `kelso` runs under the display, window manager, tray and private D-Bus session of the
other scenarios (the Session class of kelso_e2e.py), with the stand-in applications of
commands_e2e.py.

    menu_actions_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import datetime
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import check, cooler_cell_centre, kelso_windows, run_main, wait_for, wait_for_new_window  # noqa: E402
from commands_e2e import install_applications, launches, show_window, write  # noqa: E402

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def cooler_menu(s, index=0):
    before = kelso_windows(s)
    x, y = cooler_cell_centre(s, index)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "3")
    menu = wait_for_new_window(s, before)
    check(menu, "a right-click on Cooler cell %d opened no menu" % index)
    time.sleep(0.8)
    return menu


def keys(s, *names, pause=0.3):
    for name in names:
        s.xdotool("key", name)
        time.sleep(pause)


@scenario
def menu_open_with_fills(s):
    """The first entry of a cell's menu, "Open With…", lists the desktop's default application
    for the file once the applications are found; choosing it launches that application."""
    install_applications(s)
    s.start_display()
    notes = write(os.path.join(s.home, "Documents", "todo.txt"), "milk\n")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", notes).returncode == 0, "cooler add failed")
    show_window(s)
    cooler_menu(s)
    keys(s, "Down")
    keys(s, "Right", pause=1.0)
    shot = s.screenshot("open-with-submenu")
    print("screenshot: " + shot)
    # The submenu opens on its first entry, the default application: Return launches it.
    keys(s, "Return")
    check(wait_for(lambda: "editor " + notes in launches(s), 15),
          "the default application was not launched from Open With: %r" % launches(s))
    s.quit_kelso(proc)


@scenario
def menu_filing_moves_file(s):
    """"Move to Filed Documents" from a Cooler cell's menu files the document into today's
    folder (the entry is there once the file's mark has been read)."""
    s.start_display()
    filed_root = os.path.join(s.home, "Documents", "Filed Documents")
    os.makedirs(filed_root)
    bill = write(os.path.join(s.home, "Desktop", "Bill.txt"), "pay me\n")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(s.kelso("cooler", "add", bill).returncode == 0, "cooler add failed")
    show_window(s)
    cooler_menu(s)
    # From the top: Open With, Open, Rename, Edit Tags, Enclosing Folders, Show in File
    # Manager, Properties, then (after a separator) Mark as Managed and Move to Filed Documents.
    keys(s, *(["Down"] * 9))
    shot = s.screenshot("filing-entry")
    print("screenshot: " + shot)
    keys(s, "Return")
    today = datetime.date.today()
    filed = os.path.join(filed_root, str(today.year), str(today.month), str(today.day), "Bill.txt")
    check(wait_for(lambda: os.path.exists(filed), 15), "the file was not filed at %s" % filed)
    check(not os.path.exists(bill), "the file is still on the desktop")
    with open(filed) as f:
        check(f.read() == "pay me\n", "the filed file's content changed")
    check(any("kMDItemLTManaged" in n for n in os.listxattr(filed)), "the managed mark is missing")
    time.sleep(1)
    print("screenshot: " + s.screenshot("after-filing"))
    s.quit_kelso(proc)


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
