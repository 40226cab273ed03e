#!/usr/bin/python3
"""Figures of the web page in Debian's headless Chromium against `dpx20ctl serve` with two
boxes of dpx20sim (9600-baud wire timing) on loopback: navigation to the first state shown, a
change made through the API to the page showing it (less the box's transaction: the box's
change to the page), and the page's weight and requests; then the overview of a rack of 8 and of
16 boxes: navigation to every tile shown, and the height of the tiles at 1024x768 in screens.

    /usr/bin/python3 bench/web_bench.py [BUILD_DIR] [ROUNDS]

BUILD_DIR defaults to ./build, ROUNDS (navigations, and changes) to 30. Prints figures only."""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "browser"))
import webpage  # noqa: E402

# Epoch milliseconds at which the page shows each new back light level of cam1.
WATCH = """
window.shownAt = {};
const control = document.querySelector('[data-box="cam1"] [data-setting="sys_bk_light"]');
new MutationObserver(() => { window.shownAt[control.dataset.value] = performance.timeOrigin + performance.now(); })
  .observe(control, { attributes: true, attributeFilter: ["data-value"] });
"""


def median_max(values):
    return f"median {statistics.median(values) + 0.0:.1f} ms, max {max(values) + 0.0:.1f} ms"


def main():
    if len(sys.argv) > 1:
        os.environ["DPX20_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    missing = webpage.missing_tools()
    if missing:
        sys.exit("web_bench: not installed: " + ", ".join(missing))
    import time

    folder = webpage.temporary_folder()
    sims = {name: webpage.Sim(folder, name, ["--wire"]) for name in ("cam1", "cam2")}
    server = webpage.serve(folder, sims)
    driver = webpage.browser(*webpage.TABLET_SIZES[0])
    try:
        # Navigation to the first state shown: a fresh page each time.
        first = []
        for _ in range(rounds):
            driver.get("about:blank")
            driver.get(server.origin + "/")
            webpage.wait_until(lambda: driver.execute_script("return document.body.dataset.shown === 'true'"))
            first.append(driver.execute_script(
                "return performance.getEntriesByName('dpx20-first-state')[0].startTime"))
        print(f"navigation to the first state shown (2 boxes): {median_max(first)} over {rounds} loads")

        # The page's files: bytes as served, and whether any came from elsewhere.
        files = driver.execute_script(
            "const n = performance.getEntriesByType('navigation')[0];"
            "return [[n.name, n.encodedBodySize], ...performance.getEntriesByType('resource')"
            ".filter(e => !e.name.includes('/api/')).map(e => [e.name, e.encodedBodySize])]")
        # Headless Chromium asks for no icon; it is counted as a browser with a window loads it.
        import urllib.request
        with urllib.request.urlopen(server.origin + "/icon.svg") as icon:
            files.append([server.origin + "/icon.svg", len(icon.read())])
        foreign = [name for name, _ in files if not name.startswith(server.origin)]
        total = sum(size for _, size in files)
        listed = ", ".join(f"{name.rsplit('/', 1)[-1] or 'index.html'} {size}" for name, size in files)
        print(f"page weight: {total} bytes in {len(files)} files ({listed}); requests to other hosts: {len(foreign)}")

        # A change through the API to the page: the PUT, of which the box's transaction at wire
        # timing, and what is left: the service's event to the page.
        driver.execute_script(WATCH)
        to_page, transaction, event = [], [], []
        for i in range(rounds):
            level = 10 + i % 2 * 5 if i % 4 < 2 else -10 - i % 2 * 5
            current = driver.execute_script(
                "return document.querySelector('[data-box=\"cam1\"] [data-setting=\"sys_bk_light\"]').dataset.value")
            if str(level) == current:
                level += 1
            sent = time.time() * 1000
            status, answer = webpage.api(f"{server.url}/boxes/cam1/settings", "PUT", {"sys_bk_light": level})
            if status != 200:
                sys.exit(f"web_bench: PUT answered {status}: {answer}")
            shown = webpage.wait_until(lambda: driver.execute_script("return window.shownAt[arguments[0]]", str(level)))
            driver.execute_script("delete window.shownAt[arguments[0]]", str(level))
            to_page.append(shown - sent)
            # The service sends a client at most 20 events of one setting a second: the next
            # change comes after that gap, so that each is timed alone.
            time.sleep(0.06)
            transaction.append(answer["time_ms"])
            event.append(to_page[-1] - answer["time_ms"])
        print(f"PUT to the page showing it: {median_max(to_page)} over {rounds} changes, of which the box's "
              f"transaction (9600-baud wire timing) median {statistics.median(transaction):.1f} ms; "
              f"the box's change to the page: {median_max(event)} (the answer's time_ms is whole ms)")
    finally:
        driver.quit()
        server.stop()
        for sim in sims.values():
            sim.stop()
        webpage.remove(folder)
    for count in (8, 16):
        rack(count, max(3, rounds // 3))


def rack(count, rounds):
    """The overview of `count` boxes at 1024x768: navigation to the first state (every tile
    shown), and how far down the tiles reach."""
    folder = webpage.temporary_folder()
    sims = {f"cam{n}": webpage.Sim(folder, f"cam{n}") for n in range(1, count + 1)}
    server = webpage.serve(folder, sims)
    driver = webpage.browser(1024, 768)
    try:
        first = []
        for _ in range(rounds):
            driver.get("about:blank")
            driver.get(server.origin + "/")
            webpage.wait_until(lambda: driver.execute_script("return document.body.dataset.shown === 'true'"))
            first.append(driver.execute_script("return performance.getEntriesByName('dpx20-first-state')[0].startTime"))
        bottom = driver.execute_script(
            "return Math.max(...[...document.querySelectorAll('.tile')].map(t => t.getBoundingClientRect().bottom + scrollY))")
        print(f"overview of {count} boxes at 1024x768: navigation to every tile shown {median_max(first)} over {rounds} "
              f"loads; tiles end at {bottom:.0f} px ({bottom / 768:.2f} screens)")
    finally:
        driver.quit()
        server.stop()
        for sim in sims.values():
            sim.stop()
        webpage.remove(folder)


if __name__ == "__main__":
    main()
