#!/usr/bin/env python3
"""What an installation of Kelso consists of: the desktop entry, the AppStream metadata, the
manual page and the bash completion are valid and cover every command the program has, and
`cmake --install` with a prefix and DESTDIR lays them out where the desktop looks for them.

    release_files_test.py --source DIR --build DIR --kelso PATH
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

ARGS = None


def source(*parts):
    return os.path.join(os.path.abspath(ARGS.source), *parts)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def tool_commands():
    """The command words of the program's table of tools, and the four window controls."""
    table = read(source("src", "app", "KLToolCommands.cpp"))
    names = re.findall(r'\{QStringLiteral\("([a-z-]+)"\), run\w+Command\}', table)
    assert len(names) >= 10, "the tool table was not understood: %r" % names
    return ["show", "hide", "toggle", "quit"] + names


def complete(line):
    """The words bash completion offers at the end of `line`."""
    script = (
        "source /usr/share/bash-completion/bash_completion\n"
        "source '%s'\n"
        "COMP_LINE='%s'; COMP_POINT=${#COMP_LINE}\n"
        "read -ra COMP_WORDS <<< \"$COMP_LINE\"\n"
        "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
        "_kelso kelso \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        "printf '%%s\\n' \"${COMPREPLY[@]}\"\n" % (source("resources", "completion", "kelso.bash"), line))
    r = subprocess.run(["bash", "-c", script], capture_output=True, text=True, timeout=30,
                       cwd=tempfile.gettempdir())
    if r.returncode != 0:
        raise AssertionError("completion failed: " + r.stderr)
    return set(w for w in r.stdout.split("\n") if w)


class DesktopEntry(unittest.TestCase):
    def test_validates_clean_and_takes_files(self):
        path = source("resources", "kelso.desktop")
        r = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(r.stdout + r.stderr, "", "desktop-file-validate has remarks")
        self.assertIn("\nExec=kelso %F\n", read(path))
        self.assertIn("\nIcon=kelso\n", read(path))


