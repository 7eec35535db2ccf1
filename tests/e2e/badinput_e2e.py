#!/usr/bin/env python3
"""End-to-end scenarios with names and trees that programs trip over.

The real `kelso` runs in a fresh home (the Session class of kelso_e2e.py) and meets, the way a
user's programs would leave them: names that are not UTF-8, names holding a newline, names of
255 bytes, trees deeper than PATH_MAX (4096 bytes), files that vanish or turn into a folder or a
link while Kelso works on them, and read-only folders. Each path a user meets is tried: the
recent list (the event stream and the collector), the window's grid, thumbnails, the Cooler, tags,
filing into dated folders, the index, and the command line and D-Bus. Kelso must keep running,
say clearly what it cannot do, and never lose, rename or truncate a file.

    badinput_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import check, run_main, wait_for  # noqa: E402
from fileops_e2e import SKIPPED, Skip, needs_volume  # noqa: E402

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


# ---- helpers --------------------------------------------------------------------------------

def write_bytes(path, data=b"hello\n"):
    """Writes a file whose path may hold any bytes (str paths go through surrogateescape)."""
    with open(os.fsencode(path), "wb") as f:
        f.write(data)
    return path


def content(path):
    with open(os.fsencode(path), "rb") as f:
        return f.read()


def cli(s, *args, timeout=60):
    """Runs the command line with arguments that may hold any bytes; answers (status, out, err)
    with the output decoded leniently (a name that is not UTF-8 may be echoed)."""
    r = subprocess.run([s.kelso_bin, *args], capture_output=True, timeout=timeout, env=s.env)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def recent_paths(s, folder=None):
    args = ["recent", "--json"] + (["--folder", folder] if folder else [])
    code, out, err = cli(s, *args)
    check(code == 0 and "did not answer" not in err, "kelso recent failed (%d): %s" % (code, err))
    paths = []
    for item in json.loads(out):
        paths.extend(item.get("stack") or [item["path"]])
    return paths


def start(s, *areas):
    s.start_display()
    for area in areas:
        s.log_area(area, "info")
    proc = s.start_kelso()
    s.wait_started(proc)
    return proc


def alive(s, proc, what):
    check(proc.poll() is None, "kelso exited (%s) after %s; log:\n%s" % (proc.returncode, what, s.read_log()[-4000:]))
    code, _, err = cli(s, "recent", "--status")
    check(code == 0, "kelso recent --status failed after %s: %s" % (what, err))


def one_line_error(code, err, what):
    check(code == 1, "%s: exit status %d, not 1 (stderr %r)" % (what, code, err))
    lines = [line for line in err.splitlines() if line.strip()]
    check(lines, "%s: failed without saying why" % what)
    return "\n".join(lines)


# ---- scenarios ------------------------------------------------------------------------------

@scenario
def badinput_names(s):
    """Names with a newline, of 255 bytes, and not UTF-8 arrive in ~/Downloads: the first two
    show, are thumbnailed, go to the Cooler, take tags, are filed and found, and survive a
    restart; the third is left out with a log line and its bytes are untouched."""
    # Filing then sorts into dated folders under it.
    os.makedirs(os.path.join(s.home, "Documents", "Filed Documents"))
    proc = start(s, "fsevents")
    dl = os.path.join(s.home, "Downloads")
    newline = write_bytes(os.path.join(dl, "two\nlines.txt"), b"newline\n")
    long_name = os.path.join(dl, "L" * 251 + ".txt")
    check(len(os.path.basename(long_name).encode()) == 255, "the long name is not 255 bytes")
    write_bytes(long_name, b"long\n")
    picture = os.path.join(dl, "P" * 251 + ".png")
    made = s.make_jpeg(os.path.join(s.home, "picture.jpg"), size="64x64")
    subprocess.run(["/usr/bin/convert", made, os.path.join(s.home, "picture.png")], check=True, env=s.env)
    os.rename(os.path.join(s.home, "picture.png"), picture)
    latin1 = os.fsdecode(os.path.join(dl.encode(), b"caf\xe9.txt"))
    write_bytes(latin1, b"latin-1 name\n")
    bad_folder = os.fsdecode(os.path.join(dl.encode(), b"d\xff\xfe"))
    os.mkdir(os.fsencode(bad_folder))
    write_bytes(os.path.join(bad_folder, "inside.txt"), b"inside\n")
    plain = write_bytes(os.path.join(dl, "plain.txt"), b"plain\n")

    wanted = {newline, long_name, picture, plain}
    check(wait_for(lambda: wanted <= set(recent_paths(s)), 30),
          "not every name shows in the recent list: %s" % sorted(wanted - set(recent_paths(s))))
    listed = recent_paths(s)
    check(all("\ufffd" not in p and "\udcff" not in p for p in listed),
          "a name that is not UTF-8 shows mangled: %s" % [p for p in listed if "\ufffd" in p])
    # The plain list escapes the newline so that each item stays one line.
    code, out, err = cli(s, "recent")
    check(code == 0 and "two\\nlines.txt" in out, "the plain list does not escape the newline: %r" % out[:400])
    check(len(out.splitlines()) == len([line for line in out.split("\n") if line]),
          "the plain list has stray lines")

    # The window's grid shows them (through D-Bus: what the Recent Files grid holds).
    s.kelso("show")
    shown = wait_for(lambda: wanted <= set(p for i in s.shown_recent_items()
                                             for p in ([i] if isinstance(i, str) else i.get("stack") or [i["path"]])),
                     20)
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 15), "the window did not come up")
    time.sleep(1.5)  # the fade-in
    s.screenshot("names-in-the-grid")
    check(shown, "the grid does not show every name: %s" % s.shown_recent_items())

    # A thumbnail of the 255-byte picture (its cache name is a hash, not the name).
    out_png = os.path.join(s.home, "thumb.png")
    code, _, err = cli(s, "thumbnail", picture, "--size", "128", "--output", out_png)
    check(code == 0 and os.path.getsize(out_png) > 0, "no thumbnail for the 255-byte name: %s" % err)

    # The Cooler, tags and the index take the odd names whole.
    code, _, err = cli(s, "cooler", "add", newline, long_name)
    check(code == 0, "cooler add failed: %s" % err)
    check(wait_for(lambda: [i["path"] for i in s.cooler_items()][:2] == [newline, long_name], 10),
          "the Cooler holds %s" % [i["path"] for i in s.cooler_items()])
    code, _, err = cli(s, "tags", "add", "odd", newline, long_name)
    check(code == 0, "tags add failed: %s" % err)
    code, out, err = cli(s, "tags", "--json", newline, long_name)
    check(code == 0 and all("odd" in f.get("tags", []) for f in json.loads(out)), "tags not written: %s %s" % (out, err))

    def found(name, path):
        code, out, _ = cli(s, "search", "--json", name)
        return code == 0 and path in [i["path"] for i in json.loads(out)]
    check(wait_for(lambda: found("lines.txt", newline), 60), "the index does not find the name with a newline")
    check(wait_for(lambda: found("L" * 40, long_name), 60), "the index does not find the 255-byte name")

    # The name that is not UTF-8: each command says so (not that the file is missing) and does
    # the rest of what it was asked.
    other = write_bytes(os.path.join(dl, "other.txt"), b"other\n")
    for args in (("cooler", "add"), ("tags", "add", "odd"), ("rate", "3"), ("file",)):
        code, _, err = cli(s, *args, os.fsencode(latin1), other)
        message = one_line_error(code, err, "kelso %s with a name that is not UTF-8" % " ".join(args))
        check("UTF-8" in message and "no such" not in message.lower() and "exist" not in message,
              "kelso %s: unclear message for a name that is not UTF-8: %r" % (" ".join(args), message))
        if args == ("cooler", "add"):
            # (Checked now: `kelso file` below moves it, and the running Cooler follows the move.)
            check(other in [i["path"] for i in s.cooler_items()], "the UTF-8 file beside it did not go to the Cooler")
    filed_other = [os.path.join(r, f) for r, _, fs in os.walk(os.path.join(s.home, "Documents")) for f in fs
                   if f == "other.txt"]
    check(len(filed_other) == 1, "the UTF-8 file beside it was not filed: %s" % filed_other)
    check(wait_for(lambda: filed_other[0] in [i["path"] for i in s.cooler_items()], 10),
          "the Cooler did not follow the filed file: %s" % [i["path"] for i in s.cooler_items()])
    for args in (("thumbnail", os.fsencode(latin1), "--size", "64", "--output", os.path.join(s.home, "x.png")),
                 ("recent", "--folder", os.fsencode(bad_folder)), ("search", "--in", os.fsencode(bad_folder), "x")):
        code, _, err = cli(s, *args)
        message = one_line_error(code, err, "kelso %s with a name that is not UTF-8" % args[0])
        check("UTF-8" in message, "kelso %s: unclear message for a name that is not UTF-8: %r" % (args[0], message))
    check(content(latin1) == b"latin-1 name\n", "the file whose name is not UTF-8 changed")
    check(content(os.path.join(bad_folder, "inside.txt")) == b"inside\n", "the file in the odd folder changed")
    check("UTF-8" in s.read_log(), "no log line names the skipped names:\n" + s.read_log()[-3000:])

    # Filing the name with a newline keeps its bytes.
    code, out, err = cli(s, "file", newline)
    check(code == 0, "kelso file failed on the name with a newline: %s" % err)
    filed = [os.path.join(r, f) for r, _, fs in os.walk(os.path.join(s.home, "Documents")) for f in fs
             if f == "two\nlines.txt"]
    check(len(filed) == 1 and content(filed[0]) == b"newline\n", "the filed copy is %s" % filed)
    check(not os.path.exists(newline), "the filed file is still in Downloads")

    # A restart keeps the Cooler's odd names.
    s.quit_kelso(proc)
    proc = s.start_kelso()
    s.wait_started(proc)
    paths = [i["path"] for i in s.cooler_items()]
    check(long_name in paths and any(p.endswith("/two\nlines.txt") for p in paths),
          "after a restart the Cooler holds %s" % paths)
    alive(s, proc, "the restart")
    s.quit_kelso(proc)


def deep_tree(top, levels, component=200):
    """A chain of folders `levels` deep under `top`, made with relative paths (the whole path
    may be longer than the kernel takes at once); answers the full path of the deepest one."""
    os.makedirs(top, exist_ok=True)
    fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    path = top
    try:
        for i in range(levels):
            name = ("%03d-" % i) + "d" * (component - 4)
            os.mkdir(name, dir_fd=fd)
            nfd = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = nfd
            path += "/" + name
        with open(os.open("bottom.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "w") as f:
            f.write("bottom\n")
    finally:
        os.close(fd)
    return path


def deep_file_exists(path):
    """lexists for paths of any length: one component at a time."""
    parts = path.split("/")[1:]
    fd = os.open("/", os.O_RDONLY | os.O_DIRECTORY)
    try:
        for part in parts[:-1]:
            nfd = os.open(part, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = nfd
        os.stat(parts[-1], dir_fd=fd, follow_symlinks=False)
        return True
    except OSError:
        return False
    finally:
        os.close(fd)


def remove_deep(top):
    """rmtree works with descriptors, so paths over PATH_MAX go too."""
    shutil.rmtree(top, ignore_errors=True)


@scenario
def badinput_deep_paths(s):
    """A tree whose paths pass 4096 bytes, there at the start and made while Kelso runs: Kelso
    keeps running, lists no truncated path, the shallow files of the tree show and are found,
    and a command given a path that is too long says so."""
    docs = os.path.join(s.home, "Documents")
    before = deep_tree(os.path.join(docs, "before"), 25)
    write_bytes(os.path.join(docs, "before", "shallow-before.txt"))
    proc = start(s, "fsevents")
    alive(s, proc, "walking a tree deeper than PATH_MAX")
    during = deep_tree(os.path.join(docs, "during"), 25)
    shallow = write_bytes(os.path.join(docs, "during", "shallow-during.txt"))
    mid = os.path.join(docs, "during", ("%03d-" % 0) + "d" * 196, ("%03d-" % 1) + "d" * 196, "mid.txt")
    write_bytes(mid)
    check(wait_for(lambda: {shallow, mid} <= set(recent_paths(s)), 30),
          "the tree's shallow files do not show: %s" % recent_paths(s))
    alive(s, proc, "a tree deeper than PATH_MAX made while it ran")
    listed = recent_paths(s)
    for p in listed:
        check(len(p.encode()) < 4096, "a listed path is %d bytes long" % len(p.encode()))
        check(os.path.lexists(p), "a listed path does not exist (truncated?): %s" % p[:200])
    for folder in (docs, os.path.join(docs, "during")):
        for p in recent_paths(s, folder):
            check(os.path.lexists(p), "a listed path does not exist (truncated?): %s" % p[:200])

    # The crawler: the shallow file is found; whatever it holds of the deep tree is whole.
    def found(name):
        code, out, err = cli(s, "search", "--json", name)
        check(code == 0, "kelso search failed: %s" % err)
        return [i["path"] for i in json.loads(out)]
    check(wait_for(lambda: os.path.join(docs, "before", "shallow-before.txt") in found("shallow-before"), 90),
          "the index does not find the shallow file beside the deep tree")
    for p in found("bottom.txt") + found("ddddddddddddddddddd"):
        check(p.startswith(docs) and (len(p.encode()) >= 4096 or os.path.lexists(p)),
              "the index holds a path that does not exist (truncated?): %s…" % p[:200])

    # Commands given the deepest file: a clear refusal, the file untouched.
    bottom = during + "/bottom.txt"
    for args in (("cooler", "add"), ("tags", "add", "deep"), ("file",), ("thumbnail",)):
        extra = ["--size", "64", "--output", os.path.join(s.home, "x.png")] if args[0] == "thumbnail" else []
        code, _, err = cli(s, *args, bottom, *extra)
        message = one_line_error(code, err, "kelso %s with a path over PATH_MAX" % " ".join(args))
        check("long" in message.lower(), "the message does not say the path is too long: %r" % message)
    alive(s, proc, "commands on paths over PATH_MAX")
    for deepest in (before, during):
        check(deep_file_exists(deepest + "/bottom.txt"), "the file at the bottom of %s… went" % deepest[:120])
    s.screenshot("deep-tree")
    s.quit_kelso(proc)
    remove_deep(os.path.join(docs, "before"))
    remove_deep(os.path.join(docs, "during"))


@scenario
def badinput_vanish_and_change_type(s):
    """Files that vanish, or turn into a folder or a link, while Kelso reads them, and commands
    on such files: Kelso keeps running, the list follows what is there now, each command says
    what it could not do and does the rest."""
    proc = start(s, "fsevents")
    dl = os.path.join(s.home, "Downloads")
    # Churn: the same names made and replaced by folders and links, faster than Kelso reads.
    for round_ in range(200):
        p = os.path.join(dl, "churn%d.txt" % (round_ % 10))
        if os.path.isdir(p) and not os.path.islink(p):
            os.rmdir(p)
        elif os.path.lexists(p):
            os.unlink(p)
        kind = round_ % 3
        if kind == 0:
            write_bytes(p)
        elif kind == 1:
            os.mkdir(p)
        else:
            os.symlink("/etc/hostname", p)
    alive(s, proc, "names turning into folders and links")
    settled = write_bytes(os.path.join(dl, "settled.txt"))
    check(wait_for(lambda: settled in recent_paths(s), 30), "a later file does not show after the churn")

    def listed_kinds_match():
        for p in recent_paths(s, dl):
            if os.path.basename(p).startswith("churn"):
                if not os.path.lexists(p):
                    return False
        return True
    check(wait_for(listed_kinds_match, 30), "the list names churned files that are gone: %s" % recent_paths(s, dl))

    # A file in the Cooler turns into a folder: the Cooler keeps the entry, nothing crashes.
    kept = write_bytes(os.path.join(dl, "becomes-folder.txt"))
    gone = write_bytes(os.path.join(dl, "vanishes.txt"))
    code, _, err = cli(s, "cooler", "add", kept, gone)
    check(code == 0, "cooler add failed: %s" % err)
    os.unlink(kept)
    os.mkdir(kept)
    os.unlink(gone)
    s.kelso("show")
    time.sleep(2)
    s.screenshot("changed-type")
    alive(s, proc, "Cooler files that changed type or vanished")

    # Commands on a file that is gone: the others are done, the gone one is named.
    other = write_bytes(os.path.join(dl, "other.txt"))
    code, _, err = cli(s, "tags", "add", "x", gone, other)
    check(code == 1 and "vanishes.txt" in err, "tags on a vanished file: status %d, %r" % (code, err))
    code, out, _ = cli(s, "tags", "--json", other)
    check("x" in json.loads(out)[0].get("tags", []), "the other file did not get its tag")
    code, _, err = cli(s, "thumbnail", gone, "--size", "64", "--output", os.path.join(s.home, "t.png"))
    one_line_error(code, err, "thumbnail of a vanished file")
    code, _, err = cli(s, "file", gone)
    one_line_error(code, err, "filing a vanished file")
    # A link in a file's place is not followed by filing: the link moves, its target stays.
    link = os.path.join(dl, "link.txt")
    target = write_bytes(os.path.join(s.home, "target.txt"), b"target\n")
    os.symlink(target, link)
    cli(s, "file", link)
    check(content(target) == b"target\n" and os.path.exists(target), "filing a link moved or changed its target")
    s.quit_kelso(proc)


@scenario
def badinput_read_only(s):
    """Files on a read-only file system (a tmpfs remounted read-only: as root, a folder's mode
    bits stop nothing): they go to the Cooler and get thumbnails; tags cannot be written, which
    is told naming the file while the other file gets its tags; filing files a copy; the file
    stays as it was."""
    volume = needs_volume(s, "Locked")
    try:
        f = write_bytes(os.path.join(volume.path, "locked.txt"), b"locked\n")
        other = write_bytes(os.path.join(s.home, "Downloads", "free.txt"), b"free\n")
        volume.read_only()
        proc = start(s)
        code, _, err = cli(s, "cooler", "add", f)
        check(code == 0 and f in [i["path"] for i in s.cooler_items()], "cooler add failed: %s" % err)
        code, _, err = cli(s, "tags", "add", "kept", f, other)
        message = one_line_error(code, err, "tags on a read-only file system")
        check("locked.txt" in message, "the message does not name the file: %r" % message)
        code, out, _ = cli(s, "tags", "--json", other)
        check("kept" in json.loads(out)[0].get("tags", []), "the writable file did not get its tag")
        # Filing cannot take the file away from there: it files a copy and leaves the original.
        code, out, err = cli(s, "file", f)
        check(code == 0, "filing from a read-only file system failed: %s" % err)
        copy = out.strip()
        check(copy != f and content(copy) == b"locked\n", "the filed copy is %r" % copy)
        check(content(f) == b"locked\n", "the file on the read-only file system changed or went")
        out_png = os.path.join(s.home, "locked.png")
        code, _, err = cli(s, "thumbnail", f, "--size", "64", "--output", out_png)
        check(code == 0, "no picture for a file on a read-only file system: %s" % err)
        alive(s, proc, "a read-only file system")
        s.quit_kelso(proc)
    finally:
        volume.close()


def main():
    try:
        return run_main(SCENARIOS)
    except Skip as e:
        print("SKIP: %s" % e)
        return SKIPPED


if __name__ == "__main__":
    sys.exit(main())
