#!/usr/bin/env python3
"""End-to-end scenarios for the search bar.

The real `kelso` runs in a fresh home holding a generated tree of 200,000 files (plain names,
text files, PDFs and images), under the display, window manager, tray and private D-Bus session
of the other scenarios (the Session class of kelso_e2e.py). The search bar is driven from the
keyboard with xdotool, as a user would; what the search area shows is read over D-Bus
(ShownSearchResults), and screenshots are kept.

    search_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, Session, check, run_main, wait_for  # noqa: E402

SCENARIOS = {}
TOTAL_FILES = 200000
TWO_YEARS_AGO = time.time() - 2 * 365 * 86400
DOCS_SHOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "search-results.png")


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


# ---- the tree -------------------------------------------------------------------------------

WORDS = ["alpha", "budget", "canal", "delta", "ember", "fjord", "garnet", "harbor", "indigo", "juniper",
         "kettle", "lumen", "meadow", "nickel", "orchid", "pepper", "quartz", "raven", "saffron", "timber"]


def write_bytes(path, data, mtime):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        if data:
            os.write(fd, data)
    finally:
        os.close(fd)
    os.utime(path, (mtime, mtime))


def generate_tree(s):
    """200,000 files under ~/tree (and a few in ~/Documents), all two years old except those
    the checks need as today's. Answers what the checks look for.

    Most files are hard links to a few hundred templates kept in a hidden folder: a link is a
    new name without a new inode, some fifty times faster to make (and to remove) than a file
    on a busy disk, and the index sees each name as a file of its own."""
    root = os.path.join(s.home, "tree")
    templates = os.path.join(s.home, ".templates")
    os.makedirs(templates, exist_ok=True)

    def template(name, data):
        path = os.path.join(templates, name)
        write_bytes(path, data, TWO_YEARS_AGO)
        return path
    # ext4 allows 65,000 names per inode: the empty files share twenty.
    empties = [template("empty-%02d" % e, b"") for e in range(20)]
    empty = empties[0]
    pdf = s.make_pdf(os.path.join(templates, "scan.pdf"), "Quarterly report")
    png = s.make_jpeg(os.path.join(templates, "photo.png"), size="64x64")
    for path in (pdf, png):
        os.utime(path, (TWO_YEARS_AGO, TWO_YEARS_AGO))
    texts = [template("text-%03d" % t, ("%s %s notes\n" % (WORDS[t % 20], WORDS[t // 20])).encode())
             for t in range(400)]
    made = 0
    folder_count = 2000
    per_folder = TOTAL_FILES // folder_count
    for f in range(folder_count):
        folder = os.path.join(root, WORDS[f % len(WORDS)], "f%04d" % f)
        os.makedirs(folder, exist_ok=True)
        for i in range(per_folder):
            n = f * per_folder + i
            kind = n % 100
            if kind < 2:  # text files: their words are searchable content
                name, source = "notes-%06d.txt" % n, texts[n % 400]
            elif kind < 3:
                name, source = "scan-%06d.pdf" % n, pdf
            elif kind < 5:
                name, source = "photo-%06d.png" % n, png
            else:  # names only
                name, source = "%s-%06d.dat" % (WORDS[n % 20], n), empties[n % 20]
            os.link(source, os.path.join(folder, name))
            made += 1
    # The word "zephyr": a dozen files carry it in their names, others only in their text.
    special = os.path.join(root, "special")
    os.makedirs(special, exist_ok=True)
    named, content = [], []
    for i in range(12):
        p = os.path.join(special, "zephyr-plan-%02d.dat" % i)
        os.link(empty, p)
        named.append(p)
    memo = template("memo", b"the zephyr meeting moved to Thursday\n")
    for i in range(8):
        p = os.path.join(special, "memo-%02d.txt" % i)
        os.link(memo, p)
        content.append(p)
    # PDFs inside ~/Documents/papers (the picked folder) and outside it.
    papers = os.path.join(s.home, "Documents", "papers")
    os.makedirs(papers, exist_ok=True)
    inside = []
    for i in range(6):
        p = os.path.join(papers, "paper-%02d.pdf" % i)
        os.link(pdf, p)
        inside.append(p)
    os.link(texts[0], os.path.join(papers, "paper-notes.txt"))
    # The folders were made today too: they age with their files, so that "Today" finds only
    # what the checks made today.
    for top in (root, s.home):
        for folder, subfolders, _ in os.walk(top):
            subfolders[:] = [d for d in subfolders if not d.startswith(".") and (top == root or d != "tree")]
            os.utime(folder, (TWO_YEARS_AGO, TWO_YEARS_AGO))
    # Today's files, each its own inode.
    today = []
    for i in range(5):
        p = os.path.join(special, "today-%02d.dat" % i)
        write_bytes(p, b"", time.time() - 60)
        today.append(p)
    return {"named": named, "content": content, "papers": inside, "today": today, "count": made + 32}


# ---- the window -----------------------------------------------------------------------------

def search_state(s):
    return json.loads(s.dbus_call("ShownSearchResults") or "{}")


def main_window(s):
    wins = []
    check(wait_for(lambda: wins.extend(s.visible_windows("^Kelso$")) or wins, 20), "no Kelso window")
    return wins[0]


def keys(s, *names):
    for k in names:
        s.xdotool("key", "--clearmodifiers", k)
        time.sleep(0.15)


def focus_field(s, win):
    """Find: the search field takes the focus (Ctrl+F), its text replaced by what comes next."""
    s.activate(win)
    keys(s, "ctrl+f", "ctrl+a", "BackSpace")


def type_text(s, text):
    s.xdotool("type", "--delay", "60", text)


def wait_results(s, condition, timeout=30, what="results"):
    last = {}

    def ready():
        last.clear()
        last.update(search_state(s))
        return condition(last)
    if not wait_for(ready, timeout, 0.3):
        raise Failure("%s did not show; the search area shows: %s" % (what, json.dumps(last)[:3000]))
    return last


def pick_location(s, title, inner=()):
    """Opens the location pop-up from the keyboard (Tab from the field past the two pop-ups),
    goes down to a starting place, into its submenu, through the `inner` keys and into the next
    submenu, and takes its first entry (a folder's submenu starts with the folder itself)."""
    for downs in range(2, 10):
        keys(s, "ctrl+f", "Tab", "Tab", "Tab", "space")
        time.sleep(0.4)
        keys(s, *(["Down"] * downs))
        keys(s, "Right")
        time.sleep(0.3)
        for k in inner:
            keys(s, k)
            time.sleep(0.3)
        keys(s, "Return")
        time.sleep(0.4)
        if search_state(s).get("location") == title:
            return
        # Close what is still open; an Escape that reaches the window hides Kelso: bring it back.
        keys(s, "Escape", "Escape", "Escape")
        s.kelso("show")
        s.activate(main_window(s))
    raise Failure("could not pick %s in the location pop-up: %s" % (title, search_state(s)))


@scenario
def search_bar_large_tree(s):
    started = time.monotonic()
    tree = generate_tree(s)
    made_in = time.monotonic() - started
    print("generated %d files in %.1f s" % (tree["count"], made_in))
    s.start_display()
    proc = s.start_kelso()

    # 1. The first crawl: its progress shows as a quiet line in the search area, then goes. The
    # names pass of 200,000 files may take well under a second: the line is looked for from the
    # moment Kelso answers (the search area answers while the window is still hidden). When the
    # pass was over before Kelso first answered, there was nothing to show: the index must then
    # say so, with every file of the tree in it.
    progress = {}

    def first_answer():
        try:
            progress.update(search_state(s))
        except Failure:
            return False  # not on the bus yet
        return True

    def progress_shown():
        return first_answer() and bool(progress.get("status"))
    check(wait_for(first_answer, 60, 0.1), "kelso did not answer on the bus")
    if progress_shown() or wait_for(progress_shown, 2, 0.1):
        print("progress line: %s" % progress["status"])
    else:
        r = s.kelso("search", "--status", "--json", timeout=30)
        status = json.loads(r.stdout or "{}")
        check(status.get("namesDone") and status.get("files", 0) >= tree["count"] - 32,
              "crawl progress did not show, and the names pass is not over: %s; the search area shows: %s" %
              (r.stdout.strip()[:500], json.dumps(progress)[:1000]))
        print("no progress line: the names pass of %d files was over when Kelso first answered" %
              status["files"])
    s.wait_started(proc)
    check(s.kelso("show").returncode == 0, "kelso show failed")
    win = main_window(s)
    s.screenshot("first-crawl")
    crawled = wait_for(lambda: not search_state(s).get("status"), 90, 0.5)
    check(crawled, "the first crawl did not finish: %s" % search_state(s).get("status"))
    print("crawled after %.1f s" % (time.monotonic() - started - made_in))

    # 2. Typing: name matches first, content matches woven in after the first five.
    focus_field(s, win)
    type_text(s, "zephyr")

    def woven(st):
        paths = [r["path"] for r in st.get("results", [])]
        return st.get("visible") and len(paths) >= 8 and any(p in tree["content"] for p in paths)
    st = wait_results(s, woven, 60, "name and content matches for 'zephyr'")
    paths = [r["path"] for r in st["results"]]
    check(st["field"] == "zephyr", "the field shows %r" % st["field"])
    check(all(p in tree["named"] for p in paths[:5]), "the first five are not name matches: %s" % paths[:5])
    # The content query matches the names too (any text attribute): those are shown once, at
    # their name position, so where the text-only matches fall depends on the index's order.
    check(set(tree["content"]) <= set(paths[5:]), "text-only matches missing: %s" % paths)
    check(set(paths) <= set(tree["named"]) | set(tree["content"]), "unrelated results: %s" % paths)
    shot = s.screenshot("zephyr-results")

    # 3. A file made while the search runs appears without retyping; a deleted one disappears.
    fresh = os.path.join(s.home, "tree", "special", "zephyr-fresh.dat")
    write_bytes(fresh, b"", time.time())
    wait_results(s, lambda st: fresh in [r["path"] for r in st.get("results", [])], 30, "the new file")
    gone = tree["named"][0]
    os.remove(gone)
    wait_results(s, lambda st: gone not in [r["path"] for r in st.get("results", [])], 30,
                 "the deleted file's departure")

    # 4. Kind "PDF" with a picked folder: PDFs of that folder only, the field says "All".
    focus_field(s, win)
    keys(s, "Tab", "P")  # the kind pop-up, by its first letter
    pick_location(s, "papers", inner=("Down", "Right"))  # Documents ▸ papers ▸ papers
    st = wait_results(s, lambda st: st.get("results") and st.get("field") == '"All"', 30, "PDFs in papers")
    paths = sorted(r["path"] for r in st["results"])
    check(paths == sorted(tree["papers"]), "kind PDF in papers found %s" % paths)
    s.screenshot("pdf-in-papers")

    # 5. "Today", anywhere, any kind: only today's files.
    focus_field(s, win)
    keys(s, "Tab", "Home", "Tab", "T")  # the first kind (Any Kind), then Today
    keys(s, "ctrl+f", "Tab", "Tab", "Tab", "space")
    time.sleep(0.4)
    keys(s, "Down", "Return")  # "Everywhere"
    want = set(tree["today"]) | {fresh}

    def todays(st):
        got = {r["path"] for r in st.get("results", [])}
        return st.get("location") == "Everywhere" and st.get("time") == "Today" and got and want <= got
    st = wait_results(s, todays, 30, "today's files")
    midnight = time.mktime(time.localtime()[:3] + (0, 0, 0, 0, 0, -1))
    for r in st["results"]:
        if os.path.exists(r["path"]):
            check(os.stat(r["path"]).st_mtime >= midnight, "not from today: %s" % r["path"])
    s.screenshot("today")

    # The window with the woven results goes into the docs.
    shutil.copyfile(shot, DOCS_SHOT)
    s.quit_kelso(proc)
    print("scenario took %.1f s" % (time.monotonic() - started))


def main():
    return run_main(SCENARIOS)


if __name__ == "__main__":
    sys.exit(main())
