#!/usr/bin/env python3
"""Services meet on a real Mosquitto broker, started here on a free loopback port with a
configuration written here: three `dpx20ctl serve --mqtt` of two simulated boxes each and one
`dpx20ctl fleet`, whose page in Chromium shows a service killed with SIGKILL as offline and back
after its restart; a broker restart; and what a broker may bring a service that it must refuse:
garbage, wrong types, oversized payloads, unknown boxes, other services' commands, a refused
login, and the access list of the README, which lets a rack write only its own subtree."""

import getpass
import json
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
import webpage as wp  # noqa: E402

MOSQUITTO = "/usr/sbin/mosquitto"
PASSWD = "/usr/bin/mosquitto_passwd"
RR = "/usr/bin/mosquitto_rr"
PUB = "/usr/bin/mosquitto_pub"
SUB = "/usr/bin/mosquitto_sub"
SKIP = 77


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    """Debian's mosquitto on 127.0.0.1:`port` with `extra` configuration lines, without
    persistence: a restart forgets every retained message."""

    def __init__(self, folder, extra=()):
        self.port = free_port()
        self.conf = os.path.join(folder, "mosquitto.conf")
        self.log = os.path.join(folder, "mosquitto.log")
        with open(self.conf, "w") as f:
            # Run as root, mosquitto would become the user "mosquitto", who cannot read this folder.
            f.write(f"listener {self.port} 127.0.0.1\npersistence false\nset_tcp_nodelay true\nlog_dest stderr\n"
                    f"user {getpass.getuser()}\n")
            f.write("".join(line + "\n" for line in extra))
        self.process = None
        self.start()

    def start(self):
        with open(self.log, "a") as log:
            self.process = subprocess.Popen([MOSQUITTO, "-c", self.conf], stdout=log, stderr=log)
        if not wp.wait_until(self.listening, 10):
            raise RuntimeError("mosquitto does not listen on " + str(self.port))

    def listening(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), 0.2).close()
            return True
        except OSError:
            return False

    def stop(self):
        wp.end_process(self.process, 5)

    def url(self, user=""):
        return f"mqtt://{user + '@' if user else ''}127.0.0.1:{self.port}"

    def login(self, user):
        return ["-u", user, "-P", user + "-secret"] if user else []

    def ask(self, topic, payload, user="", response="dpx20/rack1/reply/test"):
        """A command with an MQTT 5 response topic: (status, answer) or None without one."""
        out = subprocess.run([RR, "-p", str(self.port), *self.login(user), "-V", "5", "-t", topic, "-e", response,
                              "-m", payload, "-W", "10", "-F", "%P\t%p"], capture_output=True, text=True)
        if out.returncode != 0 or "\t" not in out.stdout:
            return None
        props, body = out.stdout.rstrip("\n").split("\t", 1)
        status = int(props.split("status:", 1)[1].split()[0]) if "status:" in props else 0
        return status, json.loads(body)

    def publish(self, topic, payload, user="", version="311", retain=False):
        subprocess.run([PUB, "-p", str(self.port), *self.login(user), "-V", version, "-t", topic, "-m", payload,
                        *(["-r"] if retain else [])], check=True, capture_output=True)

    def listen(self, topic, count, user="", seconds=10):
        """Starts a subscriber for `count` messages of `topic`; its output once done."""
        process = subprocess.Popen([SUB, "-p", str(self.port), *self.login(user), "-V", "311", "-t", topic, "-v",
                                    "-C", str(count), "-W", str(seconds)], stdout=subprocess.PIPE, text=True)
        time.sleep(0.2)  # subscribed
        return process

    def retained(self, topic, user=""):
        """The retained messages of `topic` (a filter) as {topic: payload}."""
        out = subprocess.run([SUB, "-p", str(self.port), *self.login(user), "-t", topic, "-v", "--retained-only",
                              "-W", "1"], capture_output=True, text=True)
        return dict(line.split(" ", 1) for line in out.stdout.splitlines() if " " in line)


