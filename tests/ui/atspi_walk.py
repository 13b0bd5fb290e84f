#!/usr/bin/python3
"""The desktop program as a screen reader meets it: started under Xvfb with the accessibility bus of
a session of its own, its windows walked through AT-SPI (pyatspi) and driven by their actions.

usage: dbus-run-session -- /usr/bin/python3 atspi_walk.py PROGRAM IMAGE

Checks that the main and results windows are frames and the messages alerts (their text as
description) and the questions dialogs, that every control is named (the drop-down lists by their
captions), that no picture of a button lies on the button, and that no name holds a soft hyphen.
Exits 77 when AT-SPI, Xvfb or pyatspi is not on the machine."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def main():
    program, image = sys.argv[1], sys.argv[2]
    launcher = "/usr/libexec/at-spi-bus-launcher"
    if not (os.path.exists(launcher) and shutil.which("Xvfb") and os.environ.get("DBUS_SESSION_BUS_ADDRESS")):
        print("AT-SPI, Xvfb or a session bus is missing")
        return SKIP
    try:
        import pyatspi  # noqa: F401 (imported once the bus runs, below)
    except ImportError:
        print("pyatspi is missing")
        return SKIP

    work = tempfile.mkdtemp(prefix="orv-atspi-")
    processes = []
    try:
        processes.append(subprocess.Popen([launcher, "--launch-immediately"], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL))
        read, write = os.pipe()
        processes.append(subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24"],
                                          pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write)
        with os.fdopen(read) as displays:
            display = displays.readline().strip()
        if not display:
            print("Xvfb did not start")
            return SKIP
        copy = os.path.join(work, "demo.img")
        shutil.copyfile(image, copy)
        environment = dict(os.environ, DISPLAY=":" + display, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                           QT_ACCESSIBILITY="1", HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                           XDG_RUNTIME_DIR=work, LANG="C.UTF-8", LC_ALL="C.UTF-8", QT_QPA_PLATFORM="xcb")
        environment.pop("LANGUAGE", None)
        # A second argument that cannot be opened: the program says so in a message at start.
        processes.append(subprocess.Popen([program, copy, os.path.join(work, "missing.img")], env=environment,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        return walk(pyatspi)
    finally:
        for process in reversed(processes):
            process.kill()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


def walk(pyatspi):
    faults = []

    def wait_for(what, test, seconds=90):
        end = time.time() + seconds
        while time.time() < end:
            found = test()
            if found is not None:
                return found
            time.sleep(0.2)
        shown = [(w.getRoleName(), w.name, w.description) for w in windows() if w is not None]
        raise SystemExit("FAIL: " + what + " never came; windows: " + repr(shown))

    def application():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "Orvandel":
                return app
        return None

    def windows():
        app = application()
        return [] if app is None else [app.getChildAtIndex(i) for i in range(app.childCount)]

    def window(role, text=None):
        def test():
            for w in windows():
                if w is not None and w.getRoleName() == role and (text is None or text in w.description):
                    if w.getState().contains(pyatspi.STATE_SHOWING):
                        return w
            return None
        return test

    def nodes(node, depth=0):
        found = []
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is None or depth > 6:
                continue
            found.append(child)
            if child.getRoleName() not in ("list", "table", "tree"):
                found.extend(nodes(child, depth + 1))
        return found

    def extents(node):
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (box.x, box.y, box.width, box.height)

    def inside(inner, outer):
        x, y, w, h = inner
        X, Y, W, H = outer
        return w > 0 and h > 0 and x >= X and y >= Y and x + w <= X + W and y + h <= Y + H

    def check(w, where):
        everything = nodes(w)
        buttons = [n for n in everything if n.getRoleName() == "push button"]
        for n in everything:
            role, name = n.getRoleName(), n.name or ""
            if "\u00ad" in name:
                faults.append(f"{where}: soft hyphen in {name!r}")
            if role in ("push button", "combo box", "text", "check box", "table", "tree", "progress bar") and \
                    not name.strip():
                faults.append(f"{where}: a {role} without a name")
            if role not in ("push button",) and any(inside(extents(n), extents(b)) for b in buttons):
                faults.append(f"{where}: a {role} {name!r} lies on a button")
        return everything

    def press(w, name):
        for n in nodes(w):
            if n.getRoleName() == "push button" and n.name == name:
                n.queryAction().doAction(0)
                return
        raise SystemExit(f"FAIL: no button {name!r}")

    # The message at start: an alert whose description is its text.
    alert = wait_for("the message about the image that cannot be opened",
                     window("alert", "missing.img: it does not exist"))
    check(alert, "start message")
    press(alert, "Close")

    main = wait_for("the main window", window("frame"))
    found = check(main, "main window")
    boxes = sorted(n.name for n in found if n.getRoleName() == "combo box")
    if boxes != ["File or mask to find", "Mode", "Select a drive"]:
        faults.append(f"main window: drop-down lists named {boxes}")

    # Find: the results window, another frame.
    press(main, "Find")
    results = wait_for("the results window", lambda: next(
        (w for w in windows() if w is not None and w.getRoleName() == "frame" and
         any(n.getRoleName() == "tree" for n in nodes(w))), None))
    found = check(results, "results window")
    for role, name in (("tree", "Folders"), ("table", "Deleted files"), ("image", "Preview of the file"),
                       ("progress bar", "Progress")):
        if not any(n.getRoleName() == role and n.name == name for n in found):
            faults.append(f"results window: no {role} named {name!r}")

    # The search field takes a mask and Find shows the first folder with a match.
    field = next(n for n in nodes(results) if n.getRoleName() == "text")
    field.queryEditableText().setTextContents("*.jpg")
    press(results, "Find")
    table = next(n for n in nodes(results) if n.getRoleName() == "table")
    # The photos' folder is shown once the table holds cells beyond its five column headers.
    wait_for("the photos' folder", lambda: True if table.childCount > 6 else None)
    # Restore with nothing chosen: an alert says so.
    press(results, "Deselect all")
    press(results, "Restore")
    alert = wait_for("the alert about no selection", window("alert", "No files selected!"))
    check(alert, "no-selection message")
    press(alert, "Close")
    wait_for("the alert to close", lambda: None if window("alert", "No files selected!")() else True)
    # Wipe of every file: a question, announced as a dialog with its text, answered No.
    press(results, "Select all")
    press(results, "Wipe")
    question = wait_for("the Wipe question", window("dialog", "wipe"))
    check(question, "Wipe question")
    press(question, "No")
    wait_for("the Wipe question to close", lambda: None if window("dialog", "wipe")() else True)
    # Restore: the notice, then the question that says where the files go; answered No.
    press(results, "Restore")
    notice = wait_for("the notice before a restore", window("dialog", "no 100 percent guarantee"))
    check(notice, "notice")
    press(notice, "Continue")
    question = wait_for("the Restore question", window("dialog", "They will be saved in:"))
    check(question, "Restore question")
    press(question, "No")

    for fault in faults:
        print("FAIL:", fault)
    print(f"{len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
