#!/usr/bin/env python3
"""The include check itself: it must fail on every kind of fault it exists for, name the file,
the line and the include, and pass a tree that keeps the order."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-layers.py")
REAL_SRC = os.path.join(ROOT, "src")

# A small tree that keeps the order: includes downwards, within a module, widget code
# including core code and lower widget code, generated and system headers.
CLEAN = {
    "util/Tilde.h": "#pragma once\n#include <QString>\n",
    "platform/Defaults.cpp": '#include "platform/Defaults.h"\n#include "util/Tilde.h"\n',
    "platform/fsevents/Backend.cpp": '#include "platform/Defaults.h"\n',
    "fileops/XPFileUtils.cpp": '#include "prefs/KLSettings.h"\n#include "platform/Defaults.h"\n',
    "fileops/gui/XPIcons.cpp": '#include "fileops/XPFileUtils.h"\n#include <QWidget>\n',
    "search/gui/Menu.cpp": '#include "fileops/gui/XPIcons.h"\n#include "search/KLFilePicker.h"\n',
    "browser/View.cpp": '#include "search/gui/Menu.h"\n#include "cooler/KLCoolerStore.h"\n',
    "app/gui/Main.cpp": '#include "app/KLCommandLine.h"\n#include "browser/View.h"\n'
                        '#include "kelsoappadaptor.h"\n',
    "app/KLToolCommands.cpp": '#include "cooler/KLCoolerCommand.h"\n#include "recent/KLItem.h"\n',
}


def make_tree(files):
    root = tempfile.mkdtemp(prefix="kelso-layers-")
    for rel, text in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    return root


def run(src):
    return subprocess.run([sys.executable, SCRIPT, src], capture_output=True, text=True, timeout=120)


class CheckLayersTest(unittest.TestCase):
    def check(self, extra):
        src = make_tree({**CLEAN, **extra})
        self.addCleanup(shutil.rmtree, src)
        return run(src)

    def assertFails(self, result, *expected):
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for text in expected:
            self.assertIn(text, result.stdout)

    def test_a_tree_in_order_passes(self):
        result = self.check({})
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout.strip(), "includes follow the module order")

    def test_an_upward_include_fails_with_file_line_and_include(self):
        result = self.check({"util/Dates.cpp": '#include "util/Tilde.h"\n\n#include "platform/Defaults.h"\n'})
        self.assertFails(result, 'util/Dates.cpp:3: #include "platform/Defaults.h"')

    def test_each_neighbouring_pair_of_the_order_is_enforced(self):
        # prefs below fileops, recent below cooler, cooler below search, browser below app.
        result = self.check({
            "prefs/KLUnwanted.cpp": '#include "fileops/XPOpenWith.h"\n',
            "recent/KLItem.cpp": '#include "cooler/KLItemListOps.h"\n',
            "cooler/KLCoolerCommand.cpp": '#include "search/KLFilePicker.h"\n',
            "browser/Cell.cpp": '#include "app/KLAppState.h"\n',
            "platform/typeregistry/TypeRegistry.cpp": '#include "fileops/XPFileUtils.h"\n',
        })
        self.assertFails(result,
                         'prefs/KLUnwanted.cpp:1: #include "fileops/XPOpenWith.h"',
                         'recent/KLItem.cpp:1: #include "cooler/KLItemListOps.h"',
                         'cooler/KLCoolerCommand.cpp:1: #include "search/KLFilePicker.h"',
                         'browser/Cell.cpp:1: #include "app/KLAppState.h"',
                         'platform/typeregistry/TypeRegistry.cpp:1: #include "fileops/XPFileUtils.h"')
        self.assertEqual(len(result.stdout.strip().splitlines()), 5, result.stdout)

    def test_core_code_may_not_include_widget_code_even_from_below(self):
        result = self.check({
            "recent/KLRecentFiles.cpp": '#include "fileops/gui/XPIcons.h"\n',
            "platform/Workspace.cpp": '#include "platform/x11/X11Display.h"\n',
            "app/KLCommandLine.cpp": '#include "app/gui/Main.h"\n',
        })
        self.assertFails(result,
                         'recent/KLRecentFiles.cpp:1: #include "fileops/gui/XPIcons.h"',
                         'platform/Workspace.cpp:1: #include "platform/x11/X11Display.h"',
                         'app/KLCommandLine.cpp:1: #include "app/gui/Main.h"')

    def test_angle_brackets_and_spacing_do_not_hide_an_include(self):
        result = self.check({"thumbs/KPQuickLook.cpp": '#include "thumbs/KPPool.h"\n  #  include <recent/KLItem.h>\n'})
        self.assertFails(result, "thumbs/KPQuickLook.cpp:2: #include <recent/KLItem.h>")

    def test_headers_are_checked_like_sources(self):
        result = self.check({"tags/Lumitag.h": '#pragma once\n#include "thumbs/KPCGImage.h"\n'})
        self.assertFails(result, 'tags/Lumitag.h:2: #include "thumbs/KPCGImage.h"')

    def test_commented_out_includes_are_ignored(self):
        result = self.check({"util/Paths.cpp": '// #include "app/KLAppState.h"\n/* #include "browser/View.h"\n'
                                                '#include "app/gui/Main.h" */\n#include "util/Tilde.h"\n'})
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_an_include_after_a_closed_comment_counts(self):
        result = self.check({"util/Paths.cpp": '/* old */ #include "app/KLAppState.h"\n'})
        self.assertFails(result, 'util/Paths.cpp:1: #include "app/KLAppState.h"')

    def test_a_folder_outside_the_order_fails(self):
        result = self.check({"extras/Thing.cpp": '#include "util/Tilde.h"\n'})
        self.assertFails(result, "extras/: folder not in the module order")

    def test_a_missing_folder_is_a_usage_error(self):
        result = run(os.path.join(tempfile.gettempdir(), "kelso-no-such-folder"))
        self.assertEqual(result.returncode, 2)

    def test_the_real_tree_with_one_planted_upward_include_fails(self):
        copy = os.path.join(tempfile.mkdtemp(prefix="kelso-layers-"), "src")
        self.addCleanup(shutil.rmtree, os.path.dirname(copy))
        shutil.copytree(REAL_SRC, copy)
        self.assertEqual(run(copy).returncode, 0, "the real tree should pass before the plant")
        planted = os.path.join(copy, "util", "Tilde.cpp")
        with open(planted, encoding="utf-8") as f:
            lines = f.read().split("\n")
        lines.insert(1, '#include "browser/KLImageBrowserCell.h"')
        with open(planted, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        result = run(copy)
        self.assertFails(result, 'util/Tilde.cpp:2: #include "browser/KLImageBrowserCell.h"')
        self.assertEqual(len(result.stdout.strip().splitlines()), 1, result.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
