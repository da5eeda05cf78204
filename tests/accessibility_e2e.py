"""Reads the window through the accessibility bus as a screen reader does: presses 検索, waits for the
total row, reads the results table cell by cell with its column headers, checks what the drive list and
the directory list say, and leaves with 終了. Usage: accessibility_e2e.py TREE. Every wait has a deadline."""
import sys

import pyatspi

from accessibility_e2e_support import application, check, descendant, failures, named, table_rows, wait_for

tree = sys.argv[1]

app = wait_for(application, "the program on the accessibility bus")
search = wait_for(lambda: named(app, pyatspi.ROLE_PUSH_BUTTON, "検索"), "the 検索 button")
grid = wait_for(lambda: descendant(app, lambda o: o is not None and o.getRole() == pyatspi.ROLE_TABLE),
                "the results table")
check(grid.name == "検索結果", f"the table is named {grid.name!r}")

search.queryAction().doAction(0)
total = tree + "/合計"
rows = wait_for(lambda: (lambda r: r if r and r[-1][1] == total else None)(table_rows(grid)), "the total row")
table = grid.queryTable()
headers = [table.getColumnHeader(c).name for c in range(table.nColumns)]
print("headers:", headers)
for row in rows:
    print("row:", row)
check(headers == ["№", "ディレクトリ", "サイズ"], f"column headers {headers}")
check(len(rows) == 5, f"{len(rows)} rows")
check(rows[0] == ["1", "[Root Files]", "3 kb"], f"first row {rows[0]}")
check(sorted(r[1] for r in rows[1:4]) == ["2004", "alpha", "beta"], "subdirectory rows")
check(all(r[2] == "5 kb" for r in rows[1:4]), "subdirectory sizes")
check(rows[4] == ["5", total, "18 kb"], f"total row {rows[4]}")
bytes = table.getAccessibleAt(0, 2).description
check(bytes.startswith("3,000 バイト（全体の 16.7 %）\n1 項目\n最終更新: 2"), f"the root files' size is described {bytes!r}")
header_role = grid.getChildAtIndex(0).getRole()
check(header_role in (pyatspi.ROLE_COLUMN_HEADER, pyatspi.ROLE_TABLE_COLUMN_HEADER),
      f"the first child is a {grid.getChildAtIndex(0).getRoleName()}, not a column header")

drive = descendant(app, lambda o: o is not None and o.getRole() == pyatspi.ROLE_COMBO_BOX)
labels = [target.name for relation in drive.getRelationSet()
          if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
          for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]
check(labels == ["ドライブ"], f"the drive list is labelled {labels}")

directories = named(app, pyatspi.ROLE_LIST, "ディレクトリ一覧")
places = {item.name: item.description for item in directories}
check(places.get("alpha") == "サブディレクトリ", f"alpha is described {places.get('alpha')!r}")
check(tree.rsplit("/", 1)[1] in places and places[tree.rsplit("/", 1)[1]] == "開いているディレクトリ",
      "the open directory says so")

status = descendant(app, lambda o: o is not None and o.getRole() == pyatspi.ROLE_STATUS_BAR)
check(status is not None, "a status bar")

named(app, pyatspi.ROLE_PUSH_BUTTON, "終了").queryAction().doAction(0)
sys.exit(1 if failures else 0)
