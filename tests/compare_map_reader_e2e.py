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
from gi.repository import GLib

from accessibility_e2e_support import check, descendant, failures, named, table_rows, wait_for, application

tree = sys.argv[1]
MAIN, MAP = "Murako検索ツール", "マップ - Murako"


def showing(o):
    return o is not None and o.getState().contains(pyatspi.STATE_SHOWING)


# A popup menu is no child of the window: a reader meets it by the focus on its entries.
focused = []
pyatspi.Registry.registerEventListener(lambda e: focused.append(e.source) if e.detail1 else None,
                                       "object:state-changed:focused")


def key(name, window=None):
    """Presses a key in the window of that title, else wherever the keys go."""
    focus = ["search", "--onlyvisible", "--name", f"^{window}$", "windowfocus", "--sync"] if window else []
    subprocess.run(["xdotool"] + focus + ["key", "--clearmodifiers", name], check=True)
    time.sleep(0.3)


def heard_focus():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass
    return focused[-1] if focused else None


def choose_from_menu(grid, entry):
    """Opens the table's menu as a reader does, through the table's action, and clicks entry: clicked, not
    pressed through the bus, since an entry opening a dialog would hold the call until the dialog closes."""
    actions = grid.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    check("ShowMenu" in names, f"the table offers its menu to a reader: {names}")
    # The pointer left on the last entry clicked would pick whatever the new menu shows under it.
    subprocess.run(["xdotool", "mousemove", "639", "559"], check=True)
    heard_focus()  # what the last menu said is old news
    focused.clear()
    actions.doAction(names.index("ShowMenu"))

    def entry_shown():
        key("Down")  # the menu takes the keys once it is up; its entries then say so
        last = heard_focus()
        if last is None or last.getRole() != pyatspi.ROLE_MENU_ITEM or last.parent is None:
            # Where the keys went elsewhere, the menu is still one of the program's windows on the bus.
            item = descendant(app, lambda o: o is not None and o.getRole() == pyatspi.ROLE_MENU_ITEM
                              and o.name == entry and showing(o))
            return [item] if item else None
        return [child for child in last.parent if child is not None and child.name == entry] or None
    wanted = wait_for(entry_shown, f"{entry} in the table's menu")
    box = wanted[0].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "1"],
                   check=True)
    time.sleep(0.5)


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

choose_from_menu(grid, "前回と比較...")
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
