#!/usr/bin/python3
"""What hostile clients cost the control API of `dpx20ctl serve` and of the panel, each over
dpx20sim: the server's resident memory (idle, highest while one connection pipelines requests
and reads nothing, and a second after it went), and the token holder's requests while
kept-alive connections hold the places with the page's files or /health, while requests
without the token are sent again and again, and while one connection pipelines requests: how
many of 15 were answered, and their median time beside the idle one.

    /usr/bin/python3 bench/api_abuse_bench.py [BUILD_DIR]

BUILD_DIR (default ./build) holds dpx20ctl, dpx20remote and dpx20sim. Prints figures only."""

import os
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "browser"))
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
import webpage as wp  # noqa: E402
import hostile  # noqa: E402


def service(folder, listen, boxes=("one",)):
    sims = {name: wp.Sim(folder, name) for name in boxes}
    env = dict(os.environ, XDG_CONFIG_HOME=folder)
    return wp.serve(folder, sims, listen=listen, env=env), sims


def panel(folder, listen):
    sim = wp.Sim(folder, "panel")
    maker = wp.Server([os.path.join(wp.build_dir(), "dpx20ctl"), "--virtual", "-p", os.devnull, "--api",
                       "127.0.0.1:0", "serve"], cwd=folder)
    for beep in (1, 0):  # a change, so that the options file is written
        wp.api(maker.url + "/settings", "PUT", {"sys_beep": beep})
    maker.stop()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", DPX20_COM1=sim.link, XDG_CONFIG_HOME=folder)
    return wp.Server([os.path.join(wp.build_dir(), "dpx20remote"), "--api", listen], env=env, cwd=folder,
                     stream="stderr"), {"panel": sim}


def memory(name, start, path, count, token_path=False):
    with tempfile.TemporaryDirectory() as folder:
        server, sims = start(folder)
        try:
            pid = server.process.pid
            time.sleep(0.5)
            idle = hostile.rss_mb(pid)
            peak, sent = hostile.pipeline_without_reading(server.url, path, pid, count)
            time.sleep(1.0)
            after = hostile.rss_mb(pid)
            alive = server.process.poll() is None
            print(f"{name}: {count} x GET {path} unread: RSS idle {idle:.0f} MB, highest {peak:.0f} MB "
                  f"(+{peak - idle:.0f}), after {after:.0f} MB; {sent} requests sent; "
                  f"{'still serving' if alive else 'ENDED'}")
        finally:
            server.stop()
            for sim in sims.values():
                sim.stop()


def places(name, start, floods, token_needed):
    with tempfile.TemporaryDirectory() as folder:
        server, sims = start(folder)
        try:
            token = hostile.read_token(folder) if token_needed else None
            answered, idle = hostile.token_holder(server.url, token)
            print(f"{name}: token holder idle: {answered}/15, median {idle:.1f} ms")
            for label, kind, path in floods:
                answered, median, sent = hostile.token_holder_under(server.url, token, kind, path)
                print(f"{name}: under {label}: token holder {answered}/15, median {median:.1f} ms "
                      f"(+{median - idle:.1f}); the flood sent {sent} requests")
                time.sleep(1.0)
        finally:
            server.stop()
            for sim in sims.values():
                sim.stop()


def main():
    if len(sys.argv) > 1:
        os.environ["DPX20_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    print("build:", wp.build_dir())
    memory("service 127.0.0.1", lambda f: service(f, "127.0.0.1:0"), "/api/v1/openapi.json", 20000)
    memory("service 0.0.0.0 (no token)", lambda f: service(f, "0.0.0.0:0"), "/box.js", 40000)
    memory("service of two boxes", lambda f: service(f, "127.0.0.1:0", ("a", "b")), "/api/v1/openapi.json", 20000)
    memory("panel 127.0.0.1", lambda f: panel(f, "127.0.0.1:0"), "/box.js", 40000)
    keep_page = ("64 kept-alive GET /main.js from 4 addresses", "keep", "/main.js")
    keep_health = ("64 kept-alive GET /api/v1/health from 4 addresses", "keep", "/api/v1/health")
    unauthorised = ("GET /api/v1/state without the token, reopened at once", "reopen", "/api/v1/state")
    pipelined = ("one connection pipelining GET /api/v1/health and reading", "pipeline", "/api/v1/health")
    places("service 0.0.0.0", lambda f: service(f, "0.0.0.0:0"), [keep_page, unauthorised], True)
    places("service 127.0.0.1", lambda f: service(f, "127.0.0.1:0"), [keep_health, pipelined], False)
    places("panel 127.0.0.1", lambda f: panel(f, "127.0.0.1:0"), [keep_health], False)
    places("panel 0.0.0.0", lambda f: panel(f, "0.0.0.0:0"), [keep_page, unauthorised], True)


if __name__ == "__main__":
    main()
