#!/usr/bin/python3
"""Lighthouse's audits of the web page in PAGE_DIR, on its mobile and its
desktop preset, served as browser_driver.py serves it, uncompressed.
Accessibility, best practices and SEO must each score at least 95. Lighthouse
comes from npm, into a cache outside the clone.

    lighthouse.py PAGE_DIR
"""

import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

from browser_driver import serve

VERSION = "12.2.3"  # 13 needs Node.js 22
CATEGORIES = ["performance", "accessibility", "best-practices", "seo"]
CACHE = pathlib.Path(os.environ.get("XDG_CACHE_HOME", pathlib.Path.home() / ".cache")) / "mandelbrot"
FLAGS = "--headless=new --no-sandbox --no-first-run --disable-background-networking --disable-component-update"

folder = CACHE / f"lighthouse-{VERSION}"
if not (folder / "node_modules/.bin/lighthouse").exists():
    if not shutil.which("npm"):
        print("SKIP: npm is not installed")
        sys.exit(77)
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--silent", "-E", f"lighthouse@{VERSION}"],
                   cwd=folder, check=True)
server = serve(sys.argv[1])
failed = []
with tempfile.TemporaryDirectory() as work:
    for preset in ("mobile", "desktop"):
        report = pathlib.Path(work) / "report.json"
        subprocess.run([folder / "node_modules/.bin/lighthouse", f"http://127.0.0.1:{server.server_address[1]}/",
                        f"--only-categories={','.join(CATEGORIES)}", "--output=json", f"--output-path={report}",
                        f"--chrome-flags={FLAGS}", "--quiet"] + ["--preset=desktop"] * (preset == "desktop"),
                       env={**os.environ, "CHROME_PATH": "/usr/bin/chromium"}, check=True)
        result = json.loads(report.read_text())
        print(preset, ", ".join(f"{name} {result['audits'][name]['displayValue']}" for name in
                                ("first-contentful-paint", "largest-contentful-paint", "interactive",
                                 "total-blocking-time", "cumulative-layout-shift")))
        for name in CATEGORIES:
            category = result["categories"][name]
            lost = [audit["id"] for audit in category["auditRefs"] if name != "performance" and audit["weight"]
                    and result["audits"][audit["id"]]["score"] not in (None, 1)]
            print(f"{preset} {name}: {round(100 * category['score'])}", *(["lost points on", *lost] if lost else []))
            if name != "performance" and category["score"] < 0.95:
                failed.append(f"{preset} {name}")
server.shutdown()
if failed:
    sys.exit(f"FAIL: below 95: {', '.join(failed)}")
