"""What the end-to-end readers share: checks that go on after a failure, waits with a deadline, and finding the
program and its objects on the accessibility bus."""
import sys
import time

import pyatspi

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def wait_for(find, what, seconds=30.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    print(f"FAIL: timed out waiting for {what}")
    sys.exit(1)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "murako":
            return app
    return None


def descendant(root, predicate):
    try:
        return pyatspi.findDescendant(root, predicate)
    except Exception:  # the tree changes under the walk while the window builds itself
        return None


def named(root, role, name):
    return descendant(root, lambda o: o is not None and o.getRole() == role and o.name == name)


def table_rows(grid):
    table = grid.queryTable()
    return [[table.getAccessibleAt(r, c).name for c in range(table.nColumns)] for r in range(table.nRows)]
