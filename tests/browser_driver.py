#!/usr/bin/python3
"""Drives the web page in a browser for end_to_end.sh.

    browser_driver.py PAGE_DIR SCALE|DEVICE [ENGINE]

Serves PAGE_DIR on 127.0.0.1 and opens its index.html in ENGINE, headless:
chromium (the default, through chromedriver), firefox (Firefox ESR, over
WebDriver BiDi) or webkit (WebKitGTK's MiniBrowser, through WebKitWebDriver,
in an X server of its own). It waits for the first picture and answers
"ready X Y S NX NY PL PT PR PB": the top-left of the client area Form1 in
device pixels of a screenshot, as if the whole form were laid out at the
picture's scale, and the device pixels per pixel of the picture; where to
press "new"; and the strip the prompt is printed on. SCALE is a desktop's
device pixels per CSS pixel; DEVICE one of the touch screens of Chromium's
phone emulation in DEVICES. Then it takes one command a line on standard
input and answers each with "ok ..." or "error ...":

    click X Y BUTTON COUNT   COUNT presses of mouse button BUTTON (1 left,
                             2 middle, 3 right) at device pixel (X, Y)
    burst X Y X Y ...        one left press at each point, with no pause
    tap X Y                  a tap of one finger (Chromium)
    key NAME                 a key press, one of KEYS
    focused                  the id of the element with the focus, and
                             whether a focus ring shows around it
    screenshot FILE          the page as the screen shows it, as PNG
    served                   what a first visit downloads; an error if it is
                             more than FIRST_VISIT, or if the page asked the
                             server for a file that its folder does not have
    geometry                 what ready answers, now
    fits                     an error unless the whole window shows inside
                             the safe area, the picture as large as fits,
                             and the page does not scroll
    storm SEED COUNT         COUNT random events: presses with every button,
                             double clicks, drags, the wheel, keys, taps,
                             swipes, pinches, window resizes and turns
    memory                   the core's memory on the page and the page's;
                             an error if either grew since the first time
    handler-fails X Y        a press at (X, Y) whose handler fails: an error
                             unless the page says so, naming the program
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
    screens                  an error where the page shows FAULTS on phones
                             and tablets, upright and on their side, in
                             every colour scheme; answers geometry
    scheme NAME              the colour scheme: light, dark or forced
    installable              an error if Chromium would not install the page
    offline                  the page reloaded from its service worker's
                             cache without a network; answers geometry
    throttle RATE            the processor slowed RATE times; the timings
                             start afresh

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
# Where the picture is in device pixels of a screenshot, as the top-left of
# the client area Form1 would be if the whole form were laid out at the
# picture's scale, and that scale; where "new" is pressed and the strip the
# prompt is printed on; the prompt, printed once a drawing is done; and what
# the page says instead.
GEOMETRY = """
const view = window.visualViewport ?? {offsetLeft: 0, offsetTop: 0, scale: 1};
const ratio = devicePixelRatio * view.scale;
const box = id => {
  const {left, top, right, bottom} = document.getElementById(id).getBoundingClientRect();
  return [left - view.offsetLeft, top - view.offsetTop, right - view.offsetLeft, bottom - view.offsetTop]
    .map(edge => edge * ratio);
};
const picture = box('Picture1'), command = box('Command1'), prompt = box('prompt');
const scale = (picture[2] - picture[0]) / 500;
return [picture[0] - 56 * scale, picture[1] - 64 * scale, scale, (command[0] + command[2]) / 2,
        (command[1] + command[3]) / 2, ...prompt, ratio, document.getElementById('prompt').textContent,
        document.getElementById('status').textContent];
