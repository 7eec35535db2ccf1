#!/usr/bin/env python3
"""End-to-end scenarios with files made to hurt a decoder.

A self-referencing SVG (QtSvg overflows its stack on it) and a PDF whose page tree holds itself
(the PDF renderer never finishes) arrive in ~/Downloads while Kelso runs, as a new user's
downloads would. Kelso must show both with their type icons, fall back to idle, remember the
failures across a restart, and quit within two seconds even while a decoder is busy.

    hostile_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import hashlib
import os
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import check, run_main, wait_for  # noqa: E402

SCENARIOS = {}
TICKS = os.sysconf("SC_CLK_TCK")


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def self_referencing_svg(path):
    with open(path, "w") as f:
        f.write("<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
                "width='64' height='64'><image xlink:href='%s' width='64' height='64'/></svg>" % path)
    return path


def looping_pdf(path):
    """A PDF whose page tree holds itself, with a cross-reference table (so the renderer trusts
    the structure instead of rebuilding it)."""
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [2 0 R] /Count 1 >>"]
    out = b"%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(path, "wb") as f:
        f.write(out)
    return path


def failure_records(s):
    """Kelso's failure records: {file name: modification time}."""
    root = os.path.join(s.env["XDG_CACHE_HOME"], "thumbnails", "fail")
    found = {}
    if os.path.isdir(root):
        for folder in os.listdir(root):
            if folder.startswith("kelso-"):
                for name in os.listdir(os.path.join(root, folder)):
                    found[name] = os.stat(os.path.join(root, folder, name)).st_mtime_ns
    return found


def record_name(path):
    uri = "file://" + urllib.parse.quote(path, safe="/!$&'()*+,-.:=@_~")
    return hashlib.md5(uri.encode()).hexdigest() + ".png"


def cpu_seconds(s):
    """CPU time used so far by Kelso and its decoder workers (live processes)."""
    total = 0
    for pid in s.kelso_pids(include_workers=True):
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / TICKS


def workers(s):
    found = []
    for pid in s.kelso_pids(include_workers=True):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if b"--thumbnail-worker" in f.read():
                    found.append(pid)
        except OSError:
            pass
    return found


def show_and_wait_for(s, paths, timeout=30):
    r = s.kelso("show")
    check(r.returncode == 0, "kelso show failed: " + r.stderr)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 10), "the window did not appear on 'kelso show'")
    listed = lambda: [i["path"] for i in s.recent_items()]  # noqa: E731
    check(wait_for(lambda: all(p in listed() for p in paths), timeout),
          "the recent files do not list %r: %r" % (paths, listed()))


def timed_quit(s, proc):
    started = time.monotonic()
    s.quit_kelso(proc)
    took = time.monotonic() - started
    print("kelso quit took %.2f s" % took)
    check(took < 2.0, "kelso quit took %.2f s" % took)
    left = lambda: s.kelso_pids(include_workers=True)
    check(wait_for(lambda: not left(), 2), "processes left after quitting: %r" % left())
    return took


@scenario
def hostile_downloads(s):
    """Type icons within 5 s, idle within 10 s, no second try after a restart, a prompt quit."""
    s.start_display()
    downloads = os.path.join(s.home, "Downloads")
    proc = s.start_kelso()
    s.wait_started(proc)
    time.sleep(1)
    svg = self_referencing_svg(os.path.join(downloads, "invitation.svg"))
    pdf = looping_pdf(os.path.join(downloads, "statement.pdf"))
    photo = s.make_jpeg(os.path.join(downloads, "holiday.jpg"), "640x480", "orange-purple")
    show_and_wait_for(s, [svg, pdf, photo])
    shown = time.monotonic()
    # Both hostile files end as failures (so their cells keep the type icon), within 5 s.
    wanted = {record_name(svg), record_name(pdf)}
    check(wait_for(lambda: wanted <= set(failure_records(s)), 5),
          "no failure records for both files 5 s after showing: %r" % failure_records(s))
    print("failures recorded %.1f s after showing" % (time.monotonic() - shown))
    check(proc.poll() is None, "kelso died (status %s)" % proc.returncode)
    print("screenshot: " + s.screenshot("type-icons"))

    # Idle within 10 s of showing: under 5 % of a core over a 2-second window.
    def idle():
        before = cpu_seconds(s)
        time.sleep(2)
        used = (cpu_seconds(s) - before) / 2
        print("CPU %.1f %% at %.1f s" % (used * 100, time.monotonic() - shown))
        return used < 0.05
    check(wait_for(idle, max(0.0, 10 - (time.monotonic() - shown) - 2), 0.0),
          "Kelso did not fall back to idle within 10 s")
    log_lines = s.read_log().count("gets its icon")
    check(log_lines >= 2, "no log line for the failed files:\n" + s.read_log()[-3000:])
    timed_quit(s, proc)

    # A restart does not try them again: no decoder starts, no record is rewritten.
    records = failure_records(s)
    proc = s.start_kelso()
    s.wait_started(proc)
    show_and_wait_for(s, [svg, pdf, photo])
    seen = []
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        seen += workers(s)
        time.sleep(0.1)
    print("screenshot: " + s.screenshot("after-restart"))
    check(failure_records(s) == records, "failure records rewritten after the restart")
    check(s.read_log().count("gets its icon") == log_lines, "the files were decoded again after the restart")
    check(not seen, "decoder workers ran after the restart although every picture was known: %r" % seen)
    timed_quit(s, proc)

    # Quit while a decoder is stuck in a PDF: still under two seconds.
    proc = s.start_kelso()
    s.wait_started(proc)
    fresh = looping_pdf(os.path.join(downloads, "statement (1).pdf"))
    show_and_wait_for(s, [fresh])
    check(wait_for(lambda: workers(s), 15), "no decoder ran for the new PDF")
    time.sleep(0.5)
    timed_quit(s, proc)
    check(record_name(fresh) not in failure_records(s), "a file interrupted by the quit was recorded as failed")


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