def service(folder, name, sims, broker, user=""):
    """`dpx20ctl serve` named `name` on the broker, with --box NAME=LINK for each of `sims`."""
    cwd = os.path.join(folder, name)
    os.makedirs(cwd, exist_ok=True)
    env = dict(os.environ, DPX20_MQTT_PASSWORD=user + "-secret") if user else None
    return wp.serve(cwd, sims, env=env, options=["--mqtt", broker.url(user), "--mqtt-name", name])


def fleet(folder, broker):
    args = [os.path.join(wp.build_dir(), "dpx20ctl"), "--api", "127.0.0.1:0", "--mqtt", broker.url(), "fleet"]
    return wp.Server(args, cwd=folder)


def boxes(url):
    status, answer = wp.api(url + "/boxes")
    return {b["name"]: b for b in answer.get("boxes", [])} if status == 200 else {}


def stopped_cleanly(server):
    status, errors = server.stop()
    assert status == 0, f"ended with {status}: {errors}"


def test_three_services_and_a_fleet(folder):
    broker = Broker(folder, ["allow_anonymous true"])
    sims, services = {}, {}
    view = page = None
    try:
        for rack in ("rack1", "rack2", "rack3"):
            sims[rack] = {box: wp.Sim(folder, f"{rack}-{box}") for box in ("cam1", "cam2")}
            services[rack] = service(folder, rack, sims[rack], broker)
        view = fleet(os.path.join(folder), broker)
        names = {f"{rack}/{box}" for rack in sims for box in sims[rack]}
        assert wp.wait_until(lambda: {n for n, b in boxes(view.url).items() if b["connected"]} == names, 15), \
            boxes(view.url)

        # A PUT through the fleet reaches its box and no other.
        before = {(r, b): len(s.words()) for r in sims for b, s in sims[r].items()}
        status, answer = wp.api(view.url + "/boxes/rack2/cam2/settings", "PUT", {"sys_beep": 1})
        assert status == 200 and answer["ok"], answer
        after = {(r, b): len(s.words()) for r in sims for b, s in sims[r].items()}
        changed = [key for key in after if after[key] != before[key]]
        assert changed == [("rack2", "cam2")], changed
        assert sims["rack2"]["cam2"].state()["sys_beep"] == 1

        # A rule's refusal comes back as the service gave it, and as the HTTP door gives it.
        assert wp.api(view.url + "/boxes/rack3/cam1/settings", "PUT", {"sys_2D3D": 0, "sys_input_select": 0})[0] == 200
        status, answer = wp.api(view.url + "/boxes/rack3/cam1/settings", "PUT", {"sys_2D3D": 1})
        direct = wp.api(services["rack3"].url + "/boxes/cam1/settings", "PUT", {"sys_2D3D": 1})
        assert status == 409 and direct[0] == 409, (status, direct)
        assert answer["error"] == direct[1]["error"] and "Cannot Change!" in answer["error"], answer

        # The page: a service killed shows its boxes offline, and back after its restart.
        page = wp.browser()
        page.get(view.origin + "/")
        shown = "return document.querySelector(`[data-box='${arguments[0]}']`)?.dataset.connected ?? null"
        assert wp.wait_until(lambda: all(page.execute_script(shown, n) == "true" for n in names), 10), \
            [page.execute_script(shown, n) for n in sorted(names)]
        services["rack1"].process.kill()
        services["rack1"].process.wait()
        started = time.monotonic()
        assert wp.wait_until(lambda: page.execute_script(shown, "rack1/cam1") == "false", 10)
        print(f"rack1 shown offline {time.monotonic() - started:.2f} s after SIGKILL")
        assert page.execute_script(shown, "rack2/cam1") == "true"
        assert wp.api(view.url + "/boxes/rack1/cam1/settings", "PUT", {"sys_beep": 1})[0] == 503
        services["rack1"] = service(folder, "rack1", sims["rack1"], broker)
        assert wp.wait_until(lambda: page.execute_script(shown, "rack1/cam1") == "true", 15)
        assert wp.api(view.url + "/boxes/rack1/cam1/settings", "PUT", {"sys_beep": 1})[0] == 200
        # A change made at the service's own door shows on the fleet's page.
        assert wp.api(services["rack1"].url + "/boxes/cam2/settings", "PUT", {"sys_bk_light": 4})[0] == 200
        value = "return document.querySelector(`[data-box='rack1/cam2'] [data-setting='sys_bk_light']`)?.dataset.value"
        assert wp.wait_until(lambda: page.execute_script(value) == "4", 10), page.execute_script(value)

        # The broker restarts and forgets everything: the services publish their state again.
        broker.stop()
        assert wp.wait_until(lambda: page.execute_script(shown, "rack2/cam2") == "false", 10)
        broker.start()
        assert wp.wait_until(lambda: all(page.execute_script(shown, n) == "true" for n in names), 40), \
            [page.execute_script(shown, n) for n in sorted(names)]
        assert json.loads(broker.retained("dpx20/rack3/status")["dpx20/rack3/status"])["online"] is True
        assert wp.api(view.url + "/boxes/rack3/cam2/settings", "PUT", {"sys_beep": 0})[0] == 200
        severe = [e for e in page.get_log("browser") if e["level"] == "SEVERE" and "status of 503" not in e["message"]]
        assert not severe, severe
    finally:
        if page:
            page.quit()
        for server in [view, *services.values()]:
            if server:
                stopped_cleanly(server)
        for rack in sims.values():
            for sim in rack.values():
                sim.stop()
        broker.stop()


