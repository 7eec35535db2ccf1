#!/usr/bin/env python3
"""End-to-end scenarios for the metadata index's life in the running program.

The real `kelso` runs in a fresh home (the Session class of kelso_e2e.py). A never-show folder
added to the settings file while Kelso runs (as the preferences window or another Kelso would)
restarts the index's crawler: the folder's files leave the search results without a restart of
the program, and the program keeps answering while the old crawler is stopped.

    index_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import json
import os
import plistlib
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
        return sorted(item["path"] for item in json.loads(r.stdout))
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


def change_settings(s, **values):
    """Rewrites the settings file by rename, keeping what Kelso wrote there."""
    path = os.path.join(s.env["XDG_CONFIG_HOME"], "com.tallow.kelso.plist")
    current = s.settings() or {}
    current.update(values)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".new", "wb") as f:
        plistlib.dump(current, f, fmt=plistlib.FMT_BINARY)
    os.replace(path + ".new", path)


@scenario
def index_exclusion_restart(s):
    """A never-show folder added while Kelso runs leaves the index; Kelso answers meanwhile."""
    home = s.home
    for i in range(2000):
        write(os.path.join(home, "Bulk", "part%d" % (i // 200), "filler%04d.txt" % i), "filler\n")
    plan = write(os.path.join(home, "Documents", "harvest plan.txt"))
    secret = write(os.path.join(home, "Private", "harvest secret.txt"))
    s.start_display()
    proc = s.start_kelso()
    s.wait_started(proc)
    check(wait_for(lambda: status(s).get("namesDone") is True, 90), "the first crawl did not finish: %r" % status(s))
    check(wait_for(lambda: search(s, "harvest") == sorted([plan, secret]), 60),
          "before the change, search harvest gave %r" % search(s, "harvest"))

    change_settings(s, unwantedDirectories=["~/Private"])
    # The program answers at once while the crawler restarts (the D-Bus call goes through the
    # main thread).
    started = time.monotonic()
    r = s.kelso("show", timeout=10)
    check(r.returncode == 0, "kelso show failed during the restart (%d): %s" % (r.returncode, r.stderr))
    answered = time.monotonic() - started
    check(wait_for(lambda: search(s, "harvest") == [plan], 90),
          "after the change, search harvest gave %r" % search(s, "harvest"))
    st = status(s)
    check(st.get("running") is True and st.get("namesDone") is True, "status after the restart: %r" % st)
    s.screenshot("after-restart")
    s.quit_kelso(proc)
    complaints = [line for line in s.read_log().splitlines()
                  if "index:" in line and any(w in line for w in ("full", "cannot", "damaged", "new index", "locked"))]
    check(not complaints, "the index complained: %s" % "\n".join(complaints))
    print("kelso show answered in %.2f s during the restart" % answered)


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
