#!/usr/bin/python3
"""Drives the web page in headless Chromium for end_to_end.sh.

    browser_driver.py PAGE_DIR SCALE

Serves PAGE_DIR on 127.0.0.1, opens its index.html in Chromium at SCALE
device pixels per CSS pixel, waits for the program's window, titled "Form1",
and answers "ready X Y" with the top-left of its client area in device
pixels of a screenshot. Then it takes one command a line on standard input and
answers each with "ok ..." or "error ...":

    click X Y BUTTON COUNT   COUNT presses of mouse button BUTTON (1 left,
                             2 middle, 3 right) at device pixel (X, Y)
    burst X Y X Y ...        one left press at each point, with no pause
    tap X Y                  a tap of one finger
    key NAME                 a key press: Tab or space
    screenshot FILE          the page as the screen shows it, as PNG
    timings                  for every press so far, the milliseconds from
                             the press until its handler had drawn, and
                             until the next frame; and the milliseconds from
                             opening the page until its first picture
    served                   an error if the page asked the server for a
                             file that its folder does not have

Console messages of the page go to standard error when it ends.
"""

import functools
import http.server
import statistics
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.common.keys import Keys

# Installed before the page's own scripts. The program draws inside the
# browser's event handling, so a press's handler has drawn once the task
# that delivered it ends, and the picture is on the screen at the next frame.
INSTRUMENT = """
window.mandelbrotTimings = {presses: [], firstPicture: null};
// The client area of the window titled "Form1": Qt draws it into a canvas,
// and the title into the window's title bar, inside a shadow root.
function clientArea(root) {
  for (const element of root.querySelectorAll('*')) {
    if (element.classList.contains('window-name') && element.innerText === 'Form1') {
      return element.closest('.qt-window').querySelector('.qt-window-content');
    }
    const inner = element.shadowRoot && clientArea(element.shadowRoot);
    if (inner) return inner;
  }
  return null;
}
window.mandelbrotClientArea = () => clientArea(document);
// The first picture: the drawing area's corner and middle differ in colour.
(function look() {
  const canvas = clientArea(document);
  const context = canvas && canvas.getContext('2d');
  if (context) {
    const scale = window.devicePixelRatio;
    const at = (x, y) => context.getImageData(Math.floor((56 + x) * scale), Math.floor((64 + y) * scale), 1, 1)
                           .data.join();
    if (at(1, 1) !== at(250, 250)) {
      window.mandelbrotTimings.firstPicture = performance.now();
      return;
    }
  }
  requestAnimationFrame(look);
})();
// Presses on the drawing area, each of which the program draws for.
window.addEventListener('pointerdown', event => {
  const box = clientArea(document).getBoundingClientRect();
  const x = event.clientX - box.left - 56;
  const y = event.clientY - box.top - 64;
  if (x < 0 || y < 0 || x >= 500 || y >= 500) return;
  const press = {drawn: null, shown: null};
  window.mandelbrotTimings.presses.push(press);
  const channel = new MessageChannel();
  channel.port1.onmessage = () => {
    press.drawn = performance.now() - event.timeStamp;
    requestAnimationFrame(() => { press.shown = performance.now() - event.timeStamp; });
  };
  channel.port2.postMessage(null);
}, true);
"""

COMMANDS = {"click", "burst", "tap", "key", "screenshot", "timings", "served"}
KEYS = {"Tab": Keys.TAB, "space": Keys.SPACE}
# X11's button numbers, as end_to_end.sh uses them, to WebDriver's.
BUTTONS = {1: 0, 2: 1, 3: 2}


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the page's folder, noting what it was asked for and did not have."""

    missing = []

    def send_error(self, code, *args, **kwargs):
        QuietHandler.missing.append(f"{self.path} ({code})")
        super().send_error(code, *args, **kwargs)

    def log_message(self, *args):
        pass


