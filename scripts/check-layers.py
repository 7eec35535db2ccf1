#!/usr/bin/env python3
"""Checks that the includes under src/ follow the module order.

Each top-level folder of src/ is a module, ordered from the bottom:

    util < platform < prefs < fileops < tags < thumbs < recent < cooler < search
         < browser < dropzone < app

A file may include headers of its own module or of a lower one. Widget code lives in the
folders named in GUI_FOLDERS; a file outside them (a core file, built into kelso_core) never
includes a header from one of them. A folder under src/ that is not in the order fails the
check too, so that the order stays total.

Usage: check-layers.py [SRC_DIR]   (default: the src/ beside this script's folder)
Prints file:line and the include for each fault; exits 1 when there is one, 0 otherwise.
"""

import os
import re
import sys

MODULE_ORDER = [
    "util",
    "platform",
    "prefs",
    "fileops",
    "tags",
    "thumbs",
    "recent",
    "cooler",
    "search",
    "browser",
    "dropzone",
    "app",
]

# Folders (relative to src/) whose files use widgets; everything below them is widget code.
GUI_FOLDERS = [
    "platform/x11",
    "fileops/gui",
    "tags/editor",
    "search/gui",
    "browser",
    "dropzone",
    "app/gui",
]

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".cxx")
INCLUDE = re.compile(r'^\s*#\s*include\s*(<([^>]+)>|"([^"]+)")')


def is_gui(path):
    return any(path == folder or path.startswith(folder + "/") for folder in GUI_FOLDERS)


def rank(path):
    return MODULE_ORDER.index(path.split("/", 1)[0])


def strip_block_comments(lines):
    """Yields (line number, text) with /* ... */ comments blanked out."""
    in_comment = False
    for number, line in enumerate(lines, 1):
        text = ""
        rest = line
        while rest:
            if in_comment:
                end = rest.find("*/")
                if end < 0:
                    rest = ""
                else:
                    rest = rest[end + 2:]
                    in_comment = False
            else:
                start = rest.find("/*")
                if start < 0:
                    text += rest
                    rest = ""
                else:
                    text += rest[:start]
                    rest = rest[start + 2:]
                    in_comment = True
        yield number, text


def check_file(src, rel):
    """Answers the faults of one file as printable lines."""
    faults = []
    with open(os.path.join(src, rel), encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    for number, text in strip_block_comments(lines):
        match = INCLUDE.match(text)
        if not match:
            continue
        target = os.path.normpath(match.group(2) or match.group(3)).replace(os.sep, "/")
        module = target.split("/", 1)[0]
        # Only includes of Kelso's own folders count ("kelsoappadaptor.h", <QString> do not).
        if "/" not in target or module not in MODULE_ORDER:
            continue
        where = f"{rel}:{number}: #include {match.group(1)}"
        if rank(target) > rank(rel):
            faults.append(f"{where}: {rel.split('/', 1)[0]} may not include {module} (a higher layer)")
        elif is_gui(target) and not is_gui(rel):
            faults.append(f"{where}: a core file may not include widget code")
    return faults


def check_tree(src):
    faults = []
    for entry in sorted(os.listdir(src)):
        if os.path.isdir(os.path.join(src, entry)) and entry not in MODULE_ORDER:
            faults.append(f"{entry}/: folder not in the module order of {os.path.basename(__file__)}")
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            rel = os.path.relpath(os.path.join(root, name), src).replace(os.sep, "/")
            if "/" not in rel:
                continue  # files at the top of src/ belong to no module
            if rel.split("/", 1)[0] not in MODULE_ORDER:
                continue  # reported above as a folder
            faults.extend(check_file(src, rel))
    return faults


def main(argv):
    if len(argv) > 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    here = os.path.dirname(os.path.abspath(__file__))
    src = argv[1] if len(argv) == 2 else os.path.join(here, "..", "src")
    if not os.path.isdir(src):
        print(f"{src}: no such folder", file=sys.stderr)
        return 2
    faults = check_tree(src)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the module order", file=sys.stderr)
        return 1
    print("includes follow the module order")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
