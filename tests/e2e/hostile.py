"""Hostile clients of the control API, shared by the hostile-client suite and its benchmark: one
that pipelines requests and never reads, keep-alive connections holding every place with the
page's files, and a flood of requests without the token; and the token holder, whose requests
must still be answered meanwhile."""

import multiprocessing
import os
import select
import socket
import statistics
import threading
import time
import urllib.parse

TRIES = 15


def rss_mb(pid):
    """The resident memory of process `pid`, in MB."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def where(url):
    """(host, port, base path) of an API address."""
    parts = urllib.parse.urlsplit(url)
    return parts.hostname, parts.port, parts.path


def request_bytes(host, port, path, token=None, close=False):
    head = f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\n"
    if token:
        head += f"Authorization: Bearer {token}\r\n"
    if close:
        head += "Connection: close\r\n"
    return (head + "\r\n").encode()


def read_answer(s):
    """The status of one whole answer read from `s` (its body skipped); 0 when it closed."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(4096)
        if not chunk:
            return 0
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    lines = head.split(b"\r\n")
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        chunk = s.recv(65536)
        if not chunk:
            break
        rest += chunk
    return int(lines[0].split()[1])


def token_holder(url, token, tries=TRIES, gap=0.1, source="127.0.0.1"):
    """`tries` new connections from `source`, each asking GET /state with the token:
    (answered with 200, median time in ms of those answered)."""
    host, port, base = where(url)
    answered, times, failures = 0, [], []
    for _ in range(tries):
        start = time.monotonic()
        try:
            with socket.create_connection((host, port), timeout=5, source_address=(source, 0)) as s:
                s.sendall(request_bytes(host, port, base + "/state", token, close=True))
                status = read_answer(s)
                if status == 200:
                    answered += 1
                    times.append((time.monotonic() - start) * 1000)
                else:
                    failures.append(status)
        except OSError as e:
            failures.append(repr(e))
        time.sleep(gap)
    if failures:
        print("the token holder's failures:", failures)
    return answered, statistics.median(times) if times else float("nan")


def pipeline_without_reading(url, path, pid, count, seconds=4.0, token=None):
    """One connection sends GET `path` `count` times and reads nothing for `seconds`: (the
    server's highest RSS meanwhile in MB, requests sent)."""
    host, port, _ = where(url)
    one = request_bytes(host, port, path, token)
    data = one * count
    peak = rss_mb(pid)
    s = socket.create_connection((host, port), timeout=5)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.setblocking(False)
    sent = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if sent < len(data):
            try:
                sent += s.send(data[sent:sent + 65536])
                continue
            except BlockingIOError:
                pass
            except OSError:
                break  # closed by the server
        peak = max(peak, rss_mb(pid))
        time.sleep(0.02)
    peak = max(peak, rss_mb(pid))
    s.close()
    return peak, sent // len(one)


class Flood:
    """Threads that keep sending requests until stop(): `kind` "keep" holds `connections`
    kept-alive connections (spread over the loopback addresses `sources`) each asking for `path`
    every `period` seconds and reopening one that was closed; "reopen" sends `path` without the
    token on a new connection at once, again and again, from `connections` threads; "pipeline"
    sends `path` again and again on one connection without waiting for the answers, which it
    reads meanwhile."""

    def __init__(self, url, kind, path, connections=64, sources=("127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"),
                 period=5.0):
        self.host, self.port, _ = where(url)
        self.path, self.period, self.kind = path, period, kind
        self.running = True
        self.requests = 0
        work = {"keep": self._keep, "reopen": self._reopen, "pipeline": self._pipeline}[kind]
        if kind == "pipeline":
            connections = 1
        self.threads = [threading.Thread(target=work, args=(sources[i % len(sources)],), daemon=True)
                        for i in range(connections)]
        for t in self.threads:
            t.start()

    def _connect(self, source):
        s = socket.create_connection((self.host, self.port), timeout=5, source_address=(source, 0))
        return s

    def _keep(self, source):
        s = None
        while self.running:
            try:
                if s is None:
                    s = self._connect(source)
                s.sendall(request_bytes(self.host, self.port, self.path))
                self.requests += 1
                if read_answer(s) == 0:
                    raise OSError("closed")
                # Until the next request: a connection the server closed is opened again at once.
                wait = time.monotonic() + self.period
                while self.running and time.monotonic() < wait:
                    if select.select([s], [], [], 0.05)[0] and not s.recv(1, socket.MSG_PEEK):
                        raise OSError("closed")
            except OSError:
                if s:
                    s.close()
                s = None
                time.sleep(0.01)
        if s:
            s.close()

    def _reopen(self, source):
        while self.running:
            try:
                with self._connect(source) as s:
                    s.sendall(request_bytes(self.host, self.port, self.path))
                    self.requests += 1
                    read_answer(s)
            except OSError:
                time.sleep(0.005)

    def _pipeline(self, source):
        s = self._connect(source)
        s.settimeout(None)

        def read_all():
            try:
                while s.recv(1 << 20):
                    pass
            except OSError:
                pass
        threading.Thread(target=read_all, daemon=True).start()
        batch = request_bytes(self.host, self.port, self.path) * 1000
        while self.running:
            try:
                s.sendall(batch)
            except OSError:
                break
            self.requests += 1000
        s.close()

    def stop(self):
        self.running = False
        for t in self.threads:
            t.join(10)


def _flood_process(url, kind, path, stop, requests):
    flood = Flood(url, kind, path)
    stop.wait()
    flood.stop()
    requests.value = flood.requests


def token_holder_under(url, token, kind, path, settle=1.0):
    """The token holder's tries while a Flood of `kind` asks for `path`: (answered, median ms,
    the flood's requests). The flood runs in a process of its own: its threads would otherwise
    hold the token holder's client back (one interpreter lock), and its time would count as the
    server's."""
    context = multiprocessing.get_context("fork")
    stop, requests = context.Event(), context.Value("l", 0)
    flood = context.Process(target=_flood_process, args=(url, kind, path, stop, requests), daemon=True)
    flood.start()
    try:
        time.sleep(settle)
        answered, median = token_holder(url, token)
    finally:
        stop.set()
        flood.join(20)
    return answered, median, requests.value


def read_token(folder):
    """The token a server beyond loopback made in `folder` (its XDG_CONFIG_HOME)."""
    with open(os.path.join(folder, "dpx20remote", "api-token")) as f:
        return f.read().strip()
