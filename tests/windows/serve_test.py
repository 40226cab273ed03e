"""dpx20ctl.exe serve from the installed files, under Wine (tests/windows/serve.sh makes the
installed folder and the prefix, and keeps the prefix's wineserver running):
 - HTTPS and WSS with each kind of key: PEM (PKCS#8, traditional RSA, EC) and PKCS#12 (openssl's
   default, -legacy and unencrypted). A request trusting the certificate answers, and the page in
   Debian's headless Chromium on the Linux side goes live, its events coming over WSS;
 - without the OpenSSL backend (Schannel), a warning at the start;
 - the Windows service: installed and started by `dpx20ctl service install` under Wine's
   Service Control Manager, serving dpx20sim behind ser2net (socket://); `sc stop` logs the box
   off and ends serve's process; started again with `sc start`, `dpx20ctl service remove` logs
   it off again and removes the service.
Usage: serve_test.py INSTALLED-FOLDER [TEST...]; DPX20_BUILD_DIR is the Linux build (dpx20sim)."""

import json
import os
import shutil
import ssl
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
import webpage  # noqa: E402
from webpage import wait_until  # noqa: E402

STAGE = os.path.abspath(sys.argv[1])
CTL = os.path.join(STAGE, "dpx20ctl.exe")


def wine(*args, timeout=120):
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=timeout)


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_keys(folder):
    """A certificate for 127.0.0.1 with its key in each form: (what, serve's options, CA file)."""
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)

    names = ["-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "1"]
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", *names, "-keyout", "rsa.pem", "-out", "rsa-cert.pem")
    openssl("rsa", "-in", "rsa.pem", "-traditional", "-out", "rsa-traditional.pem")
    openssl("ecparam", "-genkey", "-name", "prime256v1", "-noout", "-out", "ec.pem")
    openssl("req", "-x509", "-key", "ec.pem", *names, "-out", "ec-cert.pem")
    pkcs12 = ["pkcs12", "-export", "-in", "rsa-cert.pem", "-inkey", "rsa.pem", "-passout", "pass:"]
    openssl(*pkcs12, "-out", "default.p12")
    openssl(*pkcs12, "-legacy", "-out", "legacy.p12")
    openssl(*pkcs12, "-keypbe", "NONE", "-certpbe", "NONE", "-nomac", "-out", "plain.p12")
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    rsa_ca = path("rsa-cert.pem")
    return [
        ("PEM PKCS#8 RSA key", ["--api-cert", rsa_ca, "--api-key", path("rsa.pem")], rsa_ca),
        ("PEM traditional RSA key", ["--api-cert", rsa_ca, "--api-key", path("rsa-traditional.pem")], rsa_ca),
        ("PEM EC key", ["--api-cert", path("ec-cert.pem"), "--api-key", path("ec.pem")], path("ec-cert.pem")),
        ("PKCS#12, openssl's default", ["--api-cert", path("default.p12")], rsa_ca),
        ("PKCS#12, openssl's -legacy", ["--api-cert", path("legacy.p12")], rsa_ca),
        ("PKCS#12 unencrypted", ["--api-cert", path("plain.p12")], rsa_ca),
    ]


def test_https_and_wss_with_each_kind_of_key(folder):
    keys = make_keys(folder)
    driver = webpage.browser()
    try:
        for what, options, ca in keys:
            server = webpage.Server(["wine", CTL, "--virtual", "--api", "127.0.0.1:0", *options, "serve"], cwd=folder)
            try:
                assert server.url.startswith("https://"), (what, server.url)
                trusted = ssl.create_default_context(cafile=ca)
                with urllib.request.urlopen(server.url + "/health", context=trusted, timeout=60) as answer:
                    assert json.loads(answer.read())["tls"] is True, what
                # The page's WebSocket (wss://.../events) open: the page is live.
                driver.get(server.origin + "/")
                live = wait_until(lambda: driver.execute_script("return document.body.dataset.live === 'true'"), 60)
                assert live, what
            finally:
                _, errors = server.stop()
            # Schannel would be warned of; a refused handshake too.
            assert "warning" not in errors, (what, errors)
            print(f"  {what}: HTTPS and the page over WSS in Chromium")
    finally:
        driver.quit()


def test_without_the_openssl_backend_the_start_warns(folder):
    """An installed folder without Qt's OpenSSL backend: Qt falls back to Schannel, and the start
    says that it may refuse the key and what is missing."""
    bare = os.path.join(folder, "installed")
    shutil.copytree(STAGE, bare)
    os.remove(os.path.join(bare, "tls", "qopensslbackend.dll"))
    keys = make_keys(folder)
    server = webpage.Server(["wine", os.path.join(bare, "dpx20ctl.exe"), "--virtual", "--api", "127.0.0.1:0",
                             *keys[0][1], "serve"], cwd=folder)
    _, errors = server.stop()
    assert "warning: HTTPS goes through Qt's schannel TLS backend" in errors, errors
    assert "qopensslbackend.dll" in errors, errors


SERVICE_NAME = "wine-test"
SERVICE = "dpx20ctl-serve@" + SERVICE_NAME


def service_state():
    out = wine("sc", "query", SERVICE).stdout
    for state in ("STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING"):
        if state in out:
            return state
    return None


def serve_processes(api_port):
    """The pids of the service's serve process (its command line names its API's port)."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                line = f.read().decode(errors="replace")
        except OSError:
            continue
        if "dpx20ctl.exe" in line and f"127.0.0.1:{api_port}" in line and "service" not in line:
            pids.append(int(pid))
    return pids


def logged_in(api):
    """Whether the service at `api` has its box logged in; False while it does not listen yet."""
    try:
        return webpage.api(api + "/health")[1]["boxes"][0]["logged_in"] is True
    except OSError:
        return False


def test_the_service_under_wines_service_manager(folder):
    sim = webpage.Sim(folder, "box")
    port, api_port = free_port(), free_port()
    config = os.path.join(folder, "ser2net.yaml")
    with open(config, "w") as f:
        f.write(f"connection: &box\n  accepter: tcp(nodelay),127.0.0.1,{port}\n"
                f"  connector: serialdev,{sim.link},9600o81,local\n  options:\n    chardelay: false\n")
    ser2net = subprocess.Popen(["ser2net", "-n", "-d", "-c", config, "-P", os.path.join(folder, "ser2net.pid")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    api = f"http://127.0.0.1:{api_port}/api/v1"
    log = os.path.join(os.environ["WINEPREFIX"], "drive_c", "ProgramData", "dpx20remote", SERVICE_NAME, "dpx20ctl.log")
    try:
        assert wait_until(lambda: f":{port:04X} 00000000:0000 0A" in open("/proc/net/tcp").read(), 10)
        installed = wine(CTL, "service", "install", SERVICE_NAME, "--", "-p", f"socket://127.0.0.1:{port}",
                         "--api", f"127.0.0.1:{api_port}")
        assert installed.returncode == 0, installed.stdout + installed.stderr
        print("  " + installed.stdout.strip().replace("\n", "\n  "))
        assert service_state() == "RUNNING"
        # The API answers while it runs, and a change reaches the box.
        assert wait_until(lambda: logged_in(api), 30)
        beep = 1 - sim.state()["sys_beep"]
        status, answer = webpage.api(api + "/settings", "PUT", {"sys_beep": beep})
        assert status == 200, answer
        assert sim.state()["sys_beep"] == beep and sim.state()["logged_in"] == 1
        serving = serve_processes(api_port)
        assert len(serving) == 1, serving

        # A stop logs the box off, as SIGTERM does, and ends serve's process.
        start = time.monotonic()
        wine("sc", "stop", SERVICE)
        assert wait_until(lambda: service_state() == "STOPPED", 30), service_state()
        print(f"  sc stop: STOPPED after {time.monotonic() - start:.1f} s")
        assert sim.state()["logged_in"] == 0
        assert sim.words()[-1] == "BCN00", sim.words()[-3:]  # the logoff
        assert wait_until(lambda: not serve_processes(api_port), 10)
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for said in ("control API at http://127.0.0.1:", "stop asked for", "exit code 0"):
            assert said in text, text

        # Started again by the manager; removed: logged off again, and the service is gone.
        wine("sc", "start", SERVICE)
        assert wait_until(lambda: service_state() == "RUNNING", 30)
        assert wait_until(lambda: sim.state()["logged_in"] == 1, 30)
        removed = wine(CTL, "service", "remove", SERVICE_NAME)
        assert removed.returncode == 0, removed.stdout + removed.stderr
        print("  " + removed.stdout.strip().replace("\n", "\n  "))
        assert sim.state()["logged_in"] == 0 and sim.words()[-1] == "BCN00"
        assert service_state() is None
        assert wait_until(lambda: not serve_processes(api_port), 10)
        again = wine(CTL, "service", "remove", SERVICE_NAME)
        assert again.returncode == 2 and "there is no service" in again.stderr, again.stderr
    finally:
        if service_state():
            wine(CTL, "service", "remove", SERVICE_NAME)
        webpage.end_process(ser2net, 5)
        sim.stop()


if __name__ == "__main__":
    if webpage.missing_tools():
        print("serve_test: missing " + ", ".join(webpage.missing_tools()))
        sys.exit(1)
    sys.exit(webpage.run_tests([test_https_and_wss_with_each_kind_of_key, test_without_the_openssl_backend_the_start_warns,
                                test_the_service_under_wines_service_manager], sys.argv[2:]))