def test_bad_input_and_the_access_list(folder):
    # The README's configuration: every rack PC writes only its own subtree, a monitor reads all.
    passwords = os.path.join(folder, "passwords")
    for user in ("rack1", "rack2", "control", "monitor"):
        subprocess.run([PASSWD, *(["-c"] if user == "rack1" else []), "-b", passwords, user, user + "-secret"], check=True)
    acl = os.path.join(folder, "acl")
    with open(acl, "w") as f:
        f.write("pattern readwrite dpx20/%u/#\n"
                "user control\ntopic read dpx20/#\ntopic write dpx20/+/cmd\ntopic write dpx20/+/+/cmd/#\n"
                "user monitor\ntopic read dpx20/#\n")
    broker = Broker(folder, ["allow_anonymous false", f"password_file {passwords}", f"acl_file {acl}"])
    sims = {"cam1": wp.Sim(folder, "cam1")}
    rack1 = None
    intruder = None
    try:
        rack1 = service(folder, "rack1", sims, broker, user="rack1")
        assert wp.wait_until(lambda: "dpx20/rack1/cam1/state" in broker.retained("dpx20/rack1/#", "monitor"), 10)
        frames = len(sims["cam1"].words())
        bad = [
            ("dpx20/rack1/cam1/cmd/set", "{\"sys_beep\":", 400),
            ("dpx20/rack1/cam1/cmd/set", "[1, 2]", 400),
            ("dpx20/rack1/cam1/cmd/set", '{"sys_beep":"on"}', 400),
            ("dpx20/rack1/cam1/cmd/set", '{"sys_beep":99}', 422),
            ("dpx20/rack1/cam1/cmd/set/sys_beep", "true", 400),
            ("dpx20/rack1/cam1/cmd/set", '{"sys_beep":1,"pad":"' + "x" * 70000 + '"}', 413),
            ("dpx20/rack1/cam9/cmd/set", '{"sys_beep":1}', 404),
            ("dpx20/rack1/cam1/cmd/nothing", "", 404),
            ("dpx20/rack1/cmd", '{"method":"PUT"}', 400),
        ]
        for topic, payload, status in bad:
            answer = broker.ask(topic, payload, user="control")
            assert answer and answer[0] == status and answer[1]["ok"] is False and answer[1]["error"], (topic, answer)
        assert len(sims["cam1"].words()) == frames, "a refused command sent a frame"

        # An MQTT 3.1.1 client gets its answer on the result topic.
        results = broker.listen("dpx20/rack1/result", 1, user="control")
        broker.publish("dpx20/rack1/cmd", '{"id":"q1","method":"PUT","path":"/boxes/cam1/settings","body":{"sys_beep":1}}',
                       user="control")
        out, _ = results.communicate(15)
        result = json.loads(out.split(" ", 1)[1])
        assert result["id"] == "q1" and result["status"] == 200 and result["answer"]["ok"], result
        assert sims["cam1"].state()["sys_beep"] == 1

        # Commands the service must not take: from the monitor (the broker drops them) or for
        # another service; then one it takes, to know the others had their time.
        frames = len(sims["cam1"].words())
        broker.publish("dpx20/rack1/cam1/cmd/set", '{"sys_beep":0}', user="monitor")
        broker.publish("dpx20/rack2/cam1/cmd/set", '{"sys_beep":0}', user="control")
        answer = broker.ask("dpx20/rack1/cam1/cmd/set/sys_rotate", "0", user="control")
        assert answer and answer[0] == 200, answer
        assert sims["cam1"].state()["sys_beep"] == 1
        assert [w for w in sims["cam1"].words()[frames:] if w != "SDIRT"] == [], sims["cam1"].words()[frames:]

        # A login the broker refuses: the service serves HTTP all the same and keeps trying.
        sims["cam2"] = wp.Sim(folder, "cam2")
        intruder = service(folder, "rack2", {"cam2": sims["cam2"]}, broker, user="")
        assert wp.api(intruder.url + "/boxes")[0] == 200
        time.sleep(1.5)
        status, errors = intruder.stop()
        intruder = None
        assert status == 0 and "refused the connection" in errors, errors

        # A clean end says the service is offline on the broker itself, before its will would.
        stopped_cleanly(rack1)
        rack1 = None
        presence = broker.retained("dpx20/rack1/status", "monitor")["dpx20/rack1/status"]
        assert json.loads(presence)["online"] is False, presence
    finally:
        for server in (intruder, rack1):
            if server:
                server.stop()
        for sim in sims.values():
            sim.stop()
        broker.stop()


