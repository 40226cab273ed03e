#!/usr/bin/env python3
"""PUTs a second through `dpx20ctl serve` for one box and for four, each box driven by a client
of its own on a kept-alive connection; an idle box's GET /state meanwhile; and how often the
idle service wakes. Prints figures only.

    /usr/bin/python3 bench/boxes_put_bench.py [BUILD_DIR] [SECONDS]
"""

import http.client
import json
import os
import statistics
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "browser"))
import webpage as wp  # noqa: E402


def client(url, path, seconds, out, method="PUT"):
    """Requests on one kept-alive connection for `seconds`: their times in ms into `out`."""
    parts = url.split("/", 3)
    host, port = parts[2].split(":")
    base = "/" + parts[3]
    connection = http.client.HTTPConnection(host, int(port), timeout=30)
    end = time.monotonic() + seconds
    beep = 0
    while time.monotonic() < end:
        beep ^= 1
        body = json.dumps({"sys_beep": beep}) if method == "PUT" else None
        start = time.perf_counter()
        connection.request(method, base + path, body=body, headers={"Content-Type": "application/json"})
        answer = connection.getresponse()
        answer.read()
        if answer.status == 200:
            out.append((time.perf_counter() - start) * 1000)
    connection.close()


def wakeups(pid, seconds):
    """Context switches of process `pid` over `seconds`, per second."""
    def switches():
        total = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        return total
    before = switches()
    time.sleep(seconds)
    return (switches() - before) / seconds


def run(boxes, seconds):
    with tempfile.TemporaryDirectory() as folder:
        sims = {f"b{i}": wp.Sim(folder, f"b{i}", ["--quiet"]) for i in range(boxes + 1)}
        server = wp.serve(folder, sims)
        try:
            idle_wakeups = wakeups(server.process.pid, 3)
            times = {name: [] for name in sims}
            threads = [threading.Thread(target=client, args=(f"{server.url}/boxes/{name}", "/settings", seconds, times[name]))
                       for name in list(sims)[:boxes]]
            idle = list(sims)[boxes]
            threads.append(threading.Thread(target=client, args=(f"{server.url}/boxes/{idle}", "/state", seconds,
                                                                   times[idle], "GET")))
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            puts = [ms for name in list(sims)[:boxes] for ms in times[name]]
            return len(puts) / seconds, statistics.median(puts), statistics.median(times[idle]), idle_wakeups
        finally:
            server.stop()


def main():
    if len(sys.argv) > 1:
        os.environ["DPX20_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
    one = run(1, seconds)
    four = run(4, seconds)
    print(f"1 box:  {one[0]:.0f} PUTs/s, PUT median {one[1]:.2f} ms, an idle box's GET /state median {one[2]:.2f} ms")
    print(f"4 boxes: {four[0]:.0f} PUTs/s ({four[0] / one[0]:.2f} x one box), PUT median {four[1]:.2f} ms, "
          f"an idle box's GET /state median {four[2]:.2f} ms")
    print(f"idle service: {one[3]:.1f} wake-ups a second (every thread's context switches)")


if __name__ == "__main__":
    main()
