#!/usr/bin/python3
# Speed and memory of the web page against quorvex, side by side in one run.
#
#   .ci/web   (or the commands of docs/development.md: build-web/ and a native build)
#   /usr/bin/python3 bench/page_speed.py build-web/quorvex.html build/quorvex [RUNS]
#
# Writes the 100 x 80-block tile data of bench/process_ratio.sh (8000 random records), then
# for each of RUNS rounds (3 by default): times `quorvex area.tis 100 80` (wall), and opens the
# page afresh in headless chromium, chooses the file and times from the choice to the picture
# on the screen (the page's own marks). Prints the medians and their ratio, and the page's
# memory: chromium's private memory (all its processes, sampled every 20 ms) above what the
# page held before the choice, its peak, and the main thread's JavaScript heap, each against
# the bitmap's size. Not run by CTest.
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
import page_test  # noqa: E402  the page opened as the web leg opens it

WIDTH, HEIGHT = 100, 80


def descendants(pid):
    """The process ids under `pid`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def private_bytes(pids):
    """Memory the processes hold alone (not shared libraries), in bytes."""
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as f:
                for line in f:
                    if line.startswith(("Private_Clean:", "Private_Dirty:")):
                        total += int(line.split()[1]) * 1024
        except OSError:
            pass
    return total


def page_round(page_path, tiles):
    page = page_test.Page(page_path)
    try:
        pids = descendants(page.driver.service.process.pid)
        before = private_bytes(pids)
        peak = [before]
        sampling = True

        def sample():
            while sampling:
                peak[0] = max(peak[0], private_bytes(pids))
                time.sleep(0.02)

        sampler = threading.Thread(target=sample)
        sampler.start()
        page.choose("tiles", tiles)
        deadline = time.monotonic() + page_test.TIMEOUT
        while not page.js("return performance.getEntriesByName('picture-shown').length") and time.monotonic() < deadline:
            time.sleep(0.01)
        sampling = False
        sampler.join()
        after = private_bytes(pids)
        seconds = page.js("return performance.measure('shown', 'tiles-chosen', 'picture-shown').duration") / 1000
        heap = page.js("return performance.memory ? performance.memory.usedJSHeapSize : 0")
        line = page.js("return document.getElementById('status').textContent")
        if line != "Tis file converted successfully!":
            raise SystemExit(f"the page said: {line}")
        return seconds, after - before, peak[0] - before, heap
    finally:
        page.driver.quit()


def main():
    page_path, quorvex = sys.argv[1], os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with tempfile.TemporaryDirectory(prefix="quorvex-page-speed-") as scratch:
        tiles = os.path.join(scratch, "area.tis")
        with open(tiles, "wb") as f:
            f.write(os.urandom(5120 * WIDTH * HEIGHT))
        native, page, held, peaks, heaps = [], [], [], [], []
        for _ in range(runs):
            started = time.monotonic()
            subprocess.run([quorvex, "area.tis", str(WIDTH), str(HEIGHT)], cwd=scratch, check=True,
                           capture_output=True)
            native.append(time.monotonic() - started)
            seconds, after, peak, heap = page_round(page_path, tiles)
            page.append(seconds)
            held.append(after)
            peaks.append(peak)
            heaps.append(heap)
        bitmap = os.path.getsize(os.path.join(scratch, "area.bmp"))
    mb = lambda b: f"{b / 1e6:.0f} MB"
    print(f"100 x 80 blocks, {runs} rounds, medians; chromium: {subprocess.run(['chromium', '--version'], capture_output=True, text=True).stdout.strip()}")
    print(f"quorvex (native, wall):          {statistics.median(native):.3f} s   {['%.3f' % s for s in native]}")
    print(f"page (choice to picture shown):  {statistics.median(page):.3f} s   {['%.3f' % s for s in page]}")
    print(f"ratio page / native:             {statistics.median(page) / statistics.median(native):.1f}")
    print(f"bitmap:                          {mb(bitmap)}")
    print(f"page's private memory, held:     {mb(statistics.median(held))} ({statistics.median(held) / bitmap:.2f} x the bitmap)")
    print(f"page's private memory, peak:     {mb(statistics.median(peaks))} ({statistics.median(peaks) / bitmap:.2f} x the bitmap)")
    print(f"main thread's JavaScript heap:   {mb(statistics.median(heaps))} ({statistics.median(heaps) / bitmap:.2f} x the bitmap)")


if __name__ == "__main__":
    main()