"""
# What a finger or an eye finds wrong with the page on this screen, in the
# scheme SCHEME (light, dark or forced, a contrast theme): a point of the
# picture that does not take presses; one within 44 x 44 CSS pixels around
# the middle of "new" that does not take its taps; text under 12 CSS pixels
# where the window does not fit at one CSS pixel per pixel, or of less
# contrast than 4.5 : 1 with what is behind it; the page, the window or "new"
# not dark in the dark scheme or not light in the light one, or the
# browser's bar not the title bar's colour; "new" and the prompt not in the
# system's colours in a contrast theme.
FAULTS = """
const faults = [], scheme = 'SCHEME', fits = innerWidth >= 652 && innerHeight >= 640;
const shown = (selector, property) => getComputedStyle(document.querySelector(selector))[property];
const probe = document.body.appendChild(document.createElement('p'));
const resolved = colour => (probe.style.color = colour, getComputedStyle(probe).color);
const luminance = colour => colour.match(/[0-9.]+/g).slice(0, 3).map(c => c / 255)
  .map(c => c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4)
  .reduce((sum, c, i) => sum + c * [0.2126, 0.7152, 0.0722][i], 0);
const hit = (x, y) => document.elementFromPoint(x, y)?.closest('#Picture1, #Command1')?.id;
const picture = document.getElementById('Picture1').getBoundingClientRect();
const command = document.getElementById('Command1').getBoundingClientRect();
for (let i = 0; i <= 20; i++) {
  for (let j = 0; j <= 20; j++) {
    const [x, y] = [picture.left + 0.5 + i * (picture.width - 1) / 20,
                    picture.top + 0.5 + j * (picture.height - 1) / 20];
    if (hit(x, y) !== 'Picture1') faults.push('a press misses the picture');
    const [across, down] = [(command.left + command.right) / 2 + (i - 10) * 2.15,
                            (command.top + command.bottom) / 2 + (j - 10) * 2.15];
    if (hit(across, down) !== 'Command1') faults.push('a tap misses new');
  }
}
for (const selector of ['.caption', '#prompt', '#Command1']) {
  if (!fits && parseFloat(shown(selector, 'fontSize')) < 12) faults.push(`the text of ${selector} is too small`);
  let behind = document.querySelector(selector);
  while (getComputedStyle(behind).backgroundColor === 'rgba(0, 0, 0, 0)') behind = behind.parentElement;
  const [light, dark] = [luminance(shown(selector, 'color')), luminance(getComputedStyle(behind).backgroundColor)]
    .sort((a, b) => b - a);
  if ((light + 0.05) / (dark + 0.05) < 4.5) faults.push(`the text of ${selector} lacks contrast`);
}
if (scheme === 'forced') {
  if (shown('#Command1', 'color') !== resolved('ButtonText') || shown('#prompt', 'color') !== resolved('CanvasText')) {
    faults.push("the text is not in the system's colours");
  }
} else {
  for (const selector of ['body', '.window', '#Command1']) {
    const dark = luminance(shown(selector, 'backgroundColor')) < 0.18;
    if (dark !== (scheme === 'dark')) faults.push(`${selector} is not ${scheme}`);
  }
  const bar = [...document.querySelectorAll('meta[name=theme-color]')]
    .find(({media}) => matchMedia(media).matches);
  if (resolved(bar.content) !== shown('.caption', 'backgroundColor')) faults.push(`the bar is ${bar.content}`);
}
probe.remove();
return [...new Set(faults)];
"""
COMMANDS = {"click", "burst", "tap", "key", "focused", "screenshot", "served", "geometry", "fits", "storm", "memory",
            "timings", "accessible", "workers", "break-worker", "logged", "handler-fails", "rotate", "installable",
            "offline", "throttle", "screens", "scheme"}
# Touch screens in CSS pixels, with their device pixels per CSS pixel and
# the insets (left, top, right, bottom) of the safe area of a phone with a
# notch.
DEVICES = {"phone": (390, 844, 3.0, (0, 47, 0, 34)), "phone-landscape": (844, 390, 3.0, (47, 0, 47, 21)),
           "tablet": (600, 960, 2.0, (0, 0, 0, 0))}
DESKTOP = (1024, 900)
# What a first visit may download of the page, its scripts and the core.
FIRST_VISIT = 80_000
# WebDriver's key codes, and X11's button numbers, as end_to_end.sh uses
# them, in WebDriver's.
KEYS = {"Tab": ["\ue004"], "shift-Tab": ["\ue008", "\ue004"], "space": ["\ue00d"], "Enter": ["\ue007"],
        "Escape": ["\ue00c"], "ArrowLeft": ["\ue012"], "a": ["a"]}
BUTTONS = {1: 0, 2: 1, 3: 2}


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the page's folder, noting what it was asked for and did not
    have, and the size of every file it sent."""

    missing = []
    sizes = {}

    def send_header(self, keyword, value):
        if keyword == "Content-Length":
            QuietHandler.sizes[self.path] = int(value)
        super().send_header(keyword, value)

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


