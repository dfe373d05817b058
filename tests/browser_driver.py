#!/usr/bin/python3
"""Drives the web page in a browser for end_to_end.sh.

    browser_driver.py PAGE_DIR SCALE|DEVICE [ENGINE]

Serves PAGE_DIR on 127.0.0.1 and opens its index.html in ENGINE, headless:
chromium (the default, through chromedriver), firefox (Firefox ESR, over
WebDriver BiDi) or webkit (WebKitGTK's MiniBrowser, through WebKitWebDriver,
in an X server of its own). It waits for the first picture and answers
"ready X Y S": the top-left of the client area Form1 in device pixels of a
screenshot, and the device pixels per pixel of the form. SCALE is a
desktop's device pixels per CSS pixel; DEVICE one of the touch screens of
Chromium's phone emulation in DEVICES. Then it takes one command a line on
standard input and answers each with "ok ..." or "error ...":

    click X Y BUTTON COUNT   COUNT presses of mouse button BUTTON (1 left,
                             2 middle, 3 right) at device pixel (X, Y)
    burst X Y X Y ...        one left press at each point, with no pause
    tap X Y                  a tap of one finger (Chromium)
    key NAME                 a key press: Tab, shift-Tab or space
    focused                  the id of the element with the focus, and
                             whether a focus ring shows around it
    screenshot FILE          the page as the screen shows it, as PNG
    served                   an error if the page asked the server for a
                             file that its folder does not have
    geometry                 "X Y S" as in ready, now
    fits                     an error unless the whole window shows, as
                             large as fits, and the page does not scroll
  Chromium only:
    timings                  for the presses so far, the milliseconds from
                             each until the frame that shows it drawn; and
                             from opening the page until its first picture
    accessible               an error unless the accessibility tree holds
                             the button, the picture and the live prompt
    workers N                the page opened again with N workers (0: none
                             can start); answers geometry
    break-worker             the next band a worker is given fails in it
    logged TEXT              an error unless the console shows TEXT
    rotate                   the phone turned on its side; answers geometry
    installable              an error if Chromium would not install the page
    offline                  the page reloaded from its service worker's
                             cache without a network; answers geometry
    memory                   the core's memory on the page and the page's
                             JavaScript heap after garbage collection, bytes
    throttle RATE            the processor slowed RATE times; the timings
                             start afresh
    storm SEED COUNT         COUNT random events: presses with every button,
                             double clicks, drags, the wheel, keys, taps,
                             swipes, pinches, window resizes and rotations

Console messages of the page go to standard error when it ends.
"""

import atexit
import functools
import http.server
import json
import os
import random
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

# Installed in Chromium before the page's own scripts. The page prints the
# prompt again in the frame that shows a finished drawing.
INSTRUMENT = """
window.mandelbrotTimings = {presses: [], firstPicture: null};
new MutationObserver(records => {
  if (!records.some(record => record.target.id === 'prompt' && record.target.textContent)) return;
  const timings = window.mandelbrotTimings, now = performance.now();
  timings.firstPicture ??= now;
  const press = timings.presses.find(press => press.shown === null);
  if (press) press.shown = now - press.at;
}).observe(document, {childList: true, subtree: true});
addEventListener('pointerdown', event => {
  if (event.target.id === 'Picture1') window.mandelbrotTimings.presses.push({at: event.timeStamp, shown: null});
}, true);
"""
# Where the form is in device pixels of a screenshot, and its scale; the
# prompt, printed once a drawing is done; and what the page says instead.
GEOMETRY = """
const form = document.getElementById('Form1'), box = form.getBoundingClientRect();
const view = window.visualViewport ?? {offsetLeft: 0, offsetTop: 0, scale: 1};
const ratio = devicePixelRatio * view.scale;
return [(box.left - view.offsetLeft) * ratio, (box.top - view.offsetTop) * ratio, ratio * box.width / form.offsetWidth,
        ratio, document.getElementById('prompt').textContent, document.getElementById('status').textContent];
"""

