#!/usr/bin/python3
"""Figures of services and a fleet view on Debian's Mosquitto, all on loopback with dpx20sim
boxes (no wire timing): a change on a box to the fleet's page in headless Chromium (median,
p99); a PUT through the fleet against the same PUT at the service; ten services of eight boxes
each, from their start to every box shown connected on the fleet's page, with the broker's and
the fleet's CPU time and memory; and an idle service's wake-ups with and without MQTT.

    /usr/bin/python3 bench/mqtt_bench.py [BUILD_DIR] [ROUNDS]

BUILD_DIR defaults to ./build, ROUNDS (changes, and PUTs each way) to 100. Prints figures only."""

import concurrent.futures
import glob
import os
import statistics
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "browser"))
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
import webpage as wp  # noqa: E402
import mqtt_test as mt  # noqa: E402

# Epoch milliseconds at which the page shows each new back light level of one box.
WATCH = """
window.shownAt = {};
const control = document.querySelector(`[data-box="${arguments[0]}"] [data-setting="sys_bk_light"]`);
new MutationObserver(() => { window.shownAt[control.dataset.value] = performance.timeOrigin + performance.now(); })
  .observe(control, { attributes: true, attributeFilter: ["data-value"] });
"""


def p99(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(0.99 * (len(ordered) - 1))))]


def figures(values):
    return f"median {statistics.median(values):.1f} ms, p99 {p99(values):.1f} ms"


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_kb(pid, field="VmHWM"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def wakeups(pid):
    """Context switches of every thread of `pid` so far: each is a wake-up or a preemption."""
    total = 0
    for status in glob.glob(f"/proc/{pid}/task/*/status"):
        try:
            with open(status) as f:
                for line in f:
                    if "ctxt_switches" in line:
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def change_to_page(driver, page_origin, box, service_url, rounds):
    """From a PUT sent to the service to the page at `page_origin` showing its value."""
    driver.get(page_origin + "/")
    wp.wait_until(lambda: driver.execute_script(
        "return document.querySelector(`[data-box='${arguments[0]}'] [data-setting='sys_bk_light']`) !== null", box))
    driver.execute_script(WATCH, box)
    times = []
    for i in range(rounds):
        level = 10 + i % 2 * 5 if i % 4 < 2 else -10 - i % 2 * 5
        sent = time.time() * 1000
        status, answer = wp.api(service_url, "PUT", {"sys_bk_light": level})
        if status != 200:
            sys.exit(f"mqtt_bench: PUT answered {status}: {answer}")
        shown = wp.wait_until(lambda: driver.execute_script("return window.shownAt[arguments[0]]", str(level)), 10, 0.002)
        if not shown:
            sys.exit(f"mqtt_bench: {page_origin} never showed {level}")
        driver.execute_script("delete window.shownAt[arguments[0]]", str(level))
        times.append(shown - sent)
        time.sleep(0.06)  # past the page's limit of 20 events of one setting a second
    return times


def main():
    if len(sys.argv) > 1:
        os.environ["DPX20_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    missing = wp.missing_tools()
    if missing:
        sys.exit("mqtt_bench: not installed: " + ", ".join(missing))

    with tempfile.TemporaryDirectory() as folder:
        broker = mt.Broker(folder, ["allow_anonymous true"])
        sims = {name: wp.Sim(folder, name, ["--quiet"]) for name in ("cam1", "cam2")}
        rack = mt.service(folder, "rack1", sims, broker)
        view = mt.fleet(folder, broker)
        driver = wp.browser()
        try:
            wp.wait_until(lambda: len(mt.boxes(view.url)) == 2, 10)
            put = f"{rack.url}/boxes/cam1/settings"
            fleet_page = change_to_page(driver, view.origin, "rack1/cam1", put, rounds)
            own_page = change_to_page(driver, rack.origin, "cam1", put, rounds)
            print(f"a change on a box to the fleet's page: {figures(fleet_page)}; to the service's own page: "
                  f"{figures(own_page)} ({rounds} changes, from the PUT at the service)")

            direct, through = [], []
            beep = 0
            for _ in range(rounds):
                for url, into in ((f"{rack.url}/boxes/cam2/settings", direct),
                                  (f"{view.url}/boxes/rack1/cam2/settings", through)):
                    beep = 1 - beep  # every PUT changes the box: one frame each
                    started = time.perf_counter()
                    status, _ = wp.api(url, "PUT", {"sys_beep": beep})
                    into.append((time.perf_counter() - started) * 1000)
                    if status != 200:
                        sys.exit(f"mqtt_bench: PUT {url} answered {status}")
            print(f"PUT sys_beep: direct {figures(direct)}; through the fleet {figures(through)} ({rounds} each)")

            # Idle wake-ups: the service with MQTT against one without, over the same time.
            os.makedirs(os.path.join(folder, "plain"))
            plain = wp.serve(os.path.join(folder, "plain"), {"cam3": wp.Sim(folder, "cam3", ["--quiet"])})
            time.sleep(1)
            idle_s = 30
            before = {p.process.pid: wakeups(p.process.pid) for p in (rack, plain)}
            time.sleep(idle_s)
            after = {p.process.pid: wakeups(p.process.pid) for p in (rack, plain)}
            woke = {pid: after[pid] - before[pid] for pid in before}
            print(f"idle service over {idle_s} s (keep-alive 10 s): {woke[rack.process.pid]} context switches with "
                  f"MQTT, {woke[plain.process.pid]} without")
            plain.stop()
        finally:
            driver.quit()
            view.stop()
            rack.stop()
            for sim in sims.values():
                sim.stop()

        # Ten services of eight boxes each: from their start to all 80 shown on the fleet's page.
        view = mt.fleet(folder, broker)
        driver = wp.browser()
        driver.get(view.origin + "/")
        racks, many = [], {}
        try:
            for r in range(10):
                many[r] = {f"cam{b}": wp.Sim(folder, f"r{r}-cam{b}", ["--quiet"]) for b in range(8)}
            cpu = {"broker": cpu_seconds(broker.process.pid), "fleet": cpu_seconds(view.process.pid)}
            started = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(10) as pool:
                racks = list(pool.map(lambda r: mt.service(folder, f"big{r}", many[r], broker), range(10)))
            listening = time.monotonic() - started
            count = "return document.querySelectorAll('section.box[data-connected=\"true\"]').length"
            if not wp.wait_until(lambda: driver.execute_script(count) == 80, 60, 0.01):
                sys.exit(f"mqtt_bench: {driver.execute_script(count)} of 80 boxes shown")
            took = time.monotonic() - started
            time.sleep(1)
            used = {name: cpu_seconds(pid) - cpu[name] for name, pid in
                    (("broker", broker.process.pid), ("fleet", view.process.pid))}
            print(f"10 services x 8 boxes: all 80 shown connected on the fleet's page {took:.2f} s after the "
                  f"services' start (all were serving, their boxes logged in, after {listening:.2f} s); CPU time meanwhile: broker {used['broker']:.2f} s, fleet {used['fleet']:.2f} s; "
                  f"peak memory: broker {memory_kb(broker.process.pid) / 1024:.1f} MiB, "
                  f"fleet {memory_kb(view.process.pid) / 1024:.1f} MiB")
        finally:
            driver.quit()
            view.stop()
            for server in racks:
                server.stop()
            for rack_sims in many.values():
                for sim in rack_sims.values():
                    sim.stop()
            broker.stop()


if __name__ == "__main__":
    main()