def pointer(kind, steps, name=None):
    return {"type": "pointer", "id": name or kind, "parameters": {"pointerType": kind}, "actions": steps}


def scroll(x, y, delta):
    return {"type": "wheel", "id": "wheel",
            "actions": [{"type": "scroll", "x": x, "y": y, "deltaX": 0, "deltaY": delta}]}


def resident(root):
    """The bytes that process ROOT and all its descendants hold in memory."""
    listed = subprocess.run(["ps", "-e", "-o", "pid=,ppid=,rss="], capture_output=True, text=True, check=True)
    processes = [line.split() for line in listed.stdout.splitlines()]
    tree, found = set(), {str(root)}
    while found - tree:
        tree |= found
        found = {pid for pid, parent, _ in processes if parent in tree}
    return 1024 * sum(int(rss) for pid, _, rss in processes if pid in tree)


class Selenium:
    """Chromium through chromedriver, or WebKit through WebKitWebDriver."""

    def __init__(self, engine, device, profile):
        from selenium import webdriver
        self.cdp = None
        self.mobile, self.ratio = device in DEVICES, float(DEVICES[device][2] if device in DEVICES else device)
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
                width, height, ratio, _ = DEVICES[device]
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

    def wheel(self, x, y, delta):
        # chromedriver refuses wheel actions in its phone emulation.
        if self.cdp:
            self.cdp("Input.dispatchMouseEvent", {"type": "mouseWheel", "x": x, "y": y, "deltaX": 0, "deltaY": delta})
        else:
            self.perform(scroll(x, y, delta))

    def resize(self, width, height):
        if self.cdp:
            self.cdp("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": self.ratio, "mobile": self.mobile,
                "screenOrientation": {"type": "portraitPrimary", "angle": 0} if height > width else
                {"type": "landscapePrimary", "angle": 90}})
        else:
            self.driver.set_window_size(width, height)

    def memory(self):
        """The page's JavaScript heap after garbage collection in Chromium,
        which tells it; in WebKit, which does not, what the browser holds in
        memory, which its collector moves by some 20 MB. With the growth
        that still counts as flat."""
        if self.cdp:
            self.cdp("HeapProfiler.collectGarbage", {})
            return self.script("return performance.memory.usedJSHeapSize"), 1_000_000
        return resident(self.driver.service.process.pid), 64_000_000

    def quit(self):
        self.driver.quit()


