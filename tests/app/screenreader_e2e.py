#!/usr/bin/python3
"""Drives the workbench as a screen reader user does: key presses only, and
everything it checks is read over AT-SPI (the focused object's role and name,
the editor's text and caret, the result table's cells and titles, the
messages). Started by screenreader_e2e.sh, which provides the screen, the
buses, the server and the workbench."""
import os
import sys
import time

import pyatspi
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

PASSWORD = os.environ["TARNWICK_PASSWORD"]
QUERY = "select KundenNr, Ort from Kunden"
FIRST_ROWS = [["1", "Berlin"], ["2", "Hamburg"], ["3", "Düsseldorf"]]
failures = []


def log(text):
    print(text, flush=True)


def check(ok, what):
    log(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def wait_for(what, probe, seconds=30.0):
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = probe()
        except Exception:  # the tree changes under us while the window builds
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            log(f"FAIL  timed out waiting for {what}")
            log(dump_focus_path())
            desktop = pyatspi.Registry.getDesktop(0)
            log("      applications: " + ", ".join(
                repr(desktop.getChildAtIndex(i).name) for i in range(desktop.childCount)
                if desktop.getChildAtIndex(i) is not None))
            app = application()
            if app is not None and os.environ.get("SCREENREADER_DUMP"):
                for node in walk(app, 0, 12):
                    log(f"      {announce(node)} {node.getState().getStates()}")
            sys.exit(1)
        time.sleep(0.2)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        # By its process where the bus tells it, by its name otherwise.
        try:
            if str(app.get_process_id()) == os.environ.get("TARNWICK_PID", ""):
                return app
        except Exception:
            pass
        if app.name == "tarnwick":
            return app
    return None


def walk(node, depth=0, limit=18):
    yield node
    if depth >= limit:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1, limit)


def find(root, predicate):
    for node in walk(root):
        try:
            if predicate(node):
                return node
        except Exception:
            pass
    return None


def active_window():
    app = application()
    if app is None:
        return None
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and window.getState().contains(pyatspi.STATE_ACTIVE):
            return window
    return None


def top_level(role, name_part):
    """A window of the workbench by its role and (part of) its title."""
    app = application()
    for i in range(app.childCount if app is not None else 0):
        window = app.getChildAtIndex(i)
        if window is not None and window.getRoleName() == role and name_part in window.name:
            return window
    return None


def has_focus(node):
    states = node.getState()
    # Qt marks a tab bar's current tab as focused whether or not the bar has
    # the focus; the focus is where the keys go, never a tab of a bar without it.
    return (states.contains(pyatspi.STATE_FOCUSED) and states.contains(pyatspi.STATE_SHOWING)
            and node.getRoleName() != "page tab")


def focused():
    """The object that has the keyboard focus: in the active window, or (on a
    screen without a window manager, where no window is marked active) in the
    one window that holds it."""
    window = active_window()
    if window is not None:
        return find(window, has_focus)
    app = application()
    for i in range(app.childCount if app is not None else 0):
        window = app.getChildAtIndex(i)
        if window is not None and window.getState().contains(pyatspi.STATE_SHOWING):
            node = find(window, has_focus)
            if node is not None:
                return node
    return None


def label_of(node):
    """The label a control is labelled by (its buddy), as screen readers read it."""
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and relation.getNTargets():
            return relation.getTarget(0).name
    return ""


def announce(node):
    """What a screen reader says for an object: its label, role and name."""
    if node is None:
        return "nothing"
    label = label_of(node)
    return (f"{label!r} " if label else "") + f"{node.getRoleName()} {node.name!r}"


def dump_focus_path():
    node = focused()
    return "focus: " + announce(node)


KEYSYMS = {"Tab": 0xFF09, "Return": 0xFF0D, "F5": 0xFFC2, "Escape": 0xFF1B,
           "Alt_L": 0xFFE9, "Shift_L": 0xFFE1, "Down": 0xFF54, "Right": 0xFF53, "Left": 0xFF51,
           "Control_L": 0xFFE3, "End": 0xFF57, "Home": 0xFF50}


def press(name):
    sym = KEYSYMS[name]
    pyatspi.Registry.generateKeyboardEvent(sym, None, pyatspi.KEY_SYM)
    time.sleep(0.15)


ALT_MASK = 1 << 3  # Mod1


def alt(letter):
    """Alt with a letter, as Alt+N: the modifier is locked around the key."""
    Atspi.generate_keyboard_event(ALT_MASK, None, Atspi.KeySynthType.LOCKMODIFIERS)
    try:
        pyatspi.Registry.generateKeyboardEvent(ord(letter), None, pyatspi.KEY_SYM)
    finally:
        Atspi.generate_keyboard_event(ALT_MASK, None, Atspi.KeySynthType.UNLOCKMODIFIERS)
    time.sleep(0.2)


def type_text(text):
    pyatspi.Registry.generateKeyboardEvent(0, text, pyatspi.KEY_STRING)
    time.sleep(0.3)


def tab_to(predicate, what, presses=40):
    """Tabs through the window, listening to what each stop announces, until
    the one wanted has the focus."""
    heard = []
    for _ in range(presses):
        node = focused()
        if node is not None and predicate(node):
            log(f"      tabbed to {announce(node)}")
            return node
        heard.append(announce(node))
        press("Tab")
    log(f"FAIL  {what} not reached with Tab; heard: " + " | ".join(heard))
    sys.exit(1)


# 1. The connection dialog, preset to the server and the user.
app = wait_for("the workbench on the accessibility bus", application)
dialog = wait_for("the connection dialog", lambda: top_level("dialog", "Verbinden mit MSSQL-Server"))
check(True, f"dialog announced: {announce(dialog)}")
server_box = wait_for("focus in the server box", focused)
check(label_of(server_box) == "SQL Server:" and server_box.getRoleName() == "combo box",
      f"first focus: {announce(server_box)}")