COMMANDS = {"click", "burst", "tap", "key", "focused", "screenshot", "served", "geometry", "fits", "timings",
            "accessible", "workers", "break-worker", "logged", "rotate", "installable", "offline", "memory", "throttle",
            "storm"}
# Touch screens in CSS pixels, with their device pixels per CSS pixel.
DEVICES = {"phone": (390, 844, 3.0), "phone-landscape": (844, 390, 3.0), "tablet": (600, 960, 2.0)}
DESKTOP = (1024, 900)
# WebDriver's key codes, and X11's button numbers, as end_to_end.sh uses
# them, in WebDriver's.
KEYS = {"Tab": ["\ue004"], "shift-Tab": ["\ue008", "\ue004"], "space": ["\ue00d"]}
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


def x_server():
    """An X server of the browser's own; its display becomes this process's."""
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "2560x2048x24", "-nolisten", "tcp"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    os.environ["DISPLAY"] = f":{server.stdout.readline().strip()}"
    atexit.register(server.terminate)


def focus_windows():
    """With no window manager, no window has the keyboard's focus until it is
    given, and a page without it shows no focus ring."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], capture_output=True, text=True)
    for window in found.stdout.split():
        subprocess.run(["xdotool", "windowfocus", window], stderr=subprocess.DEVNULL)


def pointer(kind, steps):
    return {"type": "pointer", "id": kind, "parameters": {"pointerType": kind}, "actions": steps}


class Selenium:
    """Chromium through chromedriver, or WebKit through WebKitWebDriver."""

    def __init__(self, engine, device, profile):
        from selenium import webdriver
        self.cdp = None
        if engine == "chromium":
            from selenium.webdriver.chrome.options import Options
            from selenium.webdriver.chrome.service import Service
            options = Options()
            options.binary_location = "/usr/bin/chromium"
            # Headless, with no connections beyond the page's own server:
            # this machine's network is closed, and Chromium's background
            # fetches would only wait for it.
            flags = ["--headless=new", "--no-sandbox", f"--window-size={DESKTOP[0]},{DESKTOP[1]}", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-quic", f"--user-data-dir={profile}"]
            if device in DEVICES:
                width, height, ratio = DEVICES[device]
                options.add_experimental_option("mobileEmulation", {"deviceMetrics": {
                    "width": width, "height": height, "pixelRatio": ratio, "touch": True, "mobile": True}})
            else:
                flags.append(f"--force-device-scale-factor={device}")
            for flag in flags:
                options.add_argument(flag)
            options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
            self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
            self.cdp = self.driver.execute_cdp_cmd
            self.logged = []
            self.cdp("Page.addScriptToEvaluateOnNewDocument", {"source": INSTRUMENT})
        else:
            from selenium.webdriver.webkitgtk.options import Options
            x_server()
            # What WebKitWebDriver and the browser it starts run with.
            os.environ.update(GDK_SCALE=str(device), HOME=profile)
            options = Options()
            options.binary_location = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
            options.add_argument("--automation")
            self.driver = webdriver.WebKitGTK(executable_path="/usr/bin/WebKitWebDriver", options=options)
            self.driver.set_window_size(*DESKTOP)
            focus_windows()

    def open(self, url):
        self.driver.get(url)

    def script(self, body):
        return json.loads(self.driver.execute_script(f"return JSON.stringify((() => {{ {body} }})() ?? null)"))

    def perform(self, *sources):
        from selenium.webdriver.remote.command import Command
        self.driver.execute(Command.W3C_ACTIONS, {"actions": list(sources)})

    def screenshot(self, file):
        if not self.driver.get_screenshot_as_file(file):
            raise RuntimeError(f"could not write {file}")

    def console(self):
        if self.cdp:  # WebKitWebDriver keeps no log
            self.logged += [f"{entry['level']} {entry['message']}" for entry in self.driver.get_log("browser")]
        return getattr(self, "logged", [])

    def quit(self):
        self.driver.quit()


class Firefox:
    """Firefox ESR over WebDriver BiDi, which it speaks itself."""

    def __init__(self, engine, device, profile):
        import websocket
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        self.process = subprocess.Popen(["firefox-esr", "--headless", "--no-remote", "--profile", profile,
                                         f"--remote-debugging-port={port}"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        for line in self.process.stderr:
            if "WebDriver BiDi listening" in line:
                break
        threading.Thread(target=self.process.stderr.read, daemon=True).start()
        # A request with an Origin header is refused.
        self.socket = websocket.create_connection(f"ws://127.0.0.1:{port}/session", suppress_origin=True)
        self.next_id, self.logged = 0, []
        self.send("session.new", {"capabilities": {}})
        self.send("session.subscribe", {"events": ["log.entryAdded"]})
        self.context = self.send("browsingContext.getTree", {})["contexts"][0]["context"]
        self.send("browsingContext.setViewport", {"context": self.context, "devicePixelRatio": float(device),
                                                  "viewport": {"width": DESKTOP[0], "height": DESKTOP[1]}})

    def send(self, method, params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("method") == "log.entryAdded":
                self.logged.append(f"{message['params']['level']} {message['params']['text']}")
            elif message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}: {message.get('message')}")
                return message["result"]

    def open(self, url):
        self.send("browsingContext.navigate", {"context": self.context, "url": url, "wait": "complete"})

    def script(self, body):
        result = self.send("script.evaluate", {"expression": f"JSON.stringify((() => {{ {body} }})() ?? null)",
                                               "target": {"context": self.context}, "awaitPromise": True})
        if result["type"] == "exception":
            raise RuntimeError(result["exceptionDetails"]["text"])
        return json.loads(result["result"]["value"])

    def perform(self, *sources):
        self.send("input.performActions", {"context": self.context, "actions": list(sources)})

    def screenshot(self, file):
        import base64
        data = self.send("browsingContext.captureScreenshot", {"context": self.context})["data"]
        with open(file, "wb") as png:
            png.write(base64.b64decode(data))

    def console(self):
        return self.logged

    def quit(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait()


class Page:
    def __init__(self, browser, engine, device, url):
        self.browser, self.engine, self.device, self.url = browser, engine, device, url
        self.scale = self.ratio = 1.0

    def chromium(self):
        if not self.browser.cdp:
            raise RuntimeError(f"not in {self.engine}")
        return self.browser.cdp

    def geometry(self, timeout=60):
        """Once the first picture is drawn and the form stays where it is:
        the top-left of the form in device pixels and its scale."""
        deadline, last = time.monotonic() + timeout, None
        while time.monotonic() < deadline:
            left, top, self.scale, self.ratio, prompt, status = self.browser.script(GEOMETRY)
            if status:
                raise RuntimeError(f"the page says: {status!r}")
            where = f"{left:.2f} {top:.2f} {self.scale:.6g}"
            if prompt and where == last:
                return where
            last = where
            time.sleep(0.2)
        raise RuntimeError(f"no picture after {timeout} s")

    def css(self, device):
        # The middle of a device pixel, in CSS pixels.
        return (float(device) + 0.5) / self.ratio

    def click(self, x, y, button, count):
        if self.device in DEVICES:  # a touch screen's press is a tap
            for press in range(int(count)):
                time.sleep(0.12 * (press > 0))
                self.tap(x, y)
            return
        steps = [{"type": "pointerMove", "x": int(self.css(x)), "y": int(self.css(y))}]
        for press in range(int(count)):
            steps += [{"type": "pause", "duration": 120}] * (press > 0)
            steps += [{"type": "pointerDown", "button": BUTTONS[int(button)]},
                      {"type": "pointerUp", "button": BUTTONS[int(button)]}]
        self.browser.perform(pointer("mouse", steps))

    def burst(self, *points):
        if self.device in DEVICES:
            for x, y in zip(points[::2], points[1::2]):
                self.tap(x, y)
            return
        steps = []
        for x, y in zip(points[::2], points[1::2]):
            steps += [{"type": "pointerMove", "x": int(self.css(x)), "y": int(self.css(y))},
                      {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]
        self.browser.perform(pointer("mouse", steps))

    def touch(self, kind, *points):
        self.chromium()("Input.dispatchTouchEvent", {
            "type": kind, "touchPoints": [{"x": x, "y": y, "id": i} for i, (x, y) in enumerate(points)]})

    def tap(self, x, y):
        self.touch("touchStart", (self.css(x), self.css(y)))
        self.touch("touchEnd")

    def key(self, name):
        codes = KEYS[name]
        self.browser.perform({"type": "key", "id": "keyboard", "actions": [
            *({"type": "keyDown", "value": code} for code in codes),
            *({"type": "keyUp", "value": code} for code in reversed(codes))]})

    def focused(self):
        found = self.browser.script("const element = document.activeElement, style = getComputedStyle(element);"
                                    "return [element.id, style.outlineStyle !== 'none' && "
                                    "parseFloat(style.outlineWidth) > 0];")
        return f"{found[0] or 'none'} {'ring' if found[1] else 'no-ring'}"

    def screenshot(self, file):
        self.browser.screenshot(file)

    def served(self):
        if QuietHandler.missing:
            raise RuntimeError(f"the page asked for what its folder does not have: {', '.join(QuietHandler.missing)}")

    def fits(self):
        left, top, right, bottom, width, height, *overflow = self.browser.script("""
            const frame = document.querySelector('main').getBoundingClientRect(), root = document.documentElement;
            const found = [frame.left, frame.top, frame.right, frame.bottom, root.clientWidth, root.clientHeight];
            window.scrollTo(1e4, 1e4);
            found.push(window.scrollX, window.scrollY);
            window.scrollTo(0, 0);
            return found;""")
        if left < 0 or top < 0 or right > width + 0.5 or bottom > height + 0.5:
            raise RuntimeError(f"the window at {left, top, right, bottom} is not all in a view of {width} x {height}")
        if max(overflow) >= 1:
            raise RuntimeError(f"the page scrolls by {overflow}")
        if self.scale < self.ratio and max(right - left - width, bottom - top - height) < -2:
            raise RuntimeError(f"the window of {right - left} x {bottom - top} could be larger in {width} x {height}")
        return f"at {self.scale:.4g} device pixels per pixel"

    def timings(self):
        timings = self.browser.script("return window.mandelbrotTimings")
        shown = [press["shown"] for press in timings["presses"] if press["shown"] is not None]
        if timings["firstPicture"] is None or not shown:
            raise RuntimeError(f"timings missing: {timings}")
        return (f"first picture {timings['firstPicture']:.0f} ms after the page was opened; {len(shown)} presses "
                f"on the drawing area, each shown drawn in the frame {statistics.median(shown):.1f} ms after it "
                f"(median)")

    def accessible(self):
        cdp = self.chromium()
        cdp("Accessibility.enable", {})
        found = {}
        for node in cdp("Accessibility.getFullAXTree", {})["nodes"]:
            value = lambda key: node.get(key, {}).get("value", "")
            live = any(p["name"] == "live" and p["value"]["value"] == "polite" for p in node.get("properties", []))
            found.setdefault((value("role"), value("name"), value("description"), live), True)
        wanted = [("button", "new", "Start over from the whole set in new colours.", False),
                  ("image", "Mandelbrot set", "Picture of the Mandelbrot set. Press a mouse button on it to zoom in "
                                              "ten times about that point.", False),
                  ("status", "", "", True)]
        missing = [node for node in wanted if node not in found]
        if missing:
            raise RuntimeError(f"not in the accessibility tree: {missing}; it holds {sorted(found)}")
        prompt = self.browser.script("return document.getElementById('prompt').textContent")
        if prompt != "Select interesting area and CLICK *":
            raise RuntimeError(f"the live region says {prompt!r}")

    def workers(self, count):
        # The page opened again, seeing that many cores, or no workers.
        override = ("delete window.Worker;" if int(count) == 0 else
                    f"Object.defineProperty(Navigator.prototype, 'hardwareConcurrency', {{get: () => {int(count)}}});")
        if hasattr(self, "override"):
            self.chromium()("Page.removeScriptToEvaluateOnNewDocument", {"identifier": self.override})
        self.override = self.chromium()("Page.addScriptToEvaluateOnNewDocument", {"source": override})["identifier"]
        self.browser.open(self.url)
        return self.geometry()

    def break_worker(self):
        # A view that the worker cannot read: it fails on the band, as a
        # worker that runs out of memory would.
        self.browser.script("""
            const post = Worker.prototype.postMessage;
            Worker.prototype.postMessage = function (message, ...rest) {
              Worker.prototype.postMessage = post;
              return post.call(this, {...message, view: -1}, ...rest);
            };""")

    def logged(self, *words):
        if not any(" ".join(words) in entry for entry in self.browser.console()):
            raise RuntimeError(f"the console does not show {' '.join(words)!r}")

    def set_metrics(self, width, height, ratio):
        self.chromium()("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": ratio, "mobile": True, "screenOrientation":
            {"type": "portraitPrimary", "angle": 0} if height > width else {"type": "landscapePrimary", "angle": 90}})

    def rotate(self):
        width, height, ratio = DEVICES[self.device]
        self.device = next(name for name, size in DEVICES.items() if size == (height, width, ratio))
        self.set_metrics(height, width, ratio)
        time.sleep(0.3)
        return self.geometry()

    def installable(self):
        errors = self.chromium()("Page.getInstallabilityErrors", {})["installabilityErrors"]
        if errors:
            raise RuntimeError(f"not installable: {errors}")

    def offline(self):
        self.browser.driver.execute_async_script(
            "navigator.serviceWorker.ready.then(() => arguments[arguments.length - 1]())")
        self.chromium()("Network.enable", {})
        self.chromium()("Network.emulateNetworkConditions", {
            "offline": True, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})
        self.browser.driver.refresh()
        return self.geometry()

    def memory(self):
        self.chromium()("HeapProfiler.collectGarbage", {})
        return " ".join(map(str, self.browser.script(
            "return [core.HEAPU8.byteLength, performance.memory.usedJSHeapSize]")))

    def throttle(self, rate):
        self.chromium()("Emulation.setCPUThrottlingRate", {"rate": float(rate)})
        self.browser.script("window.mandelbrotTimings.presses = []")

    def storm(self, seed, count):
        random.seed(int(seed))
        width, height, ratio = DEVICES[self.device]
        mouse = lambda kind, x, y, **more: self.chromium()(
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
                    self.chromium()("Input.dispatchKeyEvent", {
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
        self.set_metrics(width, height, ratio)
        return f"{count} events"


def main():
    directory, device = sys.argv[1], sys.argv[2]
    engine = sys.argv[3] if len(sys.argv) > 3 else "chromium"
    server = serve(directory)
    with tempfile.TemporaryDirectory() as profile:
        browser = (Firefox if engine == "firefox" else Selenium)(engine, device, profile)
        try:
            url = f"http://127.0.0.1:{server.server_address[1]}/index.html"
            browser.open(url)
            page = Page(browser, engine, device, url)
            print("ready", page.geometry(), flush=True)
            for line in sys.stdin:
                command, *arguments = line.split()
                try:
                    if command not in COMMANDS:
                        raise ValueError(f"no such command: {command}")
                    answer = getattr(page, command.replace("-", "_"))(*arguments)
                    print("ok", answer or "", flush=True)
                except Exception as error:  # told to end_to_end.sh, which fails the test
                    print("error", command, str(error).splitlines()[0] if str(error) else repr(error), flush=True)
        finally:
            for entry in browser.console():
                print(f"console: {entry}", file=sys.stderr)
            browser.quit()
            server.shutdown()


if __name__ == "__main__":
    main()
