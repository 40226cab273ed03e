"""What the browser tests and the page's benchmark share: dpx20sim on a pseudo-terminal,
`dpx20ctl serve` or the panel serving the control API and its page, requests to the API, and
Debian's headless Chromium driven through chromedriver."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
TABLET_SIZES = [(768, 1024), (1024, 768)]


def build_dir():
    """The build directory: $DPX20_BUILD_DIR (ctest sets it), else ./build."""
    return os.environ.get("DPX20_BUILD_DIR", os.path.abspath("build"))


def missing_tools():
    """What is not installed for the browser tests, or an empty list."""
    missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not os.access(path, os.X_OK)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium")
    return missing


def wait_until(done, seconds=10.0, step=0.01):
    """Polls `done` until it returns something true or `seconds` passed; its last value."""
    end = time.monotonic() + seconds
    while True:
        value = done()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def run_tests(tests, names):
    """Runs each of `tests` (functions taking a fresh temporary folder) named in `names` (all
    when empty), reporting PASS or FAIL for each and going on after a failure; 1 if one failed."""
    names = names or [t.__name__ for t in tests]
    failed = 0
    for test in tests:
        if test.__name__ not in names:
            continue
        start = time.monotonic()
        with tempfile.TemporaryDirectory() as folder:
            try:
                test(folder)
                print(f"PASS {test.__name__} ({time.monotonic() - start:.1f} s)")
            except Exception as e:  # noqa: BLE001 - every failure is reported, then the next test runs
                failed += 1
                print(f"FAIL {test.__name__}: {e!r}")
    return 1 if failed else 0


def end_process(process, seconds):
    """Ends `process` with SIGTERM, or SIGKILL when it has not ended within `seconds`."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Sim:
    """dpx20sim on a pseudo-terminal reached through `<folder>/link-<name>`, with its frame log
    and its state file beside it."""

    def __init__(self, folder, name, options=()):
        self.link = os.path.join(folder, "link-" + name)
        self.log = self.link + ".log"
        self.state_file = self.link + ".state"
        self.process = subprocess.Popen(
            [os.path.join(build_dir(), "dpx20sim"), "--link", self.link, "--log", self.log,
             "--state", self.state_file, *options],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: os.path.exists(self.link), 5):
            raise RuntimeError("dpx20sim made no link " + self.link)

    def state(self):
        """The box's state (the simulator's dump), asked for now."""
        before = self._read().get("requests", -1)
        self.process.send_signal(signal.SIGUSR1)
        wait_until(lambda: self._read().get("requests", -1) > before, 3)
        return self._read()

    def _read(self):
        try:
            with open(self.state_file) as f:
                return {k.strip(): int(v) for k, v in (line.split("=") for line in f if "=" in line)}
        except (OSError, ValueError):
            return {}

    def words(self):
        """The command word of every frame the box received, in order."""
        words = []
        try:
            with open(self.log) as f:
                for line in f:
                    fields = line.rstrip("\n").split("\t")
                    if len(fields) >= 4 and fields[1] == "recv":
                        frame = bytes(int(h, 16) for h in fields[3].split())
                        words.append(frame[3:8].decode("ascii", "replace"))
        except OSError:
            pass
        return words

    def stop(self):
        end_process(self.process, 5)


class Server:
    """A program serving the control API and its page, started with `args`; `origin` is the
    page's address (http://127.0.0.1:PORT) once it listens."""

    def __init__(self, args, env=None, cwd=None, stream="stdout"):
        # Its standard error, unless that is where it says its address: warnings and what the
        # sanitizers report.
        self.errors = os.path.join(cwd or ".", os.path.basename(args[0]) + "-stderr.txt")
        with open(self.errors, "w") as errors:
            self.process = subprocess.Popen(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.PIPE if stream == "stdout" else subprocess.DEVNULL,
                                            stderr=subprocess.PIPE if stream == "stderr" else errors,
                                            text=True)
        out = self.process.stdout if stream == "stdout" else self.process.stderr
        self.url = None
        end = time.monotonic() + 30
        while time.monotonic() < end:
            line = out.readline()
            if not line:
                break
            m = re.search(r"control API at (\S+)", line)
            if m:
                self.url = m.group(1)
                break
        if not self.url:
            self.stop()
            raise RuntimeError("no control API from " + " ".join(args))
        # What it writes later is read and dropped, so that it never waits for a full pipe.
        self.output = out
        threading.Thread(target=lambda: [None for _ in out], daemon=True).start()
        self.url = self.url.replace("0.0.0.0", "127.0.0.1")
        self.origin = self.url[: self.url.index("/api/v1")]

    def stop(self):
        """Ends it (SIGTERM); its exit status and standard error."""
        end_process(self.process, 10)
        for pipe in (self.process.stdout, self.process.stderr):
            if pipe:
                pipe.close()
        with open(self.errors) as errors:
            return self.process.returncode, errors.read()