class Firefox:
    """Firefox ESR over WebDriver BiDi, which it speaks itself."""

    def __init__(self, engine, device, profile):
        import websocket
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        # System access lets the driver ask Firefox's own scripts to collect
        # garbage before it measures memory.
        self.process = subprocess.Popen(["firefox-esr", "--headless", "--no-remote", "--profile", profile,
                                         f"--remote-debugging-port={port}", "--remote-allow-system-access"],
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
        self.ratio = float(device)
        self.resize(*DESKTOP)

    def resize(self, width, height):
        self.send("browsingContext.setViewport", {"context": self.context, "devicePixelRatio": self.ratio,
                                                  "viewport": {"width": width, "height": height}})

    def wheel(self, x, y, delta):
        self.perform(scroll(x, y, delta))

    def memory(self):
        """What Firefox's processes hold in memory once it has minimised its
        memory use, as its own about:memory does."""
        chrome = self.send("browsingContext.getTree", {"moz:scope": "chrome"})["contexts"][0]["context"]
        measured = self.send("script.evaluate", {"target": {"context": chrome}, "awaitPromise": True, "expression": """
            new Promise(done => Cc['@mozilla.org/memory-reporter-manager;1'].getService(Ci.nsIMemoryReporterManager)
              .minimizeMemoryUsage(done)).then(() => ChromeUtils.requestProcInfo())
              .then(parent => [parent, ...parent.children].reduce((sum, process) => sum + process.memory, 0))"""})
        return measured["result"]["value"], 16_000_000

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
        self.insets = (0, 0, 0, 0)
        self.heap = None
        if device in DEVICES:
            self.set_insets(DEVICES[device][3])

    def chromium(self):
        if not self.browser.cdp:
            raise RuntimeError(f"not in {self.engine}")
        return self.browser.cdp

    def geometry(self, timeout=60):
        """Once the first picture is drawn and the form stays where it is:
        the top-left of the form in device pixels, its scale, and the places
        of "new" and of the prompt's strip."""
        deadline, last = time.monotonic() + timeout, None
        while time.monotonic() < deadline:
            left, top, self.scale, *places, self.ratio, prompt, status = self.browser.script(GEOMETRY)
            if status:
                raise RuntimeError(f"the page says: {status!r}")
            where = f"{left:.2f} {top:.2f} {self.scale:.6g} " + " ".join(str(round(place)) for place in places)
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
        # The page, its scripts and the core; not the icons, nor the service
        # worker, which is fetched after the first picture.
        sizes = {path: size for path, size in QuietHandler.sizes.items()
                 if path.endswith((".html", ".js", ".wasm")) and "service-worker" not in path}
        total = sum(sizes.values())
        if total > FIRST_VISIT:
            raise RuntimeError(f"a first visit downloads {total} bytes, more than {FIRST_VISIT}: {sizes}")
        return f"a first visit downloads {total} bytes of the page, its scripts and the core"

    def fits(self):
        left, top, right, bottom, width, height, side, *overflow = self.browser.script("""
            const frame = document.querySelector('main').getBoundingClientRect(), root = document.documentElement;
            const found = [frame.left, frame.top, frame.right, frame.bottom, root.clientWidth, root.clientHeight,
                           document.getElementById('Picture1').getBoundingClientRect().width];
            window.scrollTo(1e4, 1e4);
            found.push(window.scrollX, window.scrollY);
            window.scrollTo(0, 0);
            return found;""")
        room = (self.insets[0], self.insets[1], width - self.insets[2], height - self.insets[3])
        if left < room[0] or top < room[1] or right > room[2] + 0.5 or bottom > room[3] + 0.5:
            raise RuntimeError(f"the window at {left, top, right, bottom} is not all in the safe area {room}")
        if max(overflow) >= 1:
            raise RuntimeError(f"the page scrolls by {overflow}")
        if round(side) != 500 and side < 0.85 * min(room[2] - room[0], room[3] - room[1]):
            raise RuntimeError(f"the picture of {side} could be larger in {room}")
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

    def set_insets(self, insets):
        self.insets = insets
        self.chromium()("Emulation.setSafeAreaInsetsOverride",
                        {"insets": dict(zip(("left", "top", "right", "bottom"), insets))})

    def rotate(self):
        width, height, ratio, _ = DEVICES[self.device]
        self.device = next(name for name, size in DEVICES.items() if size[:3] == (height, width, ratio))
        self.browser.resize(height, width)
        self.set_insets(DEVICES[self.device][3])
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
        """The core's memory on the page and the page's; once more, an error
        if either grew since the first time."""
        core = self.browser.script("return core.HEAPU8.byteLength")
        page, flat = self.browser.memory()
        if self.heap is None:
            self.heap = core, page
        elif core != self.heap[0] or page > self.heap[1] + flat:
            raise RuntimeError(f"memory grew from {self.heap} to {core, page}")
        return f"{core} {page}"

    def throttle(self, rate):
        self.chromium()("Emulation.setCPUThrottlingRate", {"rate": float(rate)})
        self.browser.script("window.mandelbrotTimings.presses = []")

    def storm(self, seed, count):
        """COUNT random events, as WebDriver's actions, which every engine
        takes. WebKit's driver would hold a right or middle button down for
        good, and takes touches as the mouse's."""
        random.seed(int(seed))
        size = width, height = self.browser.script("return [innerWidth, innerHeight]")
        buttons = [0] if self.engine == "webkit" else [0, 1, 2]
        move = lambda x, y: {"type": "pointerMove", "x": x, "y": y}
        for _ in range(int(count)):
            # Room for a drag, a swipe and a pinch to stay in the view.
            x, y = random.randrange(0, width - 130), random.randrange(0, height - 80)
            event = random.choice(["press", "double", "drag", "wheel", "key", "tap", "swipe", "pinch", "resize"])
            if event in ("press", "double", "drag"):
                button, steps = random.choice(buttons), [move(x, y)]
                for _ in range(2 if event == "double" else 1):
                    steps += [{"type": "pointerDown", "button": button}, *[move(x + 40, y + 30)] * (event == "drag"),
                              {"type": "pointerUp", "button": button}]
                self.browser.perform(pointer("mouse", steps))
            elif event == "wheel":
                self.browser.wheel(x, y, random.choice([-120, 120]))
            elif event == "key":
                self.key(random.choice(list(KEYS)))
            elif event in ("tap", "swipe", "pinch"):
                self.browser.perform(*[pointer("touch", [
                    move(x + 60 * finger, y), {"type": "pointerDown", "button": 0},
                    *[move(x + (60 + 10 * step) * finger, y + 15 * step) for step in range(1, 6) if event != "tap"],
                    {"type": "pointerUp", "button": 0}], f"finger{finger}")
                    for finger in range(2 if event == "pinch" else 1)])
            else:
                self.browser.resize(*random.choice([size[::-1], (320, 568), (568, 320), DESKTOP]))
                time.sleep(0.1)
                width, height = self.browser.script("return [innerWidth, innerHeight]")
        self.browser.resize(*size)
        return f"{count} events"

    def screens(self):
        """An error where a finger or an eye finds fault with the page on
        phones and tablets, upright and on their side, in every scheme."""
        size, faults = self.browser.script("return [innerWidth, innerHeight]"), []
        for scheme in ("light", "dark", "forced"):
            self.scheme(scheme)
            for screen in ((320, 568), (568, 320), (390, 844), (844, 390), (600, 960), (1024, 1366), (1366, 1024)):
                self.browser.resize(*screen)
                self.geometry()
                found = self.browser.script(FAULTS.replace("SCHEME", scheme))
                faults += [f"{scheme} {screen}: {fault}" for fault in found]
        self.scheme("light")
        self.browser.resize(*size)
        if faults:
            raise RuntimeError("; ".join(faults))
        return self.geometry()

    def scheme(self, name):
        """The visitor's colour scheme: light, dark or forced (a contrast theme)."""
        feature = {"light": ("prefers-color-scheme", "light"), "dark": ("prefers-color-scheme", "dark"),
                   "forced": ("forced-colors", "active")}[name]
        self.chromium()("Emulation.setEmulatedMedia", {"features": [dict(zip(("name", "value"), feature))]})

    def handler_fails(self, x, y):
        """A handler that fails ends the program, with a message that names it."""
        self.browser.script("core._Picture1_MouseDown = () => { throw new Error('a handler that fails'); };")
        self.click(x, y, 1, 1)
        time.sleep(1.0)
        said, name = self.browser.script("return [document.getElementById('status').textContent, document.title]")
        if not said.startswith(f"{name} has stopped unexpectedly."):
            raise RuntimeError(f"the page says {said!r}")


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
