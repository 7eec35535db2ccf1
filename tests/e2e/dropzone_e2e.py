#!/usr/bin/env python3
"""End-to-end scenarios for the drop zone at the screen's edge.

The real `kelso` runs in a fresh home under the display, window manager, compositor, tray and
private D-Bus session of the other end-to-end scenarios (the Session class of kelso_e2e.py). A
small Qt program (kelso_drag_source, named by $KELSO_DRAG_SOURCE) starts a real XDND drag of
files or text when xdotool presses the button in its window; xdotool then moves the pointer the
way a hand would and releases it where the drop should land.

On the 1440 x 900 screen the hidden zone sits at x 1438 (2 points showing), the shown one at
x 1342, both 300 high and centred (y 300).

    dropzone_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, run_main, wait_for  # noqa: E402

SCENARIOS = {}
ZONE = "^Kelso Drop Zone$"
HIDDEN_X, SHOWN_X, LEFT_HIDDEN_X = 1438, 1342, -98


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def drag_source_binary():
    path = os.environ.get("KELSO_DRAG_SOURCE", "")
    check(path and os.access(path, os.X_OK), "KELSO_DRAG_SOURCE does not name the drag program: %r" % path)
    return path


def start(s):
    s.start_display()
    s.log_area("dropzone", "info")
    s.log_area("dropzone", "debug")
    s.log_area("platform", "debug")
    proc = s.start_kelso()
    s.wait_started(proc)
    check(wait_for(lambda: s.visible_windows(ZONE), 10), "the drop zone's window is not there")
    return proc


def zone_frame(s):
    return s.window_geometry(ZONE)


def zone_x(s):
    return zone_frame(s)[0]


def make_files(s, count, folder="Documents"):
    paths = []
    for i in range(count):
        path = os.path.join(s.home, folder, "note %02d.txt" % i)
        with open(path, "w") as f:
            f.write("note %d\n" % i)
        paths.append(path)
    return paths


class Drag:
    """A drag from the drag program's window, moved by xdotool."""

    def __init__(self, s, files=None, text=None):
        self.s = s
        args = ["--files", *files] if files is not None else ["--text", text]
        self.proc = subprocess.Popen([drag_source_binary(), *args], env=s.env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        s.helpers.append(self.proc)
        check(wait_for(lambda: s.visible_windows("^Drag Source$"), 10), "the drag program's window did not appear")
        time.sleep(0.5)
        self.x, self.y = 200, 150
        s.xdotool("mousemove", "--sync", str(self.x), str(self.y))
        time.sleep(0.2)
        s.xdotool("mousedown", "1")
        time.sleep(0.5)  # the drag takes the selection and the pointer

    def move_to(self, x, y, steps=12, pause=0.04, each=None):
        """Small steps, as a hand moves. Relative moves go through the XTEST device, as a
        mouse's do through its own: a plain `mousemove` warps the pointer, which is no device
        input and makes no raw motion event."""
        x0, y0 = self.x, self.y
        for k in range(1, steps + 1):
            nx, ny = x0 + (x - x0) * k // steps, y0 + (y - y0) * k // steps
            self.s.xdotool("mousemove_relative", "--", str(nx - self.x), str(ny - self.y))
            self.x, self.y = nx, ny
            time.sleep(pause)
            if each:
                each()

    def release(self):
        self.s.xdotool("mouseup", "1")
        try:
            out, _ = self.proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure("the drag did not end after the button came up")
        return out


def approach_right_edge(drag, each=None):
    """Away from the edge first (beyond 550 points), then towards it, ending over the strip's
    height just left of the hidden zone."""
    drag.move_to(250, 450, steps=6, each=each)
    drag.move_to(1330, 450, steps=20, each=each)


@scenario
def dropzone_slides_in_and_out(s):
    """Two files dragged away and then towards the right edge slide the zone in; releasing the
    button hides it half a second later. It never takes the focus."""
    proc = start(s)
    check(zone_x(s) == HIDDEN_X, "the hidden zone is at %r, not x %d" % (zone_frame(s), HIDDEN_X))
    files = make_files(s, 2)
    drag = Drag(s, files=files)
    focused = s.active_window()
    approach_right_edge(drag)
    check(wait_for(lambda: zone_x(s) == SHOWN_X, 5), "the zone did not slide in: %r" % (zone_frame(s),))
    x, y, w, h = zone_frame(s)
    check((y, w, h) == (300, 100, 300), "the shown zone is at %r" % ((x, y, w, h),))
    time.sleep(0.3)
    s.screenshot("zone-shown")
    check(s.active_window() == focused, "the zone took the focus when it slid in")
    drag.release()
    released = time.monotonic()
    time.sleep(0.2)
    check(zone_x(s) == SHOWN_X, "the zone left at once after the release, not half a second later")
    check(wait_for(lambda: zone_x(s) == HIDDEN_X, 5), "the zone did not slide out after the release")
    took = time.monotonic() - released
    check(0.4 <= took <= 2.0, "the zone slid out %.2f s after the release" % took)
    s.quit_kelso(proc)


def drop_at(s, x, y, count=2):
    files = make_files(s, count)
    drag = Drag(s, files=files)
    approach_right_edge(drag)
    check(wait_for(lambda: zone_x(s) == SHOWN_X, 5), "the zone did not slide in: %r" % (zone_frame(s),))
    time.sleep(0.4)  # the slide ends
    drag.move_to(x, y, steps=6)
    time.sleep(0.4)
    out = drag.release()
    return files, out


@scenario
def dropzone_drop_on_tags(s):
    """Two files dropped on the zone's upper half open the tag editor with those two files."""
    proc = start(s)
    files, out = drop_at(s, 1400, 360)
    check("drag ended: 1" in out, "the drop was not taken as a copy: %r" % out)
    check(wait_for(lambda: "2 files dropped on the tag target: %s" % ", ".join(files) in s.read_log(), 5),
          "the zone did not hand the two files to the tag editor; log:\n" + s.read_log()[-3000:])
    check(wait_for(lambda: s.visible_windows("Tags"), 10), "no tag editor window appeared")
    time.sleep(0.5)
    s.screenshot("tag-editor")
    check(wait_for(lambda: zone_x(s) == HIDDEN_X, 5), "the zone stayed in after the drop")
    check(all(os.path.exists(f) for f in files), "the drop moved or removed a file")
    s.quit_kelso(proc)


@scenario
def dropzone_drop_on_cooler(s):
    """Two files dropped on the zone's lower half go to the front of the Cooler, and the main
    window comes forward."""
    proc = start(s)
    kept = make_files(s, 1, "Desktop")
    check(s.kelso("cooler", "add", *kept).returncode == 0, "cooler add failed")
    files, out = drop_at(s, 1400, 530)
    check(wait_for(lambda: [i["path"] for i in s.cooler_items()][:2] == files, 10),
          "the dropped files are not at the front of the Cooler: %r" % [i["path"] for i in s.cooler_items()])
    check([i["path"] for i in s.cooler_items()][2:] == kept, "the Cooler lost what it held")
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the main window did not come forward")
    time.sleep(1)
    s.screenshot("cooler-drop")
    check(all(os.path.exists(f) for f in files), "the drop moved or removed a file")
    s.quit_kelso(proc)


def never_shows(s, drag):
    seen = []
    approach_right_edge(drag, each=lambda: seen.append(zone_x(s)))
    time.sleep(0.5)
    seen.append(zone_x(s))
    s.screenshot("zone-not-shown")
    drag.release()
    check(set(seen) == {HIDDEN_X}, "the zone moved during the drag: x %r" % sorted(set(seen)))


@scenario
def dropzone_twenty_files(s):
    """A drag of 20 files never shows the zone (though Kelso followed it and read its files)."""
    proc = start(s)
    never_shows(s, Drag(s, files=make_files(s, 20)))
    log = s.read_log()
    check("a new drag" in log and "the drag holds 20 files" in log, "Kelso did not follow the drag; log:\n" + log)
    check("left button up" in log, "Kelso did not see the drag end; log:\n" + log)
    s.quit_kelso(proc)


@scenario
def dropzone_text_drag(s):
    """A drag of text (no files) never shows the zone (though Kelso followed it)."""
    proc = start(s)
    never_shows(s, Drag(s, text="just some words"))
    log = s.read_log()
    check("a new drag" in log and "the drag holds 0 files" in log, "Kelso did not follow the drag; log:\n" + log)
    s.quit_kelso(proc)


@scenario
def dropzone_moved_to_left_edge(s):
    """Dragging the zone's strip into the left half moves it to the left edge, at the height it
    was dragged to; it stays there after a restart."""
    proc = start(s)
    s.xdotool("mousemove", "--sync", "1439", "450")
    time.sleep(0.2)
    s.xdotool("mousedown", "1")
    for k in range(1, 16):
        s.xdotool("mousemove", str(1439 - k * 80), str(450 - k * 8))
        time.sleep(0.04)
    s.xdotool("mouseup", "1")
    check(wait_for(lambda: zone_x(s) == LEFT_HIDDEN_X, 5), "the zone is at %r, not the left edge" % (zone_frame(s),))
    y = zone_frame(s)[1]
    check(y == 300 - 120, "the zone is at y %d, not where it was dragged to (180)" % y)
    s.screenshot("zone-left")
    s.quit_kelso(proc)
    settings = s.settings() or {}
    check(settings.get("KPDropZoneLeftEdge") is True, "the left edge was not saved: %r" % settings)
    proc = s.start_kelso()
    s.wait_started(proc)
    check(wait_for(lambda: s.visible_windows(ZONE), 10), "the drop zone's window is not there after a restart")
    check(wait_for(lambda: zone_frame(s)[:2] == (LEFT_HIDDEN_X, 180), 5),
          "after a restart the zone is at %r" % (zone_frame(s),))
    s.quit_kelso(proc)


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
