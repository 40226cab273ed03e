#!/usr/bin/env python3
"""The control API's requests wait for their box on the box's own thread and are answered when
its work has ended: a client that leaves meanwhile costs nothing, and one box's slow work holds
up no other box's answer. Run against `dpx20ctl serve` (one box and several) and the panel,
each over dpx20sim."""

import os
import socket
import struct
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
import webpage as wp  # noqa: E402

# Every endpoint that changes a box, with a body; the scope at the HDMI input is refused by a
# rule, so the leaving client meets a refusal as well as work.
CHANGES = [
    ("PUT", "/settings", '{"sys_beep": 1, "sys_bk_light": 5}'),
    ("PUT", "/settings", '{"sys_scp_mode": 1}'),
    ("POST", "/disconnect", ""),
    ("POST", "/connect", ""),
    ("POST", "/sync", ""),
    ("POST", "/adjust-memory/1/save", ""),
    ("POST", "/memory/1/save", ""),
    ("POST", "/memory/1/load", ""),
]
RUNS = 50


def leave(url, method, path, body, reset):
    """Sends one request and goes without reading its answer: with a reset, as a process that
    is killed; else with a close, as a client that timed out."""
    parts = urllib.parse.urlsplit(url)
    with socket.create_connection((parts.hostname, parts.port), timeout=5) as s:
        data = body.encode()
        s.sendall(f"{method} {parts.path}{path} HTTP/1.1\r\nHost: {parts.netloc}\r\n"
                  f"Content-Type: application/json\r\nContent-Length: {len(data)}\r\n\r\n".encode() + data)
        if reset:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def idle(url):
    """Waits until the box has no change running; false if it never gets there."""
    return wp.wait_until(lambda: wp.api(url + "/state")[1].get("busy", "") is None, 30, 0.005)


def leaving_clients(url):
    """Every changing endpoint, RUNS clients each that leave while their change runs; the
    server must answer afterwards as before."""
    for method, path, body in CHANGES:
        for run in range(RUNS):
            leave(url, method, path, body, reset=run % 2 == 0)
            if not idle(url):
                raise AssertionError(f"{method} {path}: the box stayed busy after run {run}")
    status, health = wp.api(url.rsplit("/boxes/", 1)[0] + "/health")
    assert status == 200 and health["ok"], health
    status, answer = wp.api(url + "/settings", "PUT", {"sys_beep": 0})
    assert status == 200, answer


def stopped_cleanly(server, codes=(0,)):
    """Ends `server` with SIGTERM: its exit code one of `codes`, nothing from the sanitizers."""
    code, errors = server.stop()
    assert code in codes, f"exit {code}: {errors}"
    assert "Sanitizer" not in errors and "runtime error" not in errors, errors


def test_service_of_one_box(folder):
    sim = wp.Sim(folder, "one", ["--delay", "3"])
    server = wp.Server([os.path.join(wp.build_dir(), "dpx20ctl"), "--api", "127.0.0.1:0", "-p", sim.link, "serve"],
                       cwd=folder)
    try:
        leaving_clients(server.url)
    finally:
        stopped_cleanly(server)


def test_service_of_several_boxes(folder):
    sims = {name: wp.Sim(folder, name, ["--delay", "3"]) for name in ("a", "b")}
    server = wp.serve(folder, sims)
    try:
        leaving_clients(server.url + "/boxes/b")
    finally:
        stopped_cleanly(server)


def test_panel(folder):
    sim = wp.Sim(folder, "panel", ["--delay", "3"])
    server = wp.panel(folder, sim)
    try:
        status, answer = wp.api(server.url + "/connect", "POST")
        assert status == 200, answer
        leaving_clients(server.url)
    finally:
        stopped_cleanly(server, (0, -15))  # the panel keeps the default end on SIGTERM


def test_each_box_answers_in_its_own_time(folder):
    """Box a synchronises in a fraction of box b's time; whichever starts first, a's answer
    comes before b's."""
    sims = {"a": wp.Sim(folder, "a", ["--delay", "2"]), "b": wp.Sim(folder, "b", ["--delay", "40"])}
    server = wp.serve(folder, sims)
    try:
        for first, second in (("a", "b"), ("b", "a")):
            done = {}
            start = time.monotonic()

            def sync(name):
                status, answer = wp.api(f"{server.url}/boxes/{name}/sync", "POST")
                done[name] = (time.monotonic() - start, status, answer.get("synchronised"))

            threads = [threading.Thread(target=sync, args=(first,))]
            threads[0].start()
            assert wp.wait_until(lambda: wp.api(f"{server.url}/boxes/{first}/state")[1]["busy"] is not None, 5, 0.002)
            threads.append(threading.Thread(target=sync, args=(second,)))
            threads[1].start()
            for t in threads:
                t.join(60)
            print(f"{first} first: a answered at {done['a'][0]:.2f} s, b at {done['b'][0]:.2f} s")
            assert done["a"][1:] == (200, True) and done["b"][1:] == (200, True), done
            assert done["a"][0] < done["b"][0], f"{first} first: a waited for b: {done}"
    finally:
        stopped_cleanly(server)


TESTS = [test_service_of_one_box, test_service_of_several_boxes, test_panel, test_each_box_answers_in_its_own_time]


def main():
    return wp.run_tests(TESTS, sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
