#!/usr/bin/env python3
"""End-to-end scenario for starting Kelso through the session bus.

A session bus of the scenario's own knows Kelso's service file (naming the built binary, as the
installed file names the installed one). `kelso show` must then start Kelso and show its
window, `kelso hide` must not start it, and `kelso quit` must end the started instance.

    activation_e2e.py --kelso build/default/bin/kelso --out build/default/e2e SCENARIO
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelso_e2e import check, run_main, wait_for  # noqa: E402

SCENARIOS = {}

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <servicedir>{services}</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def start_bus_with_service(s):
    """A session bus whose service folder holds Kelso's service file; s.env then points at it."""
    services = os.path.join(s.home, ".dbus-services")
    os.makedirs(services)
    with open(os.path.join(services, "com.tallow.kelso.service"), "w") as f:
        f.write("[D-BUS Service]\nName=com.tallow.kelso\nExec=%s\n" % s.kelso_bin)
    socket = os.path.join(s.env["XDG_RUNTIME_DIR"], "bus")
    config = os.path.join(s.home, ".dbus-session.conf")
    with open(config, "w") as f:
        f.write(BUS_CONFIG.format(socket=socket, services=services))
    s.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + socket
    # The bus starts Kelso with its own environment: this session's home and display. Kelso's
    # output goes to the scenario's log.
    daemon = subprocess.Popen(["dbus-daemon", "--config-file", config, "--nofork", "--nopidfile"],
                              stdout=s.log, stderr=subprocess.STDOUT, env=s.env)
    s.helpers.append(daemon)
    check(wait_for(lambda: os.path.exists(socket), 10), "the session bus did not start")


@scenario
def show_starts_kelso(s):
    s.start_display()
    start_bus_with_service(s)
    check(not s.kelso_pids(), "Kelso runs before the scenario started it")

    r = s.kelso("hide")
    check(r.returncode == 1 and "not running" in r.stderr,
          "'kelso hide' without Kelso: exit %d, %r" % (r.returncode, r.stderr))
    time.sleep(1)
    check(not s.kelso_pids(), "'kelso hide' started Kelso")

    r = s.kelso("show", timeout=60)
    check(r.returncode == 0, "'kelso show' did not start Kelso through the bus: %d %r" % (r.returncode, r.stderr))
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 20), "the window did not appear on 'kelso show'")
    check(len(s.kelso_pids()) == 1, "not one Kelso after 'kelso show': %r" % s.kelso_pids())
    s.screenshot("started-by-show")

    r = s.kelso("toggle")
    check(r.returncode == 0, "'kelso toggle' failed: %r" % r.stderr)
    check(wait_for(lambda: not s.visible_windows("^Kelso$"), 10), "'kelso toggle' did not hide the window")

    r = s.kelso("quit")
    check(r.returncode == 0, "'kelso quit' failed: %r" % r.stderr)
    check(wait_for(lambda: not s.kelso_pids(), 20), "Kelso still runs after 'kelso quit'")

    # A toggle with Kelso not running starts it too, and shows it (there was nothing to hide).
    r = s.kelso("toggle", timeout=60)
    check(r.returncode == 0, "'kelso toggle' did not start Kelso: %d %r" % (r.returncode, r.stderr))
    check(wait_for(lambda: s.visible_windows("^Kelso$"), 20), "the window did not appear on 'kelso toggle'")
    s.screenshot("started-by-toggle")
    r = s.kelso("quit")
    check(r.returncode == 0, "'kelso quit' failed: %r" % r.stderr)
    check(wait_for(lambda: not s.kelso_pids(), 20), "Kelso still runs after the second 'kelso quit'")


if __name__ == "__main__":
    sys.exit(run_main(SCENARIOS))
