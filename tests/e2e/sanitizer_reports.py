#!/usr/bin/env python3
"""Sorts the sanitizer reports that an end-to-end run under ASan + UBSan left in a folder.

    sanitizer_reports.py LOG_DIR SOURCE_ROOT

Each report is one of:
  - Kelso's code: a frame lies in SOURCE_ROOT/src/. The run fails.
  - a decoder worker stopped by a hostile file: the process is `kelso --thumbnail-worker` and the
    faulting (topmost) frame lies outside Kelso's code (QtSvg recursing on a self-referencing SVG until the
    stack runs out, an image plugin reading past a truncated buffer...). The worker process exists
    to absorb exactly that: Kelso sees the worker die and carries on. Listed, does not fail.
  - cut off before its first frame: a decoder worker killed at its time limit while ASan was
    still writing up its fault. Listed, does not fail (a fault of Kelso's own process would end
    the process and fail the scenario).
  - anything else (a report wholly inside a library, in Kelso's own process): Kelso may have
    caused it (a dangling pointer handed to Qt, a widget deleted during its own event), so the
    run fails and the report is shown.
ASan names the process through ASAN_OPTIONS=print_cmdline=1 ("Command: ..." at the end of the
report); a report without that line counts as Kelso's own process.
Exit status: 0 when every report is expected, 1 otherwise.
"""
import os
import re
import sys

FRAME = re.compile(r"^\s*#(\d+) 0x[0-9a-f]+ in .*$", re.M)


def kelso_frame_pattern(root):
    root = re.escape(os.path.abspath(root))
    # Objects built in build/<preset> name their sources ../../src/...
    return re.compile(root + r"/(build/[^/\s]+/\.\./\.\./)?src/")


def first_stack(text):
    """The frames of the report's first stack (the fault's own), in order."""
    frames, seen_first = [], False
    for line in text.splitlines():
        m = re.match(r"^\s*#(\d+) ", line)
        if not m:
            if seen_first and frames:
                break
            continue
        if m.group(1) == "0" and frames:
            break
        seen_first = True
        frames.append(line)
    return frames


def is_runtime_frame(line):
    # Interceptors and the sanitizer runtime itself sit above the real faulting frame.
    return re.search(r"libasan|libubsan|sanitizer_common|/asan/|__interceptor_|__asan_", line) is not None


def classify(text, kelso):
    if not first_stack(text) and "runtime error" not in text:
        # Cut off before its first frame: the process was ended while ASan still wrote up its
        # fault (symbolizing a 250-frame recursion is slow), as a decoder worker is at its time
        # limit. A fault of Kelso's own process would also end it and fail the scenario.
        return "incomplete"
    command = re.search(r"^Command: (.*)$", text, re.M)
    if command and "--thumbnail-worker" in command.group(1).split():
        # Judged by the faulting frame: the worker's own decoding code lies below every fault.
        frames = [f for f in first_stack(text) if not is_runtime_frame(f)]
        if frames and not kelso.search(frames[0]):
            return "worker"
    return "kelso" if kelso.search(text) else "library"


def headline(text):
    m = re.search(r"^.*(ERROR: \w+Sanitizer|runtime error).*$", text, re.M)
    return m.group(0).strip() if m else text.splitlines()[0] if text else "(empty report)"


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    logs, root = sys.argv[1], sys.argv[2]
    kelso = kelso_frame_pattern(root)
    failed = 0
    names = sorted(os.listdir(logs)) if os.path.isdir(logs) else []
    for name in names:
        path = os.path.join(logs, name)
        with open(path, errors="replace") as f:
            text = f.read()
        kind = classify(text, kelso)
        if kind == "worker":
            print("== %s: expected, a decoder worker stopped by a hostile file: %s" % (path, headline(text)))
            continue
        if kind == "incomplete":
            print("== %s: cut off before its stack (a process ended while ASan wrote it): %s" % (path, headline(text)))
            continue
        failed += 1
        where = "Kelso's code" if kind == "kelso" else "inside a library, in Kelso's own process"
        print("== %s (%s)" % (path, where))
        print("\n".join(text.splitlines()[:80]))
    print("sanitizer reports: %d, expected %d, failing %d" % (len(names), len(names) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
