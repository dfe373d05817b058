#!/usr/bin/python3
"""What a screen reader sees of the running program, through AT-SPI.

    accessibility_test.py PROGRAM PICTURE_CHECK WORK_DIR

Runs inside an X server with a session bus and the accessibility bus, which
accessibility_test.sh sets up. Walks the program's accessibility tree, moves
the focus with the keyboard, presses on the picture, invokes "new" through its
accessible action, and checks what a screen reader would be told each time;
screenshots of the drawing area are checked with picture_check.
"""

import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

PROMPT = "Select interesting area and CLICK *"
SIDE = 500
PICTURE_AT = (56, 64)  # in the window's client area
# In the client area: a pixel of the focus ring, just left of the picture, and
# a pixel of plain window further left on the same line.
RING_PIXEL = (PICTURE_AT[0] - 3, PICTURE_AT[1] + 250)
PLAIN_PIXEL = (PICTURE_AT[0] - 30, PICTURE_AT[1] + 250)
ANNOUNCEMENT = "object:state-changed:showing"


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("ok -", what, flush=True)


def pump(seconds):
    """Delivers AT-SPI events for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.01)


def wait_until(predicate, what, timeout=15):
    end = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > end:
            raise Failure("timed out waiting until " + what)
        pump(0.05)


def has_state(accessible, state):
    return accessible.getState().contains(state)


def descendants(root):
    for child in root:
        if child is not None:
            yield child
            yield from descendants(child)


def only(root, role, what):
    found = [a for a in descendants(root) if a.getRole() == role]
    check(len(found) == 1, f"one {what} in the tree")
    return found[0]


class Events:
    """Records the events a screen reader acts on."""

    TYPES = ("object:state-changed:showing", "object:state-changed:focused", "focus:",
             "object:property-change:accessible-description", "object:property-change:accessible-name")

    def __init__(self):
        self.seen = []
        for kind in self.TYPES:
            pyatspi.Registry.registerEventListener(self._record, kind)

    def _record(self, event):
        self.seen.append((event.type, event.detail1, event.source.getRole(), event.source.name))

    def clear(self):
        pump(0.3)  # what is still on its way belongs to what came before
        self.seen = []

    def announcements(self):
        return [e for e in self.seen if e[0] == ANNOUNCEMENT and e[1] == 1 and e[2] == pyatspi.ROLE_NOTIFICATION]


class Screen:
    def __init__(self, picture_check, work):
        self.picture_check = picture_check
        self.work = work
        self.shots = 0

    def pixel(self, x, y):
        dump = subprocess.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "txt:-"],
                              check=True, capture_output=True, text=True).stdout
        return re.search(r"#[0-9A-Fa-f]{6}", dump).group(0)

    def picture(self, image, name, presses=()):
        """Screenshot of the drawing area, checked against the arithmetic."""
        extents = image.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.shots += 1
        path = f"{self.work}/{self.shots}-{name}.png"
        subprocess.run(["import", "-window", "root", "-crop", f"{SIDE}x{SIDE}+{extents.x}+{extents.y}", "+repage",
                        path], check=True)
        result = subprocess.run([self.picture_check, path, *presses], capture_output=True, text=True)
        check(result.returncode == 0, f"{name}: the drawing area shows the set as the arithmetic gives it "
                                      f"({(result.stdout + result.stderr).strip()})")
        return path


def differ(first, second):
    result = subprocess.run(["compare", "-metric", "AE", first, second, "null:"], capture_output=True, text=True)
    return result.stderr.strip() != "0"


def main(program, picture_check, work):
    events = Events()
    screen = Screen(picture_check, work)
    process = subprocess.Popen([program], stderr=subprocess.DEVNULL)
    try:
        run(process, events, screen)
    finally:
        process.terminate()
        process.wait(timeout=10)


def find_window(pid):
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.get_process_id() == pid:
            for child in application:
                if child is not None and child.name == "Form1":
                    return child
    return None


def run(process, events, screen):
    window = None

    def window_appeared():
        nonlocal window
        window = find_window(process.pid)
        return window is not None and window.childCount > 0

    wait_until(window_appeared, "the window is on the accessibility bus")

    print("== the tree")
    check(window.getRole() == pyatspi.ROLE_FRAME, "the window is a frame named Form1")
    image = only(window, pyatspi.ROLE_IMAGE, "image")
    check(image.name == "Mandelbrot set", "the image is named")
    check("zoom in ten times" in image.description, "the image's description says a press zooms in ten times")
    check(has_state(image, pyatspi.STATE_FOCUSABLE), "the image can take the focus")
    window_at = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    image_at = image.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    check((image_at.x - window_at.x, image_at.y - window_at.y, image_at.width, image_at.height) ==
          (*PICTURE_AT, SIDE, SIDE), "the image covers the drawing area")
    button = only(window, pyatspi.ROLE_PUSH_BUTTON, "push button")
    check(button.name == "new", "the button is named new")
    check(button.description != "", "the button has a description")
    check(has_state(button, pyatspi.STATE_FOCUSABLE), "the button can take the focus")
    action = button.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    check("press" in names, "the button can be pressed through its action")
    prompt = only(window, pyatspi.ROLE_NOTIFICATION, "notification")

    def prompt_readable(after):
        check(prompt.name == PROMPT and has_state(prompt, pyatspi.STATE_SHOWING),
              f"after {after} the prompt reads '{PROMPT}'")
        check(window.description == PROMPT, f"after {after} the window's description is the prompt")

    prompt_readable("start")

    def announced_once(after):
        wait_until(lambda: events.announcements(), f"the drawing after {after} is announced")
        pump(1.0)  # room for a second announcement, and for the X server to show the drawing
        check(len(events.announcements()) == 1, f"the drawing after {after} is announced once")
        prompt_readable(after)

    print("== focus")
    window_id = subprocess.run(["xdotool", "search", "--sync", "--name", "^Form1$"], check=True,
                               capture_output=True, text=True).stdout.split()[0]
    # With no window manager nothing has the keyboard focus until the window
    # is given it.
    subprocess.run(["xdotool", "windowfocus", "--sync", window_id], check=True)
    wait_until(lambda: has_state(image, pyatspi.STATE_FOCUSED), "the image has the focus")
    check(has_state(image, pyatspi.STATE_FOCUSED), "the image has the focus at start")
    ring = (window_at.x + RING_PIXEL[0], window_at.y + RING_PIXEL[1])
    plain = (window_at.x + PLAIN_PIXEL[0], window_at.y + PLAIN_PIXEL[1])
    pump(0.5)
    check(screen.pixel(*ring) != screen.pixel(*plain), "a focus ring surrounds the focused picture")
    start = screen.picture(image, "start")

    print("== zoom")
    events.clear()
    subprocess.run(["xdotool", "mousemove", str(image_at.x + 150), str(image_at.y + 250), "click", "1"], check=True)
    announced_once("a zoom")
    changes = [e for e in events.seen if e[0].startswith("object:property-change")]
    check(changes == [], f"no name or description changes on the way ({changes})")
    zoomed = screen.picture(image, "zoom", ["150,250"])

    print("== Tab")
    events.clear()
    subprocess.run(["xdotool", "key", "Tab"], check=True)
    wait_until(lambda: has_state(button, pyatspi.STATE_FOCUSED), "the button has the focus")
    check(not has_state(image, pyatspi.STATE_FOCUSED), "Tab takes the focused state from the image")
    check(("object:state-changed:focused", 1, pyatspi.ROLE_PUSH_BUTTON, "new") in events.seen,
          "Tab sends the focus to new")
    pump(0.5)
    check(screen.pixel(*ring) == screen.pixel(*plain), "the focus ring goes with the focus")

    print("== new through its action")
    events.clear()
    action.doAction(names.index("press"))
    announced_once("new")
    renewed = screen.picture(image, "new")
    check(differ(start, renewed), "new redraws the whole set in new colours")
    check(differ(zoomed, renewed), "new leaves the zoomed view")

    print("== new from the keyboard")
    events.clear()
    subprocess.run(["xdotool", "key", "space"], check=True)
    announced_once("new from the keyboard")
    again = screen.picture(image, "new-by-keyboard")
    check(differ(renewed, again), "space on new redraws in new colours")

    check(process.poll() is None, "the program is still running")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: accessibility_test.py PROGRAM PICTURE_CHECK WORK_DIR")
    began = time.monotonic()
    try:
        main(*sys.argv[1:])
    except Failure as failure:
        print("FAIL:", failure, flush=True)
        sys.exit(1)
    print(f"accessibility: all checks passed in {time.monotonic() - began:.1f} s")
