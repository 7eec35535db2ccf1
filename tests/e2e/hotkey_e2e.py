#!/usr/bin/env python3
"""End-to-end scenarios for the global hot key.

The real `kelso` runs under the same display, window manager, tray and private D-Bus session as
the other scenarios (the Session class of kelso_e2e.py). Keys are typed with xdotool, which
goes through the X server, so they reach Kelso's key grab the way a keyboard's keys do.
`hotkey_holder` is a second X client that grabs a combination first, as another program would.

    hotkey_e2e.py --kelso build/default/bin/kelso --holder build/default/tests/e2e/hotkey_holder \
                  --out build/default/e2e SCENARIO
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import check, run_main, tray_icon_centre, wait_for  # noqa: E402

SCENARIOS = {}
SLASH = 61           # the "/" key of the X server's US layout
SUPER = 64           # Mod4, where the X server puts the Super keys
K = 45               # the "k" key
CONTROL_OPTION = 0x40000 | 0x80000


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def holder_path():
    return os.environ["KELSO_HOTKEY_HOLDER"]


def start(s):
    s.start_display()
    s.log_area("prefs", "info")
    proc = s.start_kelso()
    s.wait_started(proc)
    return proc


def shown(s):
    return bool(s.visible_windows("^Kelso$"))


def press(s, keys):
    r = s.xdotool("key", "--clearmodifiers", keys)
    check(r.returncode == 0, "xdotool key %s failed: %s" % (keys, r.stderr))


def stays_hidden(s, seconds=2.0):
    """True when the window does not appear within `seconds`."""
    return not wait_for(lambda: shown(s), seconds)


def log_count(s, text):
    return s.read_log().count(text)


def open_sheet_from_tray(s):
    """Right-click on the tray icon, then the fourth entry of the status menu ("Open Kelso",
    "Check for Updates", "Search Tags…", "Hot Key…")."""
    check(wait_for(lambda: tray_icon_centre(s) is not None, 15), "no Kelso icon in the tray")
    x, y = tray_icon_centre(s)
    s.xdotool("mousemove", "--sync", str(x), str(y))
    s.xdotool("click", "3")
    time.sleep(0.8)
    for _ in range(4):
        s.xdotool("key", "Down")
    s.xdotool("key", "Return")
    check(wait_for(lambda: s.visible_windows("^Assign Hot Key$"), 10), "the hot-key sheet did not open")
    sheet = s.visible_windows("^Assign Hot Key$")[0]
    s.activate(sheet)
    time.sleep(0.5)
    return sheet


def stored_key(s):
    s.kelso("show")  # any round trip: the settings are written half a second after a change
    time.sleep(1.5)
    settings = s.settings() or {}
    return settings.get("XPHotKeyKeyCode"), settings.get("XPHotKeyCharacter"), settings.get("XPModifierFlags")


@scenario
def hotkey_toggles(s):
    """Super+/ (the default ⌘/) shows Kelso from anywhere, and pressed again hides it."""
    proc = start(s)
    check(wait_for(lambda: "global hot key ⌘/ registered" in s.read_log(), 10),
          "the default hot key was not registered; log:\n" + s.read_log())
    check(not shown(s), "the window is up before the hot key was pressed")
    press(s, "super+slash")
    check(wait_for(lambda: shown(s), 10), "Super+/ did not show Kelso")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(1.0)
    s.screenshot("shown-by-hot-key")
    press(s, "super+slash")
    check(wait_for(lambda: not shown(s), 10), "Super+/ again did not hide Kelso")
    s.screenshot("hidden-by-hot-key")
    # The plain "/" and Super with another key do nothing.
    press(s, "slash")
    press(s, "super+period")
    check(stays_hidden(s), "a key other than the hot key showed Kelso")
    press(s, "super+slash")
    check(wait_for(lambda: shown(s), 10), "Super+/ did not show Kelso a second time")
    s.quit_kelso(proc)


@scenario
def hotkey_taken_then_retried(s):
    """Another X client holds Super+/: Kelso's registration fails, the user is told once, and a
    later activation registers the key once the other program let it go."""
    s.start_display()
    s.log_area("prefs", "info")
    holder = subprocess.Popen([holder_path(), str(SLASH), str(SUPER)], stdout=subprocess.PIPE, text=True,
                              env=s.env)
    s.helpers.append(holder)
    check(holder.stdout.readline().strip() == "grabbed", "the holder could not grab Super+/")
    proc = s.start_kelso()
    s.wait_started(proc)
    taken = "global hot key ⌘/ is taken by another program"
    check(wait_for(lambda: log_count(s, taken) == 1, 10), "no message that the hot key is taken; log:\n" +
          s.read_log())
    check(wait_for(lambda: s.visible_windows("^Hot Key Not Available$"), 10), "the user was not told")
    time.sleep(0.5)
    s.screenshot("hot-key-taken")
    box = s.visible_windows("^Hot Key Not Available$")[0]
    s.activate(box)
    s.xdotool("key", "Return")
    check(wait_for(lambda: not s.visible_windows("^Hot Key Not Available$"), 5), "the message did not close")
    # Each activation tries again; the user is not told again.
    for _ in range(2):
        s.kelso("show")
        check(wait_for(lambda: shown(s), 10), "kelso show did not show the window")
        s.activate(s.visible_windows("^Kelso$")[0])
        time.sleep(0.5)
        s.kelso("hide")
        check(wait_for(lambda: not shown(s), 10), "kelso hide did not hide the window")
    check(log_count(s, taken) == 1, "told %d times that the key is taken" % log_count(s, taken))
    check(not s.visible_windows("^Hot Key Not Available$"), "the message came back")
    press(s, "super+slash")
    check(stays_hidden(s), "Super+/ reached Kelso while another program held it")

    holder.kill()
    holder.wait(5)
    s.kelso("show")
    check(wait_for(lambda: shown(s), 10), "kelso show did not show the window")
    s.activate(s.visible_windows("^Kelso$")[0])
    check(wait_for(lambda: "global hot key ⌘/ registered" in s.read_log(), 10),
          "the registration was not tried again after the other program let go; log:\n" + s.read_log())
    time.sleep(1.0)
    press(s, "super+slash")
    check(wait_for(lambda: not shown(s), 10), "Super+/ did not hide Kelso after the retry")
    press(s, "super+slash")
    check(wait_for(lambda: shown(s), 10), "Super+/ did not show Kelso after the retry")
    s.quit_kelso(proc)


@scenario
def hotkey_changed_in_sheet(s):
    """A combination recorded in the sheet replaces the old one at once; Cancel brings the old
    combination back (settings, registration and the menu text)."""
    proc = start(s)
    check(wait_for(lambda: "global hot key ⌘/ registered" in s.read_log(), 10), "the default key was not registered")

    open_sheet_from_tray(s)
    s.screenshot("sheet-opened")
    press(s, "ctrl+alt+k")
    time.sleep(0.5)
    s.screenshot("sheet-recorded")
    s.xdotool("key", "Return")
    check(wait_for(lambda: not s.visible_windows("^Assign Hot Key$"), 5), "Return did not close the sheet")
    check(wait_for(lambda: "global hot key ⌃⌥K registered" in s.read_log(), 10),
          "the recorded key was not registered; log:\n" + s.read_log())
    code, char, flags = stored_key(s)
    check((code, char, flags) == (K, ord("k"), CONTROL_OPTION),
          "stored %r instead of the K key with Ctrl+Alt" % ((code, char, flags),))

    s.kelso("hide")
    check(wait_for(lambda: not shown(s), 10), "kelso hide did not hide the window")
    press(s, "super+slash")
    check(stays_hidden(s), "the old key Super+/ still shows Kelso")
    press(s, "ctrl+alt+k")
    check(wait_for(lambda: shown(s), 10), "the new key Ctrl+Alt+K did not show Kelso")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(0.5)
    press(s, "ctrl+alt+k")
    check(wait_for(lambda: not shown(s), 10), "the new key Ctrl+Alt+K did not hide Kelso")

    # Cancel: a key pressed in the sheet is taken back.
    open_sheet_from_tray(s)
    press(s, "super+F5")
    time.sleep(0.5)
    s.screenshot("sheet-before-cancel")
    s.xdotool("key", "Escape")
    check(wait_for(lambda: not s.visible_windows("^Assign Hot Key$"), 5), "Escape did not close the sheet")
    code, char, flags = stored_key(s)
    check((code, char, flags) == (K, ord("k"), CONTROL_OPTION),
          "Cancel left %r instead of the K key with Ctrl+Alt" % ((code, char, flags),))
    s.kelso("hide")
    check(wait_for(lambda: not shown(s), 10), "kelso hide did not hide the window")
    press(s, "super+F5")
    check(stays_hidden(s), "the cancelled key Super+F5 shows Kelso")
    press(s, "ctrl+alt+k")
    check(wait_for(lambda: shown(s), 10), "after Cancel Ctrl+Alt+K did not show Kelso")
    s.quit_kelso(proc)


@scenario
def hotkey_keyboard_change(s):
    """A new keymap that moves Super from Mod4 to Mod3 (as another keyboard or layout may):
    Kelso grabs the key again with the new modifier bit, so Super+/ keeps working."""
    proc = start(s)
    registered = "global hot key ⌘/ registered"
    check(wait_for(lambda: registered in s.read_log(), 10), "the default key was not registered")
    press(s, "super+slash")
    check(wait_for(lambda: shown(s), 10), "Super+/ did not show Kelso")
    s.activate(s.visible_windows("^Kelso$")[0])
    time.sleep(0.5)
    press(s, "super+slash")
    check(wait_for(lambda: not shown(s), 10), "Super+/ did not hide Kelso")
    time.sleep(1.0)

    keymap = os.path.join(s.home, "keymap.xkb")
    r = subprocess.run(["xkbcomp", s.env["DISPLAY"], keymap], env=s.env, capture_output=True, text=True)
    check(r.returncode == 0, "xkbcomp could not read the keymap: %s" % r.stderr)
    with open(keymap) as f:
        text = f.read()
    moved = text
    for key in ("<LWIN>", "<RWIN>", "<SUPR>", "<HYPR>"):
        moved = moved.replace("modifier_map Mod4 { %s };" % key, "modifier_map Mod3 { %s };" % key)
    check(moved != text, "the keymap has no Super keys on Mod4 to move")
    with open(keymap, "w") as f:
        f.write(moved)
    before = log_count(s, registered)
    r = subprocess.run(["xkbcomp", keymap, s.env["DISPLAY"]], env=s.env, capture_output=True, text=True)
    check(r.returncode == 0, "xkbcomp could not load the keymap: %s" % r.stderr)
    check(wait_for(lambda: log_count(s, registered) > before, 10),
          "the key was not grabbed again after the keymap changed; log:\n" + s.read_log())
    time.sleep(0.5)
    press(s, "super+slash")
    check(wait_for(lambda: shown(s), 10), "after Super moved to Mod3, Super+/ did not show Kelso")
    s.screenshot("shown-after-keymap-change")
    s.quit_kelso(proc)


def main():
    # --holder names the helper program; the scenario runs in a process of its own (inside
    # dbus-run-session), which finds it in the environment.
    if "--holder" in sys.argv:
        i = sys.argv.index("--holder")
        os.environ["KELSO_HOTKEY_HOLDER"] = os.path.abspath(sys.argv[i + 1])
        del sys.argv[i:i + 2]
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
