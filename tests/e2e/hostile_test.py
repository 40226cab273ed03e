#!/usr/bin/env python3
"""Hostile clients against the control API of `dpx20ctl serve` (one box, beyond loopback, and
several boxes) and of the panel, each over dpx20sim: one connection that pipelines requests and
never reads leaves the server's memory within a bound and the server serving; kept-alive
connections holding the places with the page's files or /health, and requests without the token
sent again and again on new connections, leave the token holder answered. How fast is printed
(bench/api_abuse_bench.py measures it), not asserted."""

import base64
import os
import socket
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "browser"))
import webpage as wp  # noqa: E402
import hostile  # noqa: E402


def sanitized():
    """Whether the build runs under the sanitizers, whose memory grows on its own."""
    try:
        with open(os.path.join(wp.build_dir(), "CMakeCache.txt")) as f:
            return "DPX20_SANITIZE:BOOL=ON" in f.read()
    except OSError:
        return False


# What one client that does not read may add to the server's memory. The sanitizers keep freed
# memory aside for a while (their quarantine): kept small here, so that what grows is what the
# server holds.
GROWTH_MB = 40 if sanitized() else 20
if sanitized():
    os.environ["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "quarantine_size_mb=4",
                                                        "thread_local_quarantine_size_kb=64"]))
# Of the token holder's tries under a flood, how many must be answered.
ANSWERED = 14


def bounded_memory(server, path, count):
    pid = server.process.pid
    time.sleep(0.3)
    idle = hostile.rss_mb(pid)
    peak, sent = hostile.pipeline_without_reading(server.url, path, pid, count, seconds=3.0)
    time.sleep(0.5)
    after = hostile.rss_mb(pid)
    print(f"GET {path} x {sent} unread: RSS {idle:.0f} -> {peak:.0f} MB, after {after:.0f} MB")
    assert server.process.poll() is None, "the server ended"
    assert peak - idle <= GROWTH_MB, f"grew from {idle:.0f} to {peak:.0f} MB"
    assert after - idle <= GROWTH_MB, f"kept {after - idle:.0f} MB after the client went"
    status, health = wp.api(server.url.rsplit("/boxes/", 1)[0] + "/health")
    assert status == 200 and health["ok"], health


def answered_under(server, token, kind, path, box=""):
    answered, median, sent = hostile.token_holder_under(server.url + box, token, kind, path)
    print(f"{kind} {path}: the token holder answered {answered}/{hostile.TRIES}, median {median:.1f} ms; "
          f"{sent} flood requests")
    assert answered >= ANSWERED, f"{kind} {path}: the token holder answered {answered} of {hostile.TRIES}"


def stopped_cleanly(server, codes=(0,)):
    code, errors = server.stop()
    assert code in codes, f"exit {code}: {errors}"
    assert "Sanitizer" not in errors and "runtime error" not in errors, errors


def event_stream(url, token):
    """A WebSocket of GET /events with the token, its handshake answered: the socket."""
    host, port, base = hostile.where(url)
    s = socket.create_connection((host, port), timeout=5)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET {base}/events HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\nAuthorization: Bearer {token}\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(1)
        assert chunk, "closed during the handshake"
        head += chunk
    assert head.startswith(b"HTTP/1.1 101"), head
    return s


def closed_by_server(s, seconds):
    """Whether the server ends the WebSocket `s` (a close frame, or the end of the stream)."""
    s.settimeout(0.2)
    end = time.monotonic() + seconds
    data = b""
    while time.monotonic() < end:
        try:
            chunk = s.recv(65536)
        except socket.timeout:
            continue
        if not chunk:
            return True
        data += chunk
        # Frames from the server are unmasked: opcode, length, payload.
        while len(data) >= 2:
            opcode, length = data[0] & 0x0F, data[1] & 0x7F
            at = 2 + (2 if length == 126 else 8 if length == 127 else 0)
            if len(data) < at:
                break
            if length >= 126:
                length = int.from_bytes(data[2:at], "big")
            if len(data) < at + length:
                break
            if opcode == 0x8:
                return True
            data = data[at + length:]
    return False


def test_service_of_one_box(folder):
    sim = wp.Sim(folder, "one")
    server = wp.serve(folder, {"one": sim})
    try:
        bounded_memory(server, "/api/v1/openapi.json", 20000)
        answered_under(server, None, "keep", "/api/v1/health")
    finally:
        stopped_cleanly(server)
        sim.stop()


def test_service_beyond_loopback(folder):
    sim = wp.Sim(folder, "one")
    env = dict(os.environ, XDG_CONFIG_HOME=folder)
    server = wp.serve(folder, {"one": sim}, listen="0.0.0.0:0", env=env)
    try:
        token = hostile.read_token(folder)
        bounded_memory(server, "/box.js", 40000)
        answered_under(server, token, "keep", "/main.js")
        answered_under(server, token, "reopen", "/api/v1/state")
        # An event stream let in with the token ends when the token is replaced.
        events = event_stream(server.url, token)
        subprocess.run([os.path.join(wp.build_dir(), "dpx20ctl"), "token", "--new"], env=env, check=True,
                       capture_output=True)
        status, _ = wp.api(server.url + "/state", token=token)
        assert status == 401, status
        assert closed_by_server(events, 5), "the event stream of the old token goes on"
        events.close()
    finally:
        stopped_cleanly(server)
        sim.stop()


def test_service_of_several_boxes(folder):
    sims = {name: wp.Sim(folder, name) for name in ("a", "b")}
    server = wp.serve(folder, sims)
    try:
        bounded_memory(server, "/api/v1/openapi.json", 20000)
        answered_under(server, None, "keep", "/main.js", box="/boxes/b")
    finally:
        stopped_cleanly(server)
        for sim in sims.values():
            sim.stop()


def test_panel(folder):
    """The panel without an options file: its start notice waits for the operator, and the API
    serves meanwhile."""
    sim = wp.Sim(folder, "panel")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", DPX20_COM1=sim.link, XDG_CONFIG_HOME=folder)
    server = wp.Server([os.path.join(wp.build_dir(), "dpx20remote"), "--api", "127.0.0.1:0"], env=env, cwd=folder,
                       stream="stderr")
    try:
        status, state = wp.api(server.url + "/state")
        assert status == 200 and state["host"] == "panel", state
        bounded_memory(server, "/box.js", 40000)
        answered_under(server, None, "keep", "/api/v1/health")
    finally:
        stopped_cleanly(server, (0, -15))
        sim.stop()


TESTS = [test_service_of_one_box, test_service_beyond_loopback, test_service_of_several_boxes, test_panel]


def main():
    return wp.run_tests(TESTS, sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
