#!/usr/bin/python3
"""Drives the web page in headless Chromium for end_to_end.sh.

    browser_driver.py PAGE_DIR SCALE|DEVICE

Serves PAGE_DIR on 127.0.0.1, opens its index.html in Chromium, waits for the
program's window, titled "Form1", and answers "ready X Y S": the top-left of
its client area in device pixels of a screenshot, and the device pixels per
pixel of the program. SCALE is a desktop's device pixels per CSS pixel;
DEVICE one of the touch screens of Chromium's phone emulation in DEVICES.
Then it takes one command a line on standard input and answers each with
"ok ..." or "error ...":

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
    geometry                 "X Y S" as in ready, now
    fits                     an error unless the whole window shows, as
                             large as fits, and the page does not scroll
    rotate                   the phone turned on its side; answers geometry
    installable              an error if Chromium would not install the page
    offline                  the page reloaded from its service worker's
                             cache without a network; answers geometry
    memory                   the program's memory and the page's JavaScript
                             heap after garbage collection, in bytes
    throttle RATE            the processor slowed RATE times; the timings
                             start afresh
    storm SEED COUNT         COUNT random events: presses with every button,
                             double clicks, drags, the wheel, keys, taps,
                             swipes, pinches, window resizes and rotations

Console messages of the page go to standard error when it ends.
"""

