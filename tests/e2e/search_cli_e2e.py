#!/usr/bin/env python3
"""End-to-end scenarios for the metadata index through the command line and D-Bus.

The real `kelso` runs in a fresh home (the Session class of kelso_e2e.py): its first crawl is
followed with `kelso search --status`, searches go through the running instance (D-Bus method
Search) and, after it quit, through the index file itself; files made and deleted while it runs
come and go without a restart.

    search_cli_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import Failure, check, run_main, wait_for  # noqa: E402

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def write(path, text="hello\n"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    return path


def search(s, *args):
    r = s.kelso("search", "--json", *args, timeout=60)
    check(r.returncode == 0, "kelso search %s failed (%d): %s" % (" ".join(args), r.returncode, r.stderr))
    try:
        return [item["path"] for item in json.loads(r.stdout)]
    except (ValueError, KeyError, TypeError) as e:
        raise Failure("kelso search printed no result list (%s): %r" % (e, r.stdout[:500]))


def status(s):
    r = s.kelso("search", "--status", "--json", timeout=30)
    if r.returncode != 0:
        return {}
    try:
        return json.loads(r.stdout)
    except ValueError:
        return {}


@scenario
def search_cli_live(s):
    """First crawl with progress, merged results, scope and kind, live add and delete, and the
    same answers read from the index after Kelso quit."""
    home = s.home
    docs = os.path.join(home, "Documents")
    for i in range(300):
        write(os.path.join(home, "Archive", "box%d" % (i // 100), "item%03d.txt" % i), "filler %d\n" % i)
    plan = write(os.path.join(docs, "harvest plan.txt"), "dates for the crop\n")
    notes = write(os.path.join(home, "Notes", "monday.txt"), "remember the harvest festival\n")
    hidden = write(os.path.join(home, ".secret", "harvest.txt"), "hidden\n")
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)

    check(wait_for(lambda: status(s).get("namesDone") is True, 60), "the first crawl did not finish: %r" % status(s))
    st = status(s)
    check(st.get("running") is True, "status does not see the running Kelso: %r" % st)
    check(st.get("indexed", 0) >= 300, "the index holds %r entries, expected the 300+ files" % st.get("indexed"))

    # Name match first; the content match comes once the content pass read the notes.
    check(wait_for(lambda: search(s, "harvest") == [plan, notes], 90),
          "search harvest gave %r" % search(s, "harvest"))
    check(hidden not in search(s, "harvest"), "a file in a hidden folder was indexed")
    check(search(s, "--in", docs, "harvest") == [plan], "the place did not limit the search")
    # A folder's kind is known once the content pass looked at it.
    box1 = os.path.join(home, "Archive", "box1")
    check(wait_for(lambda: search(s, "--kind", "folders", "box1") == [box1], 60),
          "kind Folders gave %r" % search(s, "--kind", "folders", "box1"))

    # Live: made and deleted while Kelso runs, no restart.
    late = write(os.path.join(docs, "Harvest late.md"), "x\n")
    check(wait_for(lambda: late in search(s, "harvest"), 30), "a new file was not found: %r" % search(s, "harvest"))
    os.remove(plan)
    check(wait_for(lambda: plan not in search(s, "harvest"), 30), "a deleted file is still found")

    r = s.kelso("search", "--kind", "nonsense", "x")
    check(r.returncode == 2 and "unknown kind" in r.stderr, "a bad kind gave %d: %s" % (r.returncode, r.stderr))

    s.quit_kelso(proc)
    # Kelso is gone: the command reads the index file itself, read-only, with the same answer.
    offline = search(s, "harvest")
    check(late in offline and notes in offline and plan not in offline, "offline search gave %r" % offline)
    st = status(s)
    check(st.get("running") is False and st.get("namesDone") is True, "offline status: %r" % st)


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