def test_tls(folder):
    """mqtts:// with --mqtt-ca: the service joins a broker that serves TLS with a certificate
    that CA signs; without the CA it does not, and says why."""
    cert, key = os.path.join(folder, "broker.pem"), os.path.join(folder, "broker.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    broker = Broker(folder, ["allow_anonymous true", f"certfile {cert}", f"keyfile {key}"])
    sims = {"cam1": wp.Sim(folder, "cam1"), "cam2": wp.Sim(folder, "cam2")}
    trusted = untrusted = None
    try:
        url = f"mqtts://127.0.0.1:{broker.port}"
        cwd = os.path.join(folder, "rack1")
        os.makedirs(cwd)
        trusted = wp.serve(cwd, {"cam1": sims["cam1"]}, options=["--mqtt", url, "--mqtt-ca", cert, "--mqtt-name", "rack1"])
        out = lambda: subprocess.run([SUB, "-h", "127.0.0.1", "-p", str(broker.port), "--cafile", cert, "-t", "dpx20/rack1/cam1/connection",
                                      "-C", "1", "-W", "2"], capture_output=True, text=True).stdout  # noqa: E731
        assert wp.wait_until(lambda: out().strip() == "connected", 10), out()
        cwd = os.path.join(folder, "rack2")
        os.makedirs(cwd)
        untrusted = wp.serve(cwd, {"cam2": sims["cam2"]}, options=["--mqtt", url, "--mqtt-name", "rack2"])
        time.sleep(1.5)
        status, errors = untrusted.stop()
        untrusted = None
        assert status == 0 and "MQTT broker 127.0.0.1" in errors, errors
    finally:
        for server in (trusted, untrusted):
            if server:
                server.stop()
        for sim in sims.values():
            sim.stop()
        broker.stop()


TESTS = [test_three_services_and_a_fleet, test_bad_input_and_the_access_list, test_tls]


def main():
    missing = [tool for tool in (MOSQUITTO, PASSWD, RR, PUB, SUB) if not os.access(tool, os.X_OK)]
    if missing:
        print("SKIP: not installed: " + ", ".join(missing))
        return SKIP
    names = sys.argv[1:] or [t.__name__ for t in TESTS]
    if "test_three_services_and_a_fleet" in names and wp.missing_tools():
        print("SKIP: not installed: " + ", ".join(wp.missing_tools()))
        return SKIP
    return wp.run_tests(TESTS, names)


if __name__ == "__main__":
    sys.exit(main())