class Metainfo(unittest.TestCase):
    path = None

    def setUp(self):
        self.path = source("resources", "metainfo", "com.tallow.kelso.metainfo.xml")

    def test_validates_clean(self):
        r = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic", self.path],
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertNotRegex(r.stdout, r"^[EWIP]: ", "appstreamcli has remarks:\n" + r.stdout)

    def test_launches_the_installed_entry_and_owns_the_bus_name(self):
        root = ET.parse(self.path).getroot()
        launchable = root.find("launchable").text
        self.assertTrue(os.path.isfile(source("resources", launchable)), launchable)
        self.assertEqual(root.find("provides/dbus").text, "com.tallow.kelso")
        service = read(source("resources", "dbus", "com.tallow.kelso.service.in"))
        self.assertIn("\nName=com.tallow.kelso\n", service)

    def test_screenshots_are_pictures_in_the_repository(self):
        images = [e.text for e in ET.parse(self.path).getroot().iter("image")]
        self.assertGreaterEqual(len(images), 5)
        for url in images:
            self.assertTrue(url.startswith("https://"), url)
            relative = re.sub(r"^https://[^/]+/raw/main/", "", url)
            self.assertTrue(relative.startswith("docs/") and relative.endswith(".png"), url)
            with open(source(relative), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", relative + " is not a PNG picture")


class CommandsDocumented(unittest.TestCase):
    def test_man_page_has_every_command_and_renders_without_warnings(self):
        path = source("resources", "man", "kelso.1")
        r = subprocess.run(["groff", "-man", "-ww", "-z", path], capture_output=True, text=True, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        r = subprocess.run(["groff", "-man", "-Tutf8", "-P-cbou", path], capture_output=True, timeout=60,
                           env=dict(os.environ, MANWIDTH="200"))
        self.assertEqual(r.returncode, 0)
        text = r.stdout.decode("utf-8").replace("\u2010", "-")
        synopsis = text[text.index("SYNOPSIS"):text.index("DESCRIPTION")]
        commands = text[text.index("COMMANDS"):text.index("OPTIONS")]
        for name in tool_commands():
            self.assertRegex(synopsis, r"\bkelso (\S+ \| )*%s\b" % re.escape(name), "the synopsis lacks " + name)
            self.assertRegex(commands, r"\n {7}%s\b" % re.escape(name), "the command list lacks " + name)

    def test_help_names_every_command(self):
        r = subprocess.run([ARGS.kelso, "--help"], capture_output=True, text=True, timeout=30,
                           env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.assertEqual(r.returncode, 0, r.stderr)
        text = r.stdout + r.stderr
        for name in tool_commands():
            self.assertRegex(text, r"\b%s\b" % re.escape(name), "--help lacks " + name)

    def test_completion_offers_every_command(self):
        self.assertTrue(set(tool_commands()) <= complete("kelso "),
                        set(tool_commands()) - complete("kelso "))
        self.assertEqual(complete("kelso se"), {"search"})
        self.assertEqual(complete("kelso managed "), {"on", "off"})
        self.assertEqual(complete("kelso never-show "), {"folder", "extension", "item", "fragment"})
        self.assertIn("--icon-mode", complete("kelso thumbnail x.png --"))

    def test_completed_kinds_and_times_are_accepted_by_search(self):
        kinds = complete("kelso search --kind ")
        times = complete("kelso search --time ")
        self.assertGreaterEqual(len(kinds), 10)
        self.assertGreaterEqual(len(times), 6)
        home = tempfile.mkdtemp(prefix="kelso-release-")
        try:
            env = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, "cache"),
                       XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
                       XDG_STATE_HOME=os.path.join(home, "state"), QT_QPA_PLATFORM="offscreen")
            env.pop("DBUS_SESSION_BUS_ADDRESS", None)
            for option, values in (("--kind", kinds), ("--time", times)):
                for value in sorted(values):
                    r = subprocess.run([ARGS.kelso, "search", option, value, "word"], capture_output=True,
                                       text=True, timeout=60, env=env)
                    self.assertNotEqual(r.returncode, 2, "%s %s refused: %s" % (option, value, r.stderr))
        finally:
            shutil.rmtree(home, ignore_errors=True)


class Install(unittest.TestCase):
    def test_prefix_and_destdir(self):
        stage = tempfile.mkdtemp(prefix="kelso-install-")
        prefix = "/opt/kelso-test"
        try:
            r = subprocess.run(["cmake", "--install", ARGS.build, "--prefix", prefix], capture_output=True,
                               text=True, timeout=300, env=dict(os.environ, DESTDIR=stage))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            root = stage + prefix
            expected = [
                "bin/kelso",
                "lib/kelso/libkelso_apps.so",
                "lib/kelso/libkelso_pdf.so",
                "share/applications/kelso.desktop",
                "share/icons/hicolor/scalable/apps/kelso.svg",
                "share/metainfo/com.tallow.kelso.metainfo.xml",
                "share/man/man1/kelso.1",
                "share/bash-completion/completions/kelso",
                "share/dbus-1/services/com.tallow.kelso.service",
                "share/dbus-1/interfaces/com.tallow.kelso.App.xml",
            ]
            for relative in expected:
                self.assertTrue(os.path.isfile(os.path.join(root, relative)), relative + " not installed")
            self.assertTrue(os.access(os.path.join(root, "bin/kelso"), os.X_OK))
            # Nothing outside the prefix.
            self.assertEqual(os.listdir(stage), ["opt"])
            # The bus starts the binary where it will be, not where it was staged.
            service = read(os.path.join(root, "share/dbus-1/services/com.tallow.kelso.service"))
            self.assertIn("\nExec=%s/bin/kelso\n" % prefix, service)
            r = subprocess.run([os.path.join(root, "bin/kelso"), "--version"], capture_output=True, text=True,
                               timeout=30, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            self.assertEqual(r.returncode, 0, r.stderr)
        finally:
            shutil.rmtree(stage, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--kelso", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
