#!/usr/bin/python3
"""Drives quorvex.html, opened from disk in headless chromium, and judges it by the programs.

Usage: page_test.py <quorvex.html> <quorvex> <quorvex-pack> <scratch folder> [<screenshot.png>]

Every byte the page offers to save is compared with what the native program writes for the
same files; every refusal with the program's own line; the layout it guesses with what
quorvex-layout (beside quorvex) finds. Also checks that no request left the
page. Exits 0 when all agree, 1 otherwise.
"""

import base64
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

RECORD = 5120
SIDE = 64
TIMEOUT = 120  # seconds for any one piece of work; the largest here takes well under one

failures = []


def check(what, expected, actual):
    if expected == actual:
        print(f"ok: {what}")
    else:
        failures.append(what)
        shown = lambda v: v if isinstance(v, str) else f"{len(v)} bytes" if isinstance(v, bytes) else repr(v)
        print(f"FAILED: {what}\n  expected: {shown(expected)}\n  actual:   {shown(actual)}")


def smooth_tiles(path, width, height, extra=0):
    """Tile data of a smooth picture cut into blocks: each block's colours from its own palette."""
    data = bytearray()
    for block in range(width * height + extra):
        row, column = divmod(block, width)
        palette = bytearray()
        for i in range(256):  # a ramp of 256 colours per block, shifted by the block's place
            palette += bytes(((i + 40 * column) % 256, (i // 2 + 60 * row) % 256, (255 - i + 13 * block) % 256, 0))
        indices = bytes((x * 2 + y) % 256 for y in range(SIDE) for x in range(SIDE))
        data += palette + indices
    with open(path, "wb") as f:
        f.write(data)


def scene_tiles(scratch, quorvex_pack):
    """scene.tis: a 12 x 8-block landscape of sky, sun, hills and water, painted here."""
    import math
    from PIL import Image, ImageDraw
    width, height = 12 * SIDE, 8 * SIDE
    scene = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(scene)
    for y in range(height):
        t = y / height
        draw.line([(0, y), (width, y)], fill=(int(40 + 150 * t), int(70 + 110 * t), int(150 + 60 * t)))
    draw.ellipse([520, 70, 620, 170], fill=(250, 214, 120))
    for layer, (base, colour) in enumerate(((300, (70, 96, 80)), (350, (48, 78, 58)), (400, (30, 58, 42)))):
        points = [(x, base + 40 * math.sin(x / (90 - 20 * layer) + layer * 2)) for x in range(0, width + 8, 8)]
        draw.polygon(points + [(width, height), (0, height)], fill=colour)
    for y in range(440, height):
        for x in range(0, width, 3):
            shade = int(20 * math.sin(x / 7 + y / 3))
            draw.line([(x, y), (x + 2, y)], fill=(30 + shade // 2, 60 + shade, 90 + shade))
    scene.save(os.path.join(scratch, "scene.png"))
    subprocess.run([quorvex_pack, "scene.png", "scene.tis"], cwd=scratch, check=True, capture_output=True, timeout=TIMEOUT)


def periodic_tiles(scratch, quorvex_pack):
    """waves.tis: 8 x 6 blocks of waves repeating every 4 blocks across, so 4 x 12 fits nearly as well."""
    import math
    from PIL import Image
    width, height = 8 * SIDE, 6 * SIDE
    pixels = bytes(v for y in range(height) for x in range(width)
                   for v in (int(127 + 120 * math.sin(2 * math.pi * x / (4 * SIDE))), y * 255 // height, 90))
    Image.frombytes("RGB", (width, height), pixels).save(os.path.join(scratch, "waves.png"))
    subprocess.run([quorvex_pack, "waves.png", "waves.tis"], cwd=scratch, check=True, capture_output=True, timeout=TIMEOUT)


def random_tiles(path, records, rng, short=0):
    with open(path, "wb") as f:
        f.write(rng.randbytes(records * RECORD - short))


def native(command, cwd):
    """Runs a program; its last line of standard output (the outcome after the banner)."""
    run = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=TIMEOUT)
    lines = run.stdout.strip().splitlines()
    return lines[-1] if lines else ""


def native_layout(quorvex_layout, name, cwd):
    """quorvex-layout's lines after its banner, without the command line the page has no use for."""
    run = subprocess.run([quorvex_layout, name], cwd=cwd, capture_output=True, text=True, timeout=TIMEOUT)
    return [line for line in run.stdout.strip().splitlines()[1:] if not line.startswith("quorvex ")]


def nearest_square(records):
    """The factor pair nearest a square, the wider first: the page's start when no layout is found."""
    height = max(h for h in range(1, records + 1) if records % h == 0 and h * h <= records)
    return [records // height, height]


class Page:
    def __init__(self, page):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        self.profile = tempfile.mkdtemp(prefix="quorvex-chromium-")
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1400,900", f"--user-data-dir={self.profile}"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.set_script_timeout(TIMEOUT)
        self.driver.get("file://" + os.path.abspath(page))
        self.wait_state(("idle",))

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait_state(self, states):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            state = self.js("return document.body.dataset.state")
            if state in states:
                return state
            time.sleep(0.05)
        raise SystemExit(f"the page stayed {state!r}, waiting for {states}")

    def act(self, action):
        """Starts a piece of work and waits until it is done or refused; the status line."""
        self.js("document.body.dataset.state = 'idle'")
        action()
        self.wait_state(("done", "failed"))
        return self.js("return document.getElementById('status').textContent")

    def choose(self, element_id, path):
        self.driver.find_element("id", element_id).send_keys(os.path.abspath(path))

    def set_layout(self, width, height):
        self.js("""document.getElementById('width').value = arguments[0];
                   document.getElementById('height').value = arguments[1];
                   document.getElementById('height').dispatchEvent(new Event('change'));""", width, height)

    def guess(self):
        """The layout the page set, the line it shows for it and the runners-up it offers."""
        return self.js("""const $ = (id) => document.getElementById(id);
            return [[Number($('width').value), Number($('height').value)], $('guesses').textContent,
                    [...document.querySelectorAll('#also button')].map((b) => b.textContent)];""")

    def offered(self, link_id):
        """The bytes the link offers, or None when it offers nothing."""
        encoded = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const link = document.getElementById(arguments[0]);
            if (!link.href) { done(null); return; }
            fetch(link.href).then((r) => r.arrayBuffer()).then((buffer) => {
              const bytes = new Uint8Array(buffer);
              let text = '';
              for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
              done(btoa(text));
            });""", link_id)
        return None if encoded is None else base64.b64decode(encoded)

    def requests_out(self):
        """Requests the page made other than to itself: resources and the network log."""
        out = [e for e in self.js("return performance.getEntriesByType('resource').map(e => e.name)")]
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message.get("method") == "Network.requestWillBeSent":
                url = message["params"]["request"]["url"]
                # The browser's own pages (chrome:) load before ours and never leave the machine.
                if url.startswith(("http:", "https:", "ws:", "wss:", "ftp:")):
                    out.append(url)
        return out


def main():
    page_path, quorvex, quorvex_pack, scratch = sys.argv[1:5]
    screenshot = sys.argv[5] if len(sys.argv) > 5 else None
    quorvex, quorvex_pack = os.path.abspath(quorvex), os.path.abspath(quorvex_pack)
    quorvex_layout = os.path.join(os.path.dirname(quorvex), "quorvex-layout")
    os.makedirs(scratch, exist_ok=True)
    rng = random.Random(26)
    page = Page(page_path)
    try:
        # The layout guessed as quorvex-layout finds it: a painted scene, waves and the sample
        # found, with their runners-up offered; flat data that cannot tell shows the nearest square.
        scene_tiles(scratch, quorvex_pack)
        periodic_tiles(scratch, quorvex_pack)
        sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "samples", "sample.tis")
        with open(sample, "rb") as f, open(os.path.join(scratch, "sample.tis"), "wb") as out:
            out.write(f.read())
        with open(os.path.join(scratch, "flat.tis"), "wb") as f:
            f.write(bytes(12 * RECORD))
        for name, size in (("scene.tis", [12, 8]), ("waves.tis", [8, 6]), ("sample.tis", [6, 2])):
            page.act(lambda: page.choose("tiles", os.path.join(scratch, name)))
            lines = native_layout(quorvex_layout, name, scratch)
            also = [m.group(1) for m in (re.match(r"Also possible: (\d+ x \d+)", line) for line in lines) if m]
            check(f"{name}: the layout guessed, its line and the runners-up, as quorvex-layout finds them",
                  [size, lines[0], also], page.guess())
            if also:
                page.act(lambda: page.driver.find_element("css selector", "#also button").click())
                check(f"{name}: a runner-up chosen sets the layout", [int(n) for n in also[0].split(" x ")],
                      page.guess()[0])
            else:
                print(f"not exercised: {name} has no runner-up to choose")
        page.act(lambda: page.choose("tiles", os.path.join(scratch, "flat.tis")))
        cannot = native_layout(quorvex_layout, "flat.tis", scratch)[0]
        width_height, line, also = page.guess()
        check("flat data: the page says it cannot tell in quorvex-layout's words and starts at the nearest square",
              [True, True, nearest_square(12), []], [cannot.startswith("Cannot tell the layout of "),
                                                    line.startswith(cannot), width_height, also])

        # Tile data of several layouts, converted as quorvex converts them.
        cases = [("random_3x2.tis", 3, 2, 0), ("random_1x4.tis", 1, 4, 0), ("random_7x1.tis", 7, 1, 0),
                 ("short_5x3.tis", 5, 3, 1000)]
        for name, width, height, short in cases:
            path = os.path.join(scratch, name)
            random_tiles(path, width * height, rng, short)
            line = page.act(lambda: page.choose("tiles", path))
            page.act(lambda: page.set_layout(width, height))
            expected_line = native([quorvex, name, str(width), str(height)], scratch)
            check(f"{name} at {width} x {height}: the outcome line", expected_line, page.js(
                "return document.getElementById('status').textContent"))
            made = os.path.join(scratch, name[:-4] + ".bmp")
            expected = open(made, "rb").read() if os.path.exists(made) else None
            check(f"{name} at {width} x {height}: the bitmap's bytes", expected, page.offered("save-bmp"))

        # A smooth picture: chosen, then its layout changed to the right one and to another.
        smooth = os.path.join(scratch, "smooth.tis")
        smooth_tiles(smooth, 6, 4)
        page.act(lambda: page.choose("tiles", smooth))
        for width, height in ((6, 4), (4, 6), (8, 3)):
            page.act(lambda: page.set_layout(width, height))
            native([quorvex, "smooth.tis", str(width), str(height)], scratch)
            with open(os.path.join(scratch, "smooth.bmp"), "rb") as f:
                check(f"smooth.tis changed to {width} x {height}: the bitmap's bytes", f.read(),
                      page.offered("save-bmp"))
        # Shown 1:1, the canvas is the picture's size; the bitmap offered is the same.
        page.act(lambda: page.driver.find_element("id", "actual-size").click())
        check("at 1:1 the canvas is the picture's size", [8 * SIDE, 3 * SIDE],
              page.js("const c = document.getElementById('picture'); return [c.clientWidth, c.clientHeight]"))
        with open(os.path.join(scratch, "smooth.bmp"), "rb") as f:
            check("at 1:1 the bitmap's bytes", f.read(), page.offered("save-bmp"))
        page.act(lambda: page.driver.find_element("id", "actual-size").click())

        # Refused: a width of 0, in the program's words, with nothing offered.
        line = page.act(lambda: page.set_layout(0, 4))
        check("a width of 0 is refused as quorvex refuses it", native([quorvex, "smooth.tis", "0", "4"], scratch), line)
        check("a refused conversion offers no bitmap", None, page.offered("save-bmp"))
        check("a refusal leaves the page failed", "failed", page.js("return document.body.dataset.state"))

        # An edited picture packed, as a BMP and as a PNG, alone and after the original.
        page.act(lambda: page.set_layout(6, 4))
        native([quorvex, "smooth.tis", "6", "4"], scratch)
        from PIL import Image
        picture = Image.open(os.path.join(scratch, "smooth.bmp")).convert("RGB")
        for x in range(70, 200):
            for y in range(10, 40):
                picture.putpixel((x, y), (255, 255 - x, y * 3))
        for name in ("edited.bmp", "edited.png"):
            picture.save(os.path.join(scratch, name))
            for original in (None, "smooth.tis"):
                # The edited picture first; then the original, whose choice packs again.
                if original:
                    line = page.act(lambda: page.choose("original", os.path.join(scratch, original)))
                else:
                    line = page.act(lambda: page.choose("edited", os.path.join(scratch, name)))
                like = ["--like", original] if original else []
                expected_line = native([quorvex_pack, "--threads", "1", *like, name, "packed.tis"], scratch)
                what = f"{name} packed{' like ' + original if original else ''}"
                check(f"{what}: the outcome line", expected_line, line)
                check(f"{what}: the progress bar ends full", [4, 4],
                      page.js("const p = document.getElementById('pack-progress'); return [p.value, p.max]"))
                with open(os.path.join(scratch, "packed.tis"), "rb") as f:
                    check(f"{what}: the tile data's bytes", f.read(), page.offered("save-tis"))
            page.js("document.getElementById('original').value = ''")

        # Refused: a picture whose sides are not whole blocks, in quorvex-pack's words.
        Image.new("RGB", (100, 64), (10, 20, 30)).save(os.path.join(scratch, "odd.bmp"))
        line = page.act(lambda: page.choose("edited", os.path.join(scratch, "odd.bmp")))
        check("a picture not in whole blocks is refused as quorvex-pack refuses it",
              native([quorvex_pack, "odd.bmp", "odd.tis"], scratch), line)
        check("a refused picture offers no tile data", None, page.offered("save-tis"))

        check("no request left the page", [], page.requests_out())

        if screenshot:
            # The painted scene, packed by quorvex-pack, as a modder would open it.
            page.act(lambda: page.choose("tiles", os.path.join(scratch, "scene.tis")))
            page.js("document.getElementById('grid').click()")
            canvas = page.driver.find_element("id", "picture")
            from selenium.webdriver import ActionChains
            ActionChains(page.driver).move_to_element_with_offset(canvas, 40, 30).perform()
            page.driver.save_screenshot(screenshot)
            print(f"screenshot: {screenshot}")
    finally:
        page.driver.quit()
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("the page agrees with the programs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