def serve(folder, boxes, listen="127.0.0.1:0", env=None, options=()):
    """`dpx20ctl serve` in `folder` with --box NAME=LINK for each of `boxes` ({name: Sim}) and
    `options`."""
    args = [os.path.join(build_dir(), "dpx20ctl"), "--api", listen, *options]
    for name, sim in boxes.items():
        args += ["--box", f"{name}={sim.link}"]
    return Server(args + ["serve"], env=env, cwd=folder)


def panel(folder, sim):
    """The panel, offscreen, serving the API with its COM1 at `sim`; its settings in `folder`,
    whose options file a virtual service makes first (a panel without one shows a notice)."""
    maker = Server([os.path.join(build_dir(), "dpx20ctl"), "--virtual", "-p", os.devnull, "--api", "127.0.0.1:0",
                    "serve"], cwd=folder)
    for beep in (1, 0):
        api(maker.url + "/settings", "PUT", {"sys_beep": beep})
    maker.stop()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", DPX20_COM1=sim.link, XDG_CONFIG_HOME=folder)
    return Server([os.path.join(build_dir(), "dpx20remote"), "--api", "127.0.0.1:0"], env=env, cwd=folder,
                  stream="stderr")


def api(url, method="GET", body=None, token=None):
    """One request to the API: (status, answer as JSON)."""
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(url, data=data, method=method)
    if data is not None:
        request.add_header("Content-Type", "application/json")
    if token:
        request.add_header("Authorization", "Bearer " + token)
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, json.loads(answer.read() or b"{}")
    except urllib.error.HTTPError as refused:
        return refused.code, json.loads(refused.read() or b"{}")


def certificate(folder):
    """A self-signed certificate for 127.0.0.1 and its key, made by openssl: (cert, key)."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "1", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
    return cert, key


def browser(width=768, height=1024, dark=False):
    """Headless Chromium whose page is width x height CSS pixels, in the dark scheme if asked,
    taking a self-signed certificate; the console's messages are kept for get_log("browser")."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-extensions", "--disable-background-networking",
                     f"--window-size={width},{height}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    options.accept_insecure_certs = True
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    resize(driver, width, height, dark)
    return driver


def resize(driver, width, height, dark=False):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                           {"features": [{"name": "prefers-color-scheme", "value": "dark" if dark else "light"}]})


def temporary_folder():
    return tempfile.mkdtemp(prefix="dpx20-web-")


def remove(folder):
    shutil.rmtree(folder, ignore_errors=True)


class Proxy:
    """A TCP relay from a port of its own to `target_port`, whose connections can be cut and
    whose port can be closed and opened again: a network drop between a browser and the
    server."""

    def __init__(self, target_port):
        import socket
        import threading

        self.socket_module, self.threading = socket, threading
        self.target_port = target_port
        self.pairs = []
        self.lock = threading.Lock()
        self.port = 0
        self.listener = None
        self.up()

    def up(self):
        listener = self.socket_module.socket()
        listener.setsockopt(self.socket_module.SOL_SOCKET, self.socket_module.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", self.port))
        listener.listen(64)
        self.port = listener.getsockname()[1]
        self.listener = listener
        self.threading.Thread(target=self._accept, args=(listener,), daemon=True).start()

    def down(self):
        """Closes the port and cuts every connection through it."""
        self.listener.shutdown(self.socket_module.SHUT_RDWR)  # ends the accept() under way
        self.listener.close()
        with self.lock:
            pairs, self.pairs = self.pairs, []
        for pair in pairs:
            for s in pair:
                try:
                    s.shutdown(self.socket_module.SHUT_RDWR)
                except OSError:
                    pass
                s.close()

    def _accept(self, listener):
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            server = self.socket_module.create_connection(("127.0.0.1", self.target_port))
            with self.lock:
                self.pairs.append((client, server))
            for a, b in ((client, server), (server, client)):
                self.threading.Thread(target=self._pump, args=(a, b), daemon=True).start()

    @staticmethod
    def _pump(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(2)
            except OSError:
                pass
