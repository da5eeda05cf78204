"""Reads the map and the comparison's change column through the accessibility bus as a screen reader does:
searches, opens the map and moves through it from the keyboard, compares with a saved search written here,
reads the 増減 column under its header and hears its order, then leaves with 終了. Usage:
compare_map_reader_e2e.py TREE. Every wait has a deadline."""
import json
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

from accessibility_e2e_support import check, descendant, failures, named, table_rows, wait_for, application

tree = sys.argv[1]
MAIN, MAP = "Murako検索ツール", "マップ - Murako"


def showing(o):
    return o is not None and o.getState().contains(pyatspi.STATE_SHOWING)


def key(name, window=None):
    """Presses a key in the window of that title, else wherever the keys go."""
    focus = ["search", "--onlyvisible", "--name", f"^{window}$", "windowfocus", "--sync"] if window else []
    subprocess.run(["xdotool"] + focus + ["key", "--clearmodifiers", name], check=True)
    time.sleep(0.3)


def choose_compare_from_menu(grid):
    """Opens the table's menu from the keyboard and picks 前回と比較..., third from the menu's end (past マップ and
    検索の範囲): the keys, not the menu's own events, as those do not always reach the bus while the menu runs."""
    actions = grid.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    check("ShowMenu" in names, f"the table offers its menu to a reader: {names}")
    grid.queryComponent().grabFocus()
    key("shift+F10", MAIN)
    time.sleep(0.5)
    for name in ("Up", "Up", "Up", "Return"):
        key(name)


def focused_child(parent):
    for child in parent:
        if child is not None and child.getState().contains(pyatspi.STATE_FOCUSED):
            return child.name
    return None


app = wait_for(application, "the program on the accessibility bus")
search = wait_for(lambda: named(app, pyatspi.ROLE_PUSH_BUTTON, "検索"), "the 検索 button")
grid = wait_for(lambda: named(app, pyatspi.ROLE_TABLE, "検索結果"), "the results table")
search.queryAction().doAction(0)
wait_for(lambda: (lambda r: r if r and r[-1][1] == tree + "/合計" else None)(table_rows(grid)), "the total row")

# The map: named, described, its children read as its tooltips, and the keys heard.
grid.queryComponent().grabFocus()
key("ctrl+m", MAIN)
view = wait_for(lambda: descendant(app, lambda o: o is not None and o.getRole() == pyatspi.ROLE_LIST
                                   and o.name == "マップ" and showing(o)), "the map")
check(view.description.startswith(tree + "/  18 kb (18,000 バイト)  大きい順: "),
      f"the map is described {view.description!r}")
children = [child.name for child in view]
print("map:", children)
check(len(children) == 4 and all(name.startswith(tree + "/") and name.endswith(" %") for name in children),
      f"the map's children {children}")
check(not showing(named(app, pyatspi.ROLE_LABEL, "色の凡例")), "no comparison, no legend, to a reader either")
types = descendant(app, lambda o: o is not None and o.name == "種類" and o.getRole() in (pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE))
colours = [] if types is None else [c.description for c in types if c is not None and c.description]
check(any(d.startswith("マップの色: ") for d in colours), f"the types' swatches in words: {colours}")

view.queryComponent().grabFocus()
wait_for(lambda: focused_child(view), "the map's first child focused")
check(focused_child(view) == children[0], f"the keys start on the largest: {focused_child(view)!r}")
key("Right", MAP)
check(focused_child(view) == children[1], f"Right goes to the next: {focused_child(view)!r}")
down = children[1].split("  ")[0]
key("Return", MAP)
wait_for(lambda: view.description.startswith(down + "  ") or None, f"the map of {down}")
key("BackSpace", MAP)
wait_for(lambda: view.description.startswith(tree + "/  ") or None, "the map of the tree again")
check(focused_child(view) == children[1], f"back on the directory left: {focused_child(view)!r}")

# A search saved before: root.bin was smaller, beta was not there, gone was.
saved = os.path.join(tempfile.mkdtemp(), "older.json")
with open(saved, "w") as out:
    json.dump([1, 2, {"progname": "ncdu", "progver": "1.19", "timestamp": 1700000000},
               [{"name": tree}, {"name": "root.bin", "asize": 1000},
                [{"name": "alpha"}, {"name": "data", "asize": 5000}],
                [{"name": "2004"}, {"name": "data", "asize": 5000}],
                [{"name": "gone"}, {"name": "old", "asize": 4000}]]], out)

choose_compare_from_menu(grid)
dialog = wait_for(lambda: named(app, pyatspi.ROLE_DIALOG, "前回と比較"), "the file chooser")
field = wait_for(lambda: descendant(dialog, lambda o: o is not None and o.getRole() == pyatspi.ROLE_TEXT and showing(o)),
                 "the chooser's file name")
field.queryEditableText().setTextContents(saved)
opener = wait_for(lambda: descendant(dialog, lambda o: o is not None and o.getRole() == pyatspi.ROLE_PUSH_BUTTON
                                     and o.name.startswith("開く")), "the open button")
opener.queryAction().doAction(0)

table = grid.queryTable()
wait_for(lambda: table.nColumns == 4 or None, "the fourth column")
headers = [table.getColumnHeader(c).name for c in range(table.nColumns)]
check(headers == ["№", "ディレクトリ", "サイズ", "増減"], f"column headers {headers}")
rows = {row[1]: row for row in table_rows(grid)}
print("rows:", list(rows.values()))
check(rows.get("[Root Files]", [None] * 4)[3] == "+2", f"root files' change {rows.get('[Root Files]')}")
check(rows.get("alpha", [None] * 4)[3] == "0", f"alpha's change {rows.get('alpha')}")
check(rows.get("beta", [None] * 4)[3] == "新 +5", f"beta is new {rows.get('beta')}")
check(rows.get("gone", [None] * 4)[3] == "消 -4", f"gone is gone {rows.get('gone')}")
check(table.getAccessibleAt(0, 3).description.startswith("前回:"), "the change's tooltip read with it")
wait_for(lambda: showing(named(app, pyatspi.ROLE_LABEL, "色の凡例")) or None, "the comparison's legend")

# Ordered by the change: the header says so, the largest growth first.
grid.queryComponent().grabFocus()
key("ctrl+4", MAIN)
wait_for(lambda: table.getColumnHeader(3).description == "降順に並べ替え" or None, "the change's order on its header")
check(table_rows(grid)[0][1] == "beta", f"the largest growth first: {table_rows(grid)[0]}")

named(app, pyatspi.ROLE_PUSH_BUTTON, "終了").queryAction().doAction(0)
sys.exit(1 if failures else 0)
