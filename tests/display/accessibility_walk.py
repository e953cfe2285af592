#!/usr/bin/python3
"""Walks the running editor through the accessibility bus as a screen reader does.

Every window and dialog is opened by keys alone (xdotool); in each, every node with a role a
user acts on must have a name, and Tab must visit the controls named for it. The focused
editor's text and caret must be readable, and a misspelled word must carry the attribute screen
readers announce. Prints one line per window read and ends with status 0 when all hold.
"""
import subprocess
import sys
import time

import pyatspi

INTERACTIVE = {
    pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_SPIN_BUTTON,
    pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE,
    pyatspi.ROLE_TABLE, pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_MENU, pyatspi.ROLE_PROGRESS_BAR,
    pyatspi.ROLE_CHART, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_CHECK_MENU_ITEM,
    pyatspi.ROLE_RADIO_MENU_ITEM,
}
# Rows and cells are named by their text, which may be empty (a blank line of a list).
LEAVES = {pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE,
          pyatspi.ROLE_TABLE}

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message, flush=True)


def key(*keys):
    subprocess.run(["xdotool", "key", "--delay", "60", *keys], check=False)


def wait(predicate, what, timeout=15.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            found = predicate()
        except Exception:  # a node that went while it was read
            found = None
        if found:
            return found
        time.sleep(0.1)
    fail("timed out waiting for " + what)
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == "velloran":
            return app
    return None


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def window(app, name):
    for w in app:
        if w is not None and w.name == name and showing(w):
            return w
    return None


def unnamed(node, path, out, depth=0):
    if node is None or depth > 14:
        return
    role = node.getRole()
    here = path + "/" + node.getRoleName()
    if role in INTERACTIVE and not node.name.strip():
        out.append(here)
    if role in LEAVES:
        return
    for child in node:
        unnamed(child, here + ":" + (node.name or ""), out, depth + 1)


def check_names(win, label):
    out = []
    unnamed(win, label, out)
    for path in out:
        fail("no name: " + path)
    print("read %s: %s %r" % (label, win.getRoleName(), win.name), flush=True)


def focused(app):
    def find(node, depth=0):
        if node is None or depth > 14:
            return None
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            return node
        for child in node:
            hit = find(child, depth + 1)
            if hit is not None:
                return hit
        return None
    for w in app:
        if w is not None and w.getState().contains(pyatspi.STATE_ACTIVE):
            return find(w)
    return None


def front_list():
    subprocess.run(["xdotool", "search", "--name", "^doc.vlp$", "windowactivate", "--sync"],
                   check=False)


def tab_walk(app, label, expected):
    seen = []
    for _ in range(len(expected)):
        node = wait(lambda: focused(app), "the focus in " + label)
        if node is None:
            return
        seen.append(node.name)
        key("Tab")
        time.sleep(0.3)
    # The walk starts where the window put the focus, and goes round.
    if expected[0] in seen:
        at = seen.index(expected[0])
        seen = seen[at:] + seen[:at]
    if seen != expected:
        fail("Tab in %s visits %r, not %r" % (label, seen, expected))
    else:
        print("Tab in %s: %s" % (label, " > ".join(seen)), flush=True)


def main():
    app = wait(application, "the editor on the bus", 30)
    if app is None:
        return 1
    listw = wait(lambda: window(app, "doc.vlp"), "the section list")
    # Captioned by its first pane's title, or its design caption until it shows one.
    doc = wait(lambda: window(app, "one") or window(app, "Program Description"),
               "the document window")
    if listw is None or doc is None:
        print("windows: %r" % [(w.name, w.getRoleName(), showing(w)) for w in app], flush=True)
        return 1
    check_names(listw, "section list")
    check_names(doc, "document window")

    # The list has the focus; F8 goes into the text, whose caret and words can be read.
    key("F8")
    editor = wait(lambda: (lambda f: f if f is not None and f.getRole() == pyatspi.ROLE_TEXT
                           else None)(focused(app)), "the focused editor")
    if editor is not None:
        text = editor.queryText()
        if not editor.name.startswith("Section 0"):
            fail("editor named %r" % editor.name)
        if text.getText(0, -1) != "one\nTeh quick brwn fox\n":
            fail("editor text %r" % text.getText(0, -1))
        key("Down", "End")
        wait(lambda: text.caretOffset == len("one\nTeh quick brwn fox"), "the caret moved")
        print("editor %r caret %d" % (editor.name, text.caretOffset), flush=True)
        at = len("one\nTeh quick ")

        def misspelled():
            attributes, start, end = text.getAttributeRun(at, False)
            if isinstance(attributes, dict):
                attributes = ["%s:%s" % item for item in attributes.items()]
            return (start, end) if "invalid:spelling" in attributes else None
        run = wait(misspelled, "the misspelled attribute on brwn")
        if run is not None and run != (at, at + 4):
            fail("misspelled run %r" % (run,))
        if run is not None:
            print("misspelled: %r %r" % (text.getText(*run), text.getAttributeRun(at, False)[0]),
                  flush=True)
        key("F8")

    # The tool windows, each by its key, read, then closed by Escape.
    front_list()
    for keys, caption, label in [(["F3"], "Search", "search"), (["F4"], "Help", "help"),
                                 (["alt+v"] + ["Down"] * 5 + ["Return"], "Edit File", "statistics"),
                                 (["alt+v"] + ["Down"] * 6 + ["Return"], "Progress", "progress")]:
        wait(lambda: listw.getState().contains(pyatspi.STATE_ACTIVE), "the list in front")
        key(*keys)
        w = wait(lambda: window(app, caption), "the %s window" % label)
        if w is None:
            continue
        check_names(w, label)
        if label == "search":
            tab_walk(app, label, ["Search for", "Search", "Search All", "Replace", "Occurrences by section"])
        if label == "progress":
            tab_walk(app, label, ["Words a day", "Daily goal", "Words added today, by section"])
        key("Escape")
        wait(lambda: window(app, caption) is None, "Escape to close the %s window" % label)
        front_list()

    # File Parameters, a dialog: named, Tab through every control, Escape cancels.
    front_list()
    wait(lambda: listw.getState().contains(pyatspi.STATE_ACTIVE), "the list in front")
    key("F2")
    dialog = wait(lambda: window(app, "File Parameters"), "File Parameters")
    if dialog is not None:
        check_names(dialog, "file parameters")
        tab_walk(app, "file parameters",
                 ["Font Size", "Arial Font", "Word Wrap", "Backup Previous Edit",
                  "Backup Current Edit", "Backup Folder", "Backup place", "SAVE", "Use",
                  "Cancel"])
        key("Escape")
        wait(lambda: window(app, "File Parameters") is None, "Escape to cancel File Parameters")

    # The menus, opened by their mnemonics, are heard without their padding.
    front_list()
    key("alt+f")
    menus = wait(lambda: [c for c in listw[0] if c.getRole() == pyatspi.ROLE_MENU_BAR] or
                 [c for c in listw if c.getRole() == pyatspi.ROLE_MENU_BAR], "the menu bar")
    if menus:
        titles = [item.name for item in menus[0]]
        if titles != ["File", "Edit", "View", "Panels"]:
            fail("menu titles %r" % titles)
        print("menu titles: %r" % titles, flush=True)
        check_names(menus[0], "menu bar")
    key("Escape", "Escape")

    print("%d failures" % len(failures), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