def serve(directory):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=directory))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_browser(scale, profile):
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    # Headless, with no connections beyond the page's own server: this
    # machine's network is closed, and Chromium's background fetches would
    # only wait for it.
    for flag in ("--headless=new", "--no-sandbox", "--window-size=1024,900", f"--force-device-scale-factor={scale}",
                 "--no-first-run", "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--disable-quic", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Page:
    def __init__(self, driver, scale):
        self.driver = driver
        self.scale = scale

    def wait_for_window(self, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            origin = self.driver.execute_script(
                "const area = window.mandelbrotClientArea();"
                "if (!area) return null;"
                "const box = area.getBoundingClientRect();"
                "return [box.left * devicePixelRatio, box.top * devicePixelRatio];")
            if origin:
                return [round(value) for value in origin]
            time.sleep(0.05)
        status = self.driver.execute_script("return document.getElementById('status').innerText")
        raise RuntimeError(f"no window after {timeout} s; the page says: {status!r}")

    def css(self, device):
        return int(device) / self.scale

    def mouse(self):
        return ActionBuilder(self.driver, mouse=PointerInput(interaction.POINTER_MOUSE, "mouse"))

    def click(self, x, y, button, count):
        action = self.mouse()
        pointer = action.pointer_action.move_to_location(self.css(x), self.css(y))
        for press in range(int(count)):
            if press > 0:
                pointer.pause(0.12)
            pointer.pointer_down(BUTTONS[int(button)]).pointer_up(BUTTONS[int(button)])
        action.perform()

    def burst(self, *points):
        action = self.mouse()
        for x, y in zip(points[::2], points[1::2]):
            action.pointer_action.move_to_location(self.css(x), self.css(y)).pointer_down().pointer_up()
        action.perform()

    def tap(self, x, y):
        action = ActionBuilder(self.driver, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"))
        action.pointer_action.move_to_location(self.css(x), self.css(y)).pointer_down().pointer_up()
        action.perform()

    def key(self, name):
        ActionChains(self.driver).send_keys(KEYS[name]).perform()

    def screenshot(self, file):
        if not self.driver.get_screenshot_as_file(file):
            raise RuntimeError(f"could not write {file}")

    def served(self):
        if QuietHandler.missing:
            raise RuntimeError(f"the page asked for what its folder does not have: {', '.join(QuietHandler.missing)}")

    def timings(self):
        timings = self.driver.execute_script("return window.mandelbrotTimings")
        drawn = [press["drawn"] for press in timings["presses"] if press["drawn"] is not None]
        shown = [press["shown"] for press in timings["presses"] if press["shown"] is not None]
        if timings["firstPicture"] is None or not drawn or not shown:
            raise RuntimeError(f"timings missing: {timings}")
        return (f"first picture {timings['firstPicture']:.0f} ms after the page was opened; {len(drawn)} presses "
                f"on the drawing area: drawn {statistics.median(drawn):.1f} ms after the press, the next frame "
                f"{statistics.median(shown):.1f} ms after it (medians)")


def main():
    directory, scale = sys.argv[1], float(sys.argv[2])
    server = serve(directory)
    with tempfile.TemporaryDirectory() as profile:
        driver = start_browser(scale, profile)
        try:
            driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": INSTRUMENT})
            driver.get(f"http://127.0.0.1:{server.server_address[1]}/index.html")
            page = Page(driver, scale)
            print("ready", *page.wait_for_window(), flush=True)
            for line in sys.stdin:
                command, *arguments = line.split()
                try:
                    if command not in COMMANDS:
                        raise ValueError(f"no such command: {command}")
                    answer = getattr(page, command)(*arguments)
                    print("ok", answer or "", flush=True)
                except Exception as error:  # told to end_to_end.sh, which fails the test
                    print("error", command, str(error).splitlines()[0] if str(error) else repr(error), flush=True)
        finally:
            for entry in driver.get_log("browser"):
                print(f"console: {entry['level']} {entry['message']}", file=sys.stderr)
            driver.quit()
            server.shutdown()


if __name__ == "__main__":
    main()