# Alt+K: the password field's label takes the focus there.
alt("k")
password = wait_for("the password field",
                    lambda: (lambda f: f if f and f.getRoleName() == "password text" else None)(focused()), 10)
check(password.name == "Kennwort:", f"password field: {announce(password)}")
type_text(PASSWORD)
press("Return")

# 2. The main window after the login; Tab to the editor and type the query.
main = wait_for("the main window", lambda: top_level("frame", "tarnwick 2005 - 127.0.0.1"))
check(True, f"main window: {announce(main)}")
editor = tab_to(lambda n: n.name == "Abfrage" and "EditableText" in pyatspi.utils.listInterfaces(n),
                "the query editor")
check(editor.getRoleName() in ("text", "entry", "editbar", "paragraph"), f"editor role: {announce(editor)}")
type_text(QUERY)
text = editor.queryText()
typed = wait_for("the typed query in the editor",
                 lambda: text.getText(0, -1) if text.getText(0, -1) == QUERY else None, 10)
check(typed == QUERY, f"editor reads back {typed!r}")
check(text.caretOffset == len(QUERY), f"caret at {text.caretOffset} after typing ({len(QUERY)} expected)")
line = text.getTextAtOffset(3, pyatspi.TEXT_BOUNDARY_LINE_START)
check(line[0].rstrip("\n") == QUERY, f"line at the caret: {line[0]!r}")
word = text.getTextAtOffset(8, pyatspi.TEXT_BOUNDARY_WORD_START)
check(word[0].startswith("KundenNr"), f"word at offset 8: {word[0]!r}")

# 3. F5 runs it; the result is a table whose every cell can be read.
press("F5")
table = wait_for("the result table with rows",
                 lambda: (lambda t: t if t is not None and t.queryTable().nRows >= 12 else None)(
                     find(main, lambda n: n.name == "Ergebnisse" and "Table" in pyatspi.utils.listInterfaces(n))))
grid = table.queryTable()
check(grid.nRows == 12 and grid.nColumns == 2, f"table {grid.nRows} × {grid.nColumns}")
titles = [grid.getColumnDescription(c) for c in range(grid.nColumns)]
check(titles == ["KundenNr", "Ort"], f"column titles {titles}")
cells = [[grid.getAccessibleAt(r, c).name for c in range(grid.nColumns)] for r in range(grid.nRows)]
check(cells[:3] == FIRST_ROWS, f"first rows {cells[:3]}")
check(all(cells[r][0] == str(r + 1) for r in range(12)), "every KundenNr read")

# 4. The messages page, reached with its accelerator.
alt("n")
messages = wait_for("the messages page",
                    lambda: find(main, lambda n: n.name == "Nachrichten" and "Text" in pyatspi.utils.listInterfaces(n)))
check(messages is not None, f"messages: {announce(messages)} reads {messages.queryText().getText(0, -1)!r}")

# 5. The structure of the result: menu "Ansicht", its first entry, by keys.
alt("a")
press("Return")
structure = wait_for("the structure window", lambda: top_level("dialog", "Tabellenstruktur"))
fields = wait_for("the list of fields",
                  lambda: find(structure, lambda n: n.name == "Felder"
                               and "Table" in pyatspi.utils.listInterfaces(n)))
listing = fields.queryTable()
names = [listing.getAccessibleAt(r, 1).name for r in range(1, listing.nRows)]
check(names[:2] == ["KundenNr", "Ort"], f"structure lists the fields {names}")
press("Escape")
wait_for("the structure window to close", lambda: top_level("dialog", "Tabellenstruktur") is None)

# 6. Export: menu "Datei" (Alt+D also names the database box, so it is
# reached from "Ansicht" with Left), down to "Exportieren...", a file name typed.
target = os.path.join(os.environ["TARNWICK_EXPORT_DIR"], "kunden.csv")
alt("a")
press("Left")
heard = []
def highlighted_item():
    """The menu entry the keys are on, as a screen reader follows it."""
    app = application()
    return find(app, lambda n: n.getRoleName() == "menu item"
                and n.parent is not None and n.parent.getRoleName() != "menu bar"
                and n.getState().contains(pyatspi.STATE_SHOWING)
                and (n.getState().contains(pyatspi.STATE_FOCUSED)
                     or n.getState().contains(pyatspi.STATE_SELECTED)
                     or n.getState().contains(pyatspi.STATE_ARMED)))


time.sleep(0.5)
for _ in range(20):
    item = highlighted_item()
    if item is not None and item.name == "Exportieren...":
        break
    heard.append(announce(item))
    if os.environ.get("SCREENREADER_DUMP"):
        for node in walk(application(), 0, 8):
            if node.getRoleName() in ("menu item", "menu", "popup menu", "window"):
                log(f"      {announce(node)} {node.getState().getStates()}")
    press("Down")
else:
    check(False, "'Exportieren...' not reached in the menu; heard: " + " | ".join(heard))
press("Return")
dialog = wait_for("the export dialog", lambda: top_level("dialog", "Tabelle exportieren"))
check(True, f"export dialog: {announce(dialog)}, focus on {announce(focused())}")
type_text(target)
press("Return")
wait_for("the exported file", lambda: os.path.exists(target) and os.path.getsize(target) > 0, 30)
with open(target, encoding="utf-8-sig") as exported:
    content = exported.read()
check("Düsseldorf" in content and content.count("\n") >= 13, f"export holds {content.count(chr(10))} lines")

if failures:
    log(f"{len(failures)} failed")
    sys.exit(1)
log("screen reader walk-through passed")