import functools
import http.server
import random
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
// The program's memory, which only grows, as its instance exports it.
for (const name of ['instantiate', 'instantiateStreaming']) {
  const original = WebAssembly[name];
  WebAssembly[name] = async (...args) => {
    const result = await original.apply(WebAssembly, args);
    const exports = Object.values((result.instance ?? result).exports);
    window.mandelbrotMemory = exports.find(value => value instanceof WebAssembly.Memory);
    return result;
  };
}
// The first picture: the drawing area's corner and middle differ in colour.
(function look() {
  const canvas = clientArea(document);
  const context = canvas && canvas.getContext('2d');
  if (context) {
    const scale = window.devicePixelRatio * visualViewport.scale;
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

COMMANDS = {"click", "burst", "tap", "key", "screenshot", "timings", "served", "geometry", "fits", "rotate",
            "installable", "offline", "memory", "throttle", "storm"}
# Touch screens in CSS pixels, with their device pixels per CSS pixel.
DEVICES = {"phone": (390, 844, 3.0), "phone-landscape": (844, 390, 3.0), "tablet": (600, 960, 2.0)}
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


def start_browser(device, profile):
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    # Headless, with no connections beyond the page's own server: this
    # machine's network is closed, and Chromium's background fetches would
    # only wait for it.
    flags = ["--headless=new", "--no-sandbox", "--window-size=1024,900", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-quic",
             f"--user-data-dir={profile}"]
    if device in DEVICES:
        width, height, ratio = DEVICES[device]
        options.add_experimental_option("mobileEmulation", {"deviceMetrics": {
            "width": width, "height": height, "pixelRatio": ratio, "touch": True, "mobile": True}})
    else:
        flags.append(f"--force-device-scale-factor={device}")
    for flag in flags:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Page:
    def __init__(self, driver, device):
        self.driver = driver
        self.device = device
        self.scale = 1.0

    def where(self):
        """Where the client area's top-left is in a screenshot, and its scale:
        the page's, times the device pixels per CSS pixel."""
        found = self.driver.execute_script(
            "const area = window.mandelbrotClientArea();"
            "if (!area) return null;"
            "const box = area.getBoundingClientRect(), view = visualViewport;"
            "return [box.left, box.top, view.pageLeft, view.pageTop, devicePixelRatio * view.scale];")
        if not found:
            return None
        left, top, page_left, page_top, self.scale = found
        return f"{(left - page_left) * self.scale:.2f} {(top - page_top) * self.scale:.2f} {self.scale:.6g}"

    def wait_for_window(self, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            # The window and its place settle once the page has its scale.
            before = self.where()
            time.sleep(0.2)
            if before and before == self.where():
                return before
        status = self.driver.execute_script("return document.getElementById('status').innerText")
        raise RuntimeError(f"no window after {timeout} s; the page says: {status!r}")

    geometry = wait_for_window

    def css(self, device):
        # The CSS pixel under a device pixel: the program's pixels are whole
        # CSS pixels, so a press lands on one.
        return round(float(device) / self.scale)

    def mouse(self):
        return ActionBuilder(self.driver, mouse=PointerInput(interaction.POINTER_MOUSE, "mouse"))

    def click(self, x, y, button, count):
        if self.device in DEVICES:  # a touch screen's press is a tap
            for press in range(int(count)):
                time.sleep(0.12 * (press > 0))
                self.tap(x, y)
            return
        action = self.mouse()
        pointer = action.pointer_action.move_to_location(self.css(x), self.css(y))
        for press in range(int(count)):
            if press > 0:
                pointer.pause(0.12)
            pointer.pointer_down(BUTTONS[int(button)]).pointer_up(BUTTONS[int(button)])
        action.perform()

    def burst(self, *points):
        if self.device in DEVICES:
            for x, y in zip(points[::2], points[1::2]):
                self.tap(x, y)
            return
        action = self.mouse()
        for x, y in zip(points[::2], points[1::2]):
            action.pointer_action.move_to_location(self.css(x), self.css(y)).pointer_down().pointer_up()
        action.perform()

    def touch(self, kind, *points):
        self.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {
            "type": kind, "touchPoints": [{"x": x, "y": y, "id": i} for i, (x, y) in enumerate(points)]})

    def tap(self, x, y):
        # In the middle of the CSS pixel: a finger's place is a fraction,
        # which the page's scale rounds either way.
        self.touch("touchStart", (self.css(x) + 0.5, self.css(y) + 0.5))
        self.touch("touchEnd")

    def key(self, name):
        ActionChains(self.driver).send_keys(KEYS[name]).perform()

    def screenshot(self, file):
        if not self.driver.get_screenshot_as_file(file):
            raise RuntimeError(f"could not write {file}")

    def served(self):
        if QuietHandler.missing:
            raise RuntimeError(f"the page asked for what its folder does not have: {', '.join(QuietHandler.missing)}")

    def fits(self):
        found = self.driver.execute_script("""
            const frame = window.mandelbrotClientArea().closest('.qt-window').getBoundingClientRect();
            const view = visualViewport;
            const found = [frame.left - view.pageLeft, frame.top - view.pageTop, frame.right - view.pageLeft,
                           frame.bottom - view.pageTop, view.width, view.height];
            window.scrollTo(1e4, 1e4);
            found.push(window.scrollX, window.scrollY);
            window.scrollTo(0, 0);
            return found;""")
        left, top, right, bottom, width, height, *overflow = found
        if left < 0 or top < 0 or right > width + 0.5 or bottom > height + 0.5:
            raise RuntimeError(f"the window at {found[:4]} is not all in a view of {width} x {height}")
        if max(overflow) >= 1:
            raise RuntimeError(f"the page scrolls by {overflow}")
        if self.scale < self.driver.execute_script("return devicePixelRatio") and \
                max(right - left - width, bottom - top - height) < -2:
            raise RuntimeError(f"the window of {right - left} x {bottom - top} could be larger in {width} x {height}")
        return f"at {self.scale:.4g} device pixels per pixel"

    def set_metrics(self, width, height, ratio):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": ratio, "mobile": True, "screenOrientation":
            {"type": "portraitPrimary", "angle": 0} if height > width else {"type": "landscapePrimary", "angle": 90}})

    def rotate(self):
        width, height, ratio = DEVICES[self.device]
        self.device = next(name for name, size in DEVICES.items() if size == (height, width, ratio))
        self.set_metrics(height, width, ratio)
        return self.wait_for_window()

    def installable(self):
        errors = self.driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})["installabilityErrors"]
        if errors:
            raise RuntimeError(f"not installable: {errors}")

    def offline(self):
        self.driver.execute_async_script(
            "navigator.serviceWorker.ready.then(() => arguments[arguments.length - 1]())")
        self.driver.execute_cdp_cmd("Network.enable", {})
        self.driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
            "offline": True, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})
        self.driver.refresh()
        return self.wait_for_window()

    def memory(self):
        self.driver.execute_cdp_cmd("HeapProfiler.collectGarbage", {})
        heap = self.driver.execute_script("return performance.memory.usedJSHeapSize")
        return f"{self.driver.execute_script('return window.mandelbrotMemory.buffer.byteLength')} {heap}"

    def throttle(self, rate):
        self.driver.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": float(rate)})
        self.driver.execute_script("window.mandelbrotTimings.presses = []")

    def storm(self, seed, count):
        random.seed(int(seed))
        width, height, ratio = DEVICES[self.device]
        mouse = lambda kind, x, y, **more: self.driver.execute_cdp_cmd(
            "Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, **more})
        for _ in range(int(count)):
            x, y = random.uniform(0, width), random.uniform(0, height)
            event = random.choice(["press", "double", "drag", "wheel", "key", "tap", "swipe", "pinch", "resize"])
            if event in ("press", "double", "drag"):
                button = random.choice(["left", "middle", "right"])
                for click in range(1, 3 if event == "double" else 2):
                    mouse("mousePressed", x, y, button=button, clickCount=click)
                    if event == "drag":
                        mouse("mouseMoved", x + 40, y + 30, button=button)
                    mouse("mouseReleased", x + 40 * (event == "drag"), y, button=button, clickCount=click)
            elif event == "wheel":
                mouse("mouseWheel", x, y, deltaX=0, deltaY=random.choice([-120, 120]))
            elif event == "key":
                key = random.choice(["Tab", "Enter", "Escape", "ArrowLeft", "a", " "])
                for kind in ("keyDown", "keyUp"):
                    self.driver.execute_cdp_cmd("Input.dispatchKeyEvent", {
                        "type": kind, "key": key, "text": key if len(key) == 1 and kind == "keyDown" else ""})
            elif event == "tap":
                self.touch("touchStart", (x, y))
                self.touch("touchEnd")
            elif event in ("swipe", "pinch"):
                fingers = 2 if event == "pinch" else 1
                self.touch("touchStart", *[(x + 60 * i, y) for i in range(fingers)])
                for step in range(1, 6):
                    self.touch("touchMove", *[(x + (60 + 10 * step) * i, y + 15 * step) for i in range(fingers)])
                self.touch("touchEnd")
            else:
                self.set_metrics(*random.choice([(width, height), (height, width), (320, 568), (1024, 768)]), ratio)
        # Back to the screen the storm began on, through one more change, so
        # that a window dragged aside is put back in the middle.
        self.set_metrics(height, width, ratio)
        time.sleep(0.5)
        self.set_metrics(width, height, ratio)
        return f"{count} events"

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
    directory, device = sys.argv[1], sys.argv[2]
    server = serve(directory)
    with tempfile.TemporaryDirectory() as profile:
        driver = start_browser(device, profile)
        try:
            driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": INSTRUMENT})
            driver.get(f"http://127.0.0.1:{server.server_address[1]}/index.html")
            page = Page(driver, device)
            print("ready", page.wait_for_window(), flush=True)
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
