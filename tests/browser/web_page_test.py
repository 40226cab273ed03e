"""The web page of the control API in Debian's headless Chromium, against `dpx20ctl serve` with
two boxes of dpx20sim and against the panel: what an operator at the rack sees and does, what
reaches the box, refusals, the disconnected state, a dropped network, the token, and the page
at both tablet sizes in both themes (screenshots in <build>/tests/browser/screens).

Run by ctest (label "browser"); by hand: /usr/bin/python3 tests/browser/web_page_test.py
with DPX20_BUILD_DIR set to the build directory. Exits 77 (skipped) when Chromium, chromedriver
or Selenium is not installed (scripts/install-deps.sh installs them)."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import webpage  # noqa: E402
from webpage import wait_until  # noqa: E402

# Every target an operator touches, at both tablet sizes; the interactive elements and how
# each is named for a screen reader.
CHECK_LAYOUT = """
const problems = [];
for (const e of document.querySelectorAll("button, input, select, a[href]")) {
  // A check box is touched through its label.
  const r = (e.type === "checkbox" && e.closest("label") || e).getBoundingClientRect();
  if (r.width === 0 && r.height === 0) continue;
  const name = e.getAttribute("aria-label") || e.textContent.trim() || (e.labels && e.labels.length && e.labels[0].textContent.trim());
  if (r.width < 44 || r.height < 44) problems.push(`${e.outerHTML.slice(0, 80)} is ${r.width}x${r.height}`);
  if (!name) problems.push(`${e.outerHTML.slice(0, 80)} has no name`);
}
if (document.documentElement.scrollWidth > innerWidth) problems.push(`page ${document.documentElement.scrollWidth} px wide`);
return problems;
"""


def normal(text):
    return re.sub(r"\s+", " ", text or "").strip()


class PageTest(unittest.TestCase):
    driver = None

    @classmethod
    def start_browser(cls):
        cls.driver = webpage.browser(*webpage.TABLET_SIZES[0])

    @classmethod
    def tearDownClass(cls):
        if cls.driver:
            cls.driver.quit()

    def open(self, origin):
        self.driver.get_log("browser")  # what came before
        self.driver.get("about:blank")
        self.driver.get(origin + "/")
        self.assertTrue(wait_until(lambda: self.js("return document.body.dataset.shown === 'true'")), "no state shown")

    def settled(self):
        """Waits until no request of the page is under way: the service refuses a second change
        of a box as busy, and the events of a change come before its answer."""
        self.assertTrue(wait_until(lambda: not self.js("return document.querySelector('[aria-busy]') !== null")))

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def find(self, selector):
        """The element; one of a box's section (`[data-box="NAME"] ...`) after opening that section,
        as a tap on its tile does, when the page shows the overview of several boxes."""
        from selenium.webdriver.common.by import By
        m = re.match(r'\[data-box="([^"]+)"\]', selector)
        if m:
            self.js("const s = document.querySelector(`[data-box=\"${arguments[0]}\"]`);"
                    "if (s && s.hidden) location.hash = s.id;", m.group(1))
            wait_until(lambda: not self.js("return document.querySelector(arguments[0]).hidden",
                                           f'[data-box="{m.group(1)}"]'), 2)
        element = self.driver.find_element(By.CSS_SELECTOR, selector)
        # In the middle of the screen: never under the sticky header, as an operator scrolls.
        self.js("arguments[0].scrollIntoView({block: 'center'})", element)
        return element

    def value(self, box, key):
        return self.js("const e = document.querySelector(arguments[0]); return e ? e.dataset.value : null;",
                       f'[data-box="{box}"] [data-setting="{key}"]')

    def wait_value(self, box, key, value, seconds=10.0):
        shown = wait_until(lambda: self.value(box, key) == str(value), seconds)
        refusal = self.js("const e = document.querySelector(arguments[0]); return e ? e.textContent : null",
                          f'[data-box="{box}"] [data-setting="{key}"] .refusal')
        self.assertTrue(shown, f"{box} {key}: {self.value(box, key)}, not {value}; refusal: {refusal}")

    def connected(self, box):
        return self.js("return document.querySelector(arguments[0]).dataset.connected", f'[data-box="{box}"]')

    def refusal(self, box, key):
        return normal(self.find(f'[data-box="{box}"] [data-setting="{key}"] .refusal').text)

    def console_errors(self, refusals=False):
        """The console's errors; with `refusals`, those of the 404 and 409 answers the test provoked aside
        (Chromium notes every answer that is not 2xx)."""
        return [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE" and not (
            refusals and e["source"] == "network" and re.search(r"status of (404|409) ", e["message"]))]


class ServiceTest(PageTest):
    """dpx20ctl serve with box cam1, and box cam2 that refuses the back light (a NAK)."""

    @classmethod
    def setUpClass(cls):
        cls.folder = webpage.temporary_folder()
        cls.sims = {"cam1": webpage.Sim(cls.folder, "cam1"), "cam2": webpage.Sim(cls.folder, "cam2", ["--nak", "BACKL=1"])}
        cls.server = webpage.serve(cls.folder, cls.sims)
        cls.start_browser()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        status, errors = cls.server.stop()
        for sim in cls.sims.values():
            sim.stop()
        webpage.remove(cls.folder)
        # SIGTERM ends the service cleanly, with nothing from the sanitizers.
        assert status == 0, f"dpx20ctl serve ended with {status}: {errors}"

    def setUp(self):
        webpage.resize(self.driver, *webpage.TABLET_SIZES[0])
        self.open(self.server.origin)
        for box in self.sims:
            # After a failed test; asked of the service, not the page: a CONNECT of a connected
            # box would synchronise it again, and the box would be busy for the next test.
            if not webpage.api(f"{self.server.url}/boxes/{box}/state")[1]["connected"]:
                webpage.api(f"{self.server.url}/boxes/{box}/connect", "POST")
            self.assertTrue(wait_until(lambda: self.connected(box) == "true"), box)
        self.settled()

    def put(self, box, settings):
        return webpage.api(f"{self.server.url}/boxes/{box}/settings", "PUT", settings)

    def test_loads_clean_and_shows_api_changes_within_a_second(self):
        low, high = -5, 7  # two back light levels
        for level in (high, low):
            self.assertEqual(self.put("cam1", {"sys_bk_light": level})[0], 200)
            self.wait_value("cam1", "sys_bk_light", level, seconds=1.0)
        self.assertEqual(self.find('[data-box="cam1"] [data-setting="sys_bk_light"] input').get_attribute("value"), str(low))
        self.assertEqual(self.console_errors(), [])
        # Nothing from another host; the page's answers forbid inline script and framing.
        resources = self.js("return performance.getEntriesByType('resource').map(e => e.name)")
        self.assertTrue(resources)
        for name in resources:
            self.assertTrue(name.startswith(self.server.origin), name)
        import urllib.request
        with urllib.request.urlopen(self.server.origin + "/") as page:
            policy = page.headers["Content-Security-Policy"]
            self.assertIn("default-src 'self'", policy)
            self.assertIn("frame-ancestors 'none'", policy)
            self.assertNotIn("unsafe-inline", policy)
            self.assertEqual(page.headers["X-Content-Type-Options"], "nosniff")
            self.assertTrue(page.headers["Content-Type"].startswith("text/html"))
        # Another origin's request is still refused.
        request = urllib.request.Request(self.server.url + "/boxes", headers={"Origin": "http://elsewhere.example"})
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(request)
        self.assertEqual(refused.exception.code, 403)

    def test_a_click_a_slider_and_a_stepper_reach_the_box(self):
        from selenium.webdriver.common.keys import Keys
        sim = self.sims["cam1"]
        before = len(sim.words())
        beep = 1 - int(self.value("cam1", "sys_beep"))
        self.find(f'[data-box="cam1"] [data-setting="sys_beep"] [data-choice="{beep}"]').click()
        self.wait_value("cam1", "sys_beep", beep)
        self.assertEqual(sim.state()["sys_beep"], beep)
        self.assertGreater(len(sim.words()), before)  # in the box's frame log

        # The adjust values reach the box while its 2D-3D adjust view is on.
        self.assertEqual(self.put("cam1", {"sys_2D3D": 1, "sys_adj3d_mode": 4})[0], 200)
        before = len(sim.words())
        parallax = int(self.value("cam1", "sys_adj3d_para"))
        target = parallax + 1 if parallax < 60 else parallax - 1
        slider = self.find('[data-box="cam1"] [data-setting="sys_adj3d_para"] input[type="range"]')
        slider.send_keys(Keys.ARROW_RIGHT if target > parallax else Keys.ARROW_LEFT)
        self.wait_value("cam1", "sys_adj3d_para", target)
        self.assertEqual(sim.state()["sys_adj3d_para"], target)
        self.assertGreater(len(sim.words()), before)

        intensity = int(self.value("cam1", "sys_adj3d_inte"))
        step = -1 if intensity > 0 else 1
        self.find(f'[data-box="cam1"] [data-setting="sys_adj3d_inte"] [data-step="{step}"]').click()
        self.wait_value("cam1", "sys_adj3d_inte", intensity + step)
        self.assertEqual(sim.state()["sys_adj3d_inte"], intensity + step)
        self.assertEqual(self.refusal("cam1", "sys_adj3d_inte"), "")

    def test_refusals_show_their_text_and_the_value_in_force_comes_back(self):
        from selenium.webdriver.common.keys import Keys
        # The rule: no 2D-3D at the SDI-LR input. Its text is what the API answers.
        self.assertEqual(self.put("cam1", {"sys_2D3D": 0, "sys_input_select": 0})[0], 200)
        self.wait_value("cam1", "sys_input_select", 0)
        status, answer = self.put("cam1", {"sys_2D3D": 1})
        self.assertEqual(status, 409)
        frames = len(self.sims["cam1"].words())
        self.find('[data-box="cam1"] [data-setting="sys_2D3D"] [data-choice="1"]').click()
        self.assertTrue(wait_until(lambda: self.refusal("cam1", "sys_2D3D")))
        self.assertEqual(self.refusal("cam1", "sys_2D3D"), normal(answer["operator_text"]))
        self.assertEqual(self.value("cam1", "sys_2D3D"), "0")
        self.assertEqual(self.find('[data-box="cam1"] [data-setting="sys_2D3D"] [aria-pressed="true"]').get_attribute("data-choice"), "0")
        self.assertEqual(len(self.sims["cam1"].words()), frames)  # nothing sent
        self.assertEqual(self.put("cam1", {"sys_input_select": 3})[0], 200)

        # The box's NAK: the slider goes back to the level in force.
        level = int(self.value("cam2", "sys_bk_light"))
        wanted = level + 1 if level < 30 else level - 1
        status, answer = self.put("cam2", {"sys_bk_light": wanted})
        self.assertEqual(status, 409)
        slider = self.find('[data-box="cam2"] [data-setting="sys_bk_light"] input[type="range"]')
        slider.send_keys(Keys.ARROW_RIGHT if wanted > level else Keys.ARROW_LEFT)
        self.assertTrue(wait_until(lambda: self.refusal("cam2", "sys_bk_light")))
        self.assertEqual(self.refusal("cam2", "sys_bk_light"), normal(answer["operator_text"]))
        self.assertEqual(slider.get_attribute("value"), str(level))
        self.assertEqual(self.value("cam2", "sys_bk_light"), str(level))
        self.assertEqual(self.console_errors(refusals=True), [])

    def test_a_disconnected_box_disables_its_controls_until_connect(self):
        controls = '[data-box="cam2"] [data-setting] button, [data-box="cam2"] [data-setting] input, [data-box="cam2"] [data-action]'
        enabled = f'return [...document.querySelectorAll(arguments[0])].filter(e => !e.disabled).map(e => e.dataset.action || e.closest("[data-setting]").dataset.setting)'
        self.assertEqual(webpage.api(f"{self.server.url}/boxes/cam2/disconnect", "POST")[0], 200)
        self.assertTrue(wait_until(lambda: self.connected("cam2") == "false"))
        self.assertEqual(self.js(enabled, controls), ["connect"])
        self.assertEqual(self.connected("cam1"), "true")  # the other box goes on
        self.find('[data-box="cam2"] [data-action="connect"]').click()
        self.assertTrue(wait_until(lambda: self.connected("cam2") == "true"))
        self.assertGreater(len(self.js(enabled, controls)), 1)

        # The box's device vanishes: the section says why; CONNECT once it is back.
        self.sims["cam2"].stop()
        self.assertTrue(wait_until(lambda: self.connected("cam2") == "false"))
        self.assertTrue(wait_until(lambda: normal(self.find('[data-box="cam2"] .cause').text)))
        self.assertEqual(self.js(enabled, controls), ["connect"])
        self.sims["cam2"] = webpage.Sim(self.folder, "cam2", ["--nak", "BACKL=1"])
        self.find('[data-box="cam2"] [data-action="connect"]').click()
        self.assertTrue(wait_until(lambda: self.connected("cam2") == "true"))
        self.assertEqual(normal(self.find('[data-box="cam2"] .cause').text), "")

    def test_the_events_come_back_after_a_network_drop_without_a_reload(self):
        proxy = webpage.Proxy(int(self.server.origin.rsplit(":", 1)[1]))
        origin = f"http://127.0.0.1:{proxy.port}"
        self.open(origin)
        self.js("window.loadedOnce = true")
        proxy.down()
        self.assertTrue(wait_until(lambda: self.js("return document.body.dataset.live") == "false"))
        self.assertTrue(self.find('[data-box="cam1"] [data-action="connect"]').get_attribute("disabled"))
        proxy.up()
        self.assertTrue(wait_until(lambda: self.js("return document.body.dataset.live") == "true"))
        self.assertTrue(self.js("return window.loadedOnce === true"))  # no reload
        level = 3 if self.value("cam1", "sys_bk_light") != "3" else 4
        self.assertEqual(self.put("cam1", {"sys_bk_light": level})[0], 200)
        self.wait_value("cam1", "sys_bk_light", level, seconds=1.0)
        proxy.down()

    def test_tablet_sizes_keyboard_and_themes(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        screens = os.path.join(webpage.build_dir(), "tests", "browser", "screens")
        os.makedirs(screens, exist_ok=True)
        for width, height in webpage.TABLET_SIZES:
            for dark in (False, True):
                webpage.resize(self.driver, width, height, dark)
                self.assertEqual(self.js("return [innerWidth, innerHeight]"), [width, height])
                self.assertEqual(self.js(CHECK_LAYOUT), [], f"{width}x{height}")
                background = self.js("return getComputedStyle(document.body).backgroundColor")
                channels = [int(c) for c in re.findall(r"\d+", background)[:3]]
                self.assertEqual(sum(channels) < 3 * 64, dark, background)
                name = f"page-{width}x{height}-{'dark' if dark else 'light'}.png"
                self.assertTrue(self.driver.save_screenshot(os.path.join(screens, name)))
        # Every control is reached with Tab, and the focus shows.
        self.js("window.reached = new Set(); document.addEventListener('focusin', e => window.reached.add(e.target));"
                "document.activeElement.blur()")
        total = self.js("return [...document.querySelectorAll('button, input, a[href]')].filter(e => !e.disabled && e.offsetParent).length")
        ActionChains(self.driver).send_keys(Keys.TAB * total).perform()
        self.assertEqual(self.js("return window.reached.size"), total)
        self.assertTrue(self.js("return window.reached.has(document.activeElement)"))  # the last one
        outline = self.js("const s = getComputedStyle(document.activeElement); return [s.outlineStyle, s.outlineWidth]")
        self.assertNotEqual(outline[0], "none")
        self.assertGreaterEqual(float(outline[1].rstrip("px")), 2)


class PanelTest(PageTest):
    """The panel (offscreen) serving its one box: the page connects it and switches 2D-3D on."""

    @classmethod
    def setUpClass(cls):
        cls.folder = webpage.temporary_folder()
        cls.sim = webpage.Sim(cls.folder, "com1")
        cls.server = webpage.panel(cls.folder, cls.sim)
        cls.start_browser()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.server.stop()
        cls.sim.stop()
        webpage.remove(cls.folder)

    def test_the_page_connects_the_panel_and_drives_the_box(self):
        self.open(self.server.origin)
        self.assertEqual(self.connected("panel"), "false")
        self.assertTrue(self.find('[data-box="panel"] [data-setting="sys_2D3D"] button').get_attribute("disabled"))
        self.find('[data-box="panel"] [data-action="connect"]').click()
        self.assertTrue(wait_until(lambda: self.connected("panel") == "true", 30))
        self.assertEqual(self.sim.state()["logged_in"], 1)
        if self.value("panel", "sys_input_select") == "0":
            self.find('[data-box="panel"] [data-setting="sys_input_select"] [data-choice="3"]').click()
            self.wait_value("panel", "sys_input_select", 3)
        before = len(self.sim.words())
        on = 1 - int(self.value("panel", "sys_2D3D"))
        self.find(f'[data-box="panel"] [data-setting="sys_2D3D"] [data-choice="{on}"]').click()
        self.wait_value("panel", "sys_2D3D", on)
        self.assertEqual(self.sim.state()["sys_2D3D"], on)
        self.assertGreater(len(self.sim.words()), before)
        self.assertEqual(self.console_errors(), [])


class TokenTest(PageTest):
    """A service beyond loopback over HTTPS: the page asks for the token once and keeps it in the
    tab; its requests and its WebSocket (WSS) carry it."""

    @classmethod
    def setUpClass(cls):
        cls.folder = webpage.temporary_folder()
        cls.sim = webpage.Sim(cls.folder, "a")
        env = dict(os.environ, XDG_CONFIG_HOME=cls.folder)
        cert, key = webpage.certificate(cls.folder)
        cls.server = webpage.serve(cls.folder, {"a": cls.sim}, listen="0.0.0.0:0", env=env,
                                   options=["--api-cert", cert, "--api-key", key])
        assert cls.server.origin.startswith("https://"), cls.server.origin
        with open(os.path.join(cls.folder, "dpx20remote", "api-token")) as f:
            cls.token = f.read().strip()
        cls.start_browser()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        status, errors = cls.server.stop()
        cls.sim.stop()
        webpage.remove(cls.folder)
        assert status == 0, f"dpx20ctl serve ended with {status}: {errors}"

    def enter(self, token):
        field = self.find("#token-input")
        field.clear()
        field.send_keys(token)
        self.find('#token button[type="submit"]').click()

    def test_the_token_is_asked_once_and_kept_in_the_tab_only(self):
        self.driver.get(self.server.origin + "/")
        self.assertTrue(wait_until(lambda: self.find("#token").is_displayed()))
        self.enter("0" * len(self.token))
        self.assertTrue(wait_until(lambda: self.find("#token").is_displayed() and self.find("#token-error").text))
        self.enter(self.token)
        self.assertTrue(wait_until(lambda: self.js("return document.body.dataset.live === 'true'")))
        self.assertFalse(self.find("#token").is_displayed())
        self.assertEqual(self.js("return sessionStorage.getItem('dpx20remote.token')"), self.token)
        self.assertEqual(self.js("return document.cookie + localStorage.length"), "0")
        self.assertNotIn(self.token, self.driver.current_url)
        # A reload in the same tab asks no more; a change goes through with the token.
        self.open(self.server.origin)
        self.assertFalse(self.find("#token").is_displayed())
        beep = 1 - int(self.value("a", "sys_beep"))
        self.find(f'[data-box="a"] [data-setting="sys_beep"] [data-choice="{beep}"]').click()
        self.wait_value("a", "sys_beep", beep)
        self.assertEqual(self.sim.state()["sys_beep"], beep)
        self.assertEqual(self.console_errors(), [])


# The panel's radio buttons: (layout function, group, caption, x, y) for every radio of the
# layouts in resources/, whose screen order (top to bottom, left to right) the page keeps.
def panel_radios():
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
    radios = []
    for name in sorted(os.listdir(source)):
        if not name.endswith("Layouts.cpp"):
            continue
        with open(os.path.join(source, name)) as f:
            text = f.read()
        layout = None
        for line in text.splitlines():
            m = re.search(r"const Layout& (\w+)\(\)", line)
            if m:
                layout = m.group(1)
            m = re.search(r'kRadio, "([^"]*)", (\d+), (\d+), \d+, \d+, \w+, (\d+)', line)
            if m:
                radios.append((layout, int(m.group(4)), m.group(1), int(m.group(2)), int(m.group(3))))
    return radios


class RackTest(PageTest):
    """dpx20ctl serve with eight boxes, two of them with a label and location in their folder's
    box.ini (one name and label in UTF-8): the overview, group actions, a box that falls silent,
    confirmations, operator texts, the change log; screenshots of the overview at both tablet
    sizes in both themes."""

    NAMES = ["cam1", "cam2", "cam3", "cam4", "cam5", "cam6", "cam7", "kran-ü"]

    @classmethod
    def setUpClass(cls):
        cls.folder = webpage.temporary_folder()
        cls.sims = {name: webpage.Sim(cls.folder, name) for name in cls.NAMES}
        for name, text in (("cam1", "label = Caméra 1 – gauche\nlocation = Rack A, slot 1\n"),
                           ("kran-ü", "# the crane\nlabel = Kran\nlocation = Bühne\n")):
            os.makedirs(os.path.join(cls.folder, name), exist_ok=True)
            with open(os.path.join(cls.folder, name, "box.ini"), "w", encoding="utf-8") as f:
                f.write(text)
        cls.server = webpage.serve(cls.folder, cls.sims)
        cls.start_browser()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        status, errors = cls.server.stop()
        for sim in cls.sims.values():
            sim.stop()
        webpage.remove(cls.folder)
        assert status == 0, f"dpx20ctl serve ended with {status}: {errors}"

    def setUp(self):
        webpage.resize(self.driver, 1024, 768)
        self.open(self.server.origin)
        from urllib.parse import quote
        for box in self.NAMES:
            path = f"{self.server.url}/boxes/{quote(box)}"  # a name in UTF-8 goes percent-encoded
            if webpage.api(path + "/state")[1]["connection"] != "connected":
                webpage.api(path + "/connect", "POST")  # after a failed test
            self.assertTrue(wait_until(lambda: self.tile_state(box) == "connected"), box)
        self.settled()

    def tile(self, box):
        return self.find(f'[data-tile="{box}"]')

    def tile_state(self, box):
        return self.js("const t = document.querySelector(arguments[0]); return t && t.dataset.connection",
                       f'[data-tile="{box}"]')

    def tile_result(self, box):
        return normal(self.find(f'[data-tile="{box}"] .tile-result').text)

    def test_eight_boxes_fit_one_screen_at_both_sizes_and_themes(self):
        screens = os.path.join(webpage.build_dir(), "tests", "browser", "screens")
        os.makedirs(screens, exist_ok=True)
        for width, height in webpage.TABLET_SIZES:
            for dark in (False, True):
                webpage.resize(self.driver, width, height, dark)
                bottoms = self.js("return [...document.querySelectorAll('.tile')].map(t => t.getBoundingClientRect().bottom)")
                self.assertEqual(len(bottoms), 8)
                self.assertLessEqual(max(bottoms), height, f"{width}x{height}")
                self.assertEqual(self.js(CHECK_LAYOUT), [], f"{width}x{height}")
                name = f"overview-{width}x{height}-{'dark' if dark else 'light'}.png"
                self.assertTrue(self.driver.save_screenshot(os.path.join(screens, name)))
        # The label and location of box.ini, in UTF-8, on the tile and in /boxes and /health.
        self.assertIn("Caméra 1 – gauche", self.tile("cam1").text)
        self.assertIn("Rack A, slot 1", self.tile("cam1").text)
        self.assertIn("kran-ü", self.tile("kran-ü").text)
        boxes = {b["name"]: b for b in webpage.api(self.server.url + "/boxes")[1]["boxes"]}
        self.assertEqual((boxes["kran-ü"]["label"], boxes["kran-ü"]["location"]), ("Kran", "Bühne"))
        self.assertEqual(boxes["cam2"]["label"], None)
        health = {b["box"]: b for b in webpage.api(self.server.url + "/health")[1]["boxes"]}
        self.assertEqual(health["cam1"]["label"], "Caméra 1 – gauche")
        self.assertEqual({b["connection"] for b in health.values()}, {"connected"})
        # A tap on a tile opens the box's controls; "All boxes" comes back.
        self.find('[data-tile="cam2"] .tile-open').click()
        self.assertTrue(wait_until(lambda: self.js("return document.body.dataset.view") == "box"))
        shown = "return [...document.querySelectorAll('[data-box]')].filter(s => !s.hidden).map(s => s.dataset.box)"
        self.assertEqual(self.js(shown), ["cam2"])
        self.find('[data-box="cam2"] [data-back]').click()
        self.assertTrue(wait_until(lambda: self.js("return document.body.dataset.view") == "overview"))
        self.assertEqual(self.console_errors(), [])

    def test_three_selected_boxes_are_synchronised_and_no_other(self):
        chosen = ["cam2", "cam4", "kran-ü"]
        before = {name: len(sim.words()) for name, sim in self.sims.items()}
        for box in chosen:
            self.find(f'[data-tile="{box}"] input[type="checkbox"]').click()
        self.assertEqual(normal(self.find("#selected").text), "3 selected")
        self.find("#group-sync").click()
        for box in chosen:
            self.assertTrue(wait_until(lambda: self.tile_result(box) == "SYNC: done", 30), f"{box}: {self.tile_result(box)}")
        after = {name: len(sim.words()) for name, sim in self.sims.items()}
        self.assertEqual(sorted(name for name in self.NAMES if after[name] > before[name]), sorted(chosen))
        self.find("#select-all").click()  # all, then none
        self.find("#select-all").click()
        self.assertEqual(normal(self.find("#selected").text), "none selected")

    def test_a_box_that_falls_silent_shows_not_answering_and_recovers(self):
        import signal
        sim = self.sims["cam5"]
        sim.process.send_signal(signal.SIGUSR2)  # the box answers nothing from now on
        try:
            beep = 1 - int(self.value("cam5", "sys_beep"))
            self.find(f'[data-box="cam5"] [data-setting="sys_beep"] [data-choice="{beep}"]').click()
            self.assertTrue(wait_until(lambda: self.tile_state("cam5") == "not answering", 5))
            self.assertEqual(normal(self.find('[data-box="cam5"] .badge').text), "NOT ANSWERING")
            self.assertEqual(self.refusal("cam5", "sys_beep"), "Beep: the box did not answer")
            state = webpage.api(self.server.url + "/boxes/cam5/state")[1]
            self.assertEqual((state["connected"], state["connection"]), (True, "not answering"))
        finally:
            sim.process.send_signal(signal.SIGUSR2)
        self.find('[data-box="cam5"] [data-action="sync"]').click()
        self.assertTrue(wait_until(lambda: self.tile_state("cam5") == "connected", 15))
        self.assertEqual(normal(self.find('[data-box="cam5"] .badge').text), "CONNECTED")
        self.assertEqual(self.refusal("cam5", "sys_beep"), "")  # cleared once the box answers

    def test_changes_of_a_live_box_ask_first_and_say_what_happened(self):
        sim = self.sims["cam6"]
        load = self.find('[data-box="cam6"] [data-action="memory/3/load"]')
        frames = len(sim.words())
        load.click()
        self.assertEqual(load.get_attribute("data-confirm"), "true")
        self.assertIn("LOAD 3", load.text)
        self.assertEqual(len(sim.words()), frames)
        load.click()
        line = lambda: normal(self.find('[data-box="cam6"] .memories .refusal').text)
        self.assertTrue(wait_until(lambda: line() == "Memory 3 is empty"), line())
        save = self.find('[data-box="cam6"] [data-action="memory/3/save"]')
        save.click()
        save.click()
        done = lambda: normal(self.find('[data-box="cam6"] .done').text)
        self.assertTrue(wait_until(lambda: done() == "SAVE memory 3: done"), done())
        load.click()
        load.click()
        self.assertTrue(wait_until(lambda: done() == "LOAD memory 3: done", 30), done())
        self.assertEqual(line(), "")
        # DISCONNECT asks too; a refusal in an operator's words while disconnected.
        disconnect = self.find('[data-box="cam6"] [data-action="disconnect"]')
        disconnect.click()
        self.assertEqual(self.tile_state("cam6"), "connected")
        disconnect.click()
        self.assertTrue(wait_until(lambda: self.tile_state("cam6") == "disconnected"))
        # The DISCONNECT's pause may still run: busy until then.
        sync = lambda: webpage.api(self.server.url + "/boxes/cam6/sync", "POST")
        status, answer = wait_until(lambda: (lambda a: a if a[1].get("result") == 6 else None)(sync()), 5) or sync()
        self.assertEqual((status, answer["operator_text"], answer["result"]), (409, "not connected", 6))
        self.find('[data-box="cam6"] [data-action="connect"]').click()  # asks nothing: it is not connected
        self.assertTrue(wait_until(lambda: self.tile_state("cam6") == "connected", 15))
        connect = self.find('[data-box="cam6"] [data-action="connect"]')
        connect.click()
        self.assertEqual(connect.get_attribute("data-confirm"), "true")
        self.assertEqual(self.console_errors(refusals=True), [])

    def test_the_log_names_who_changed_what_and_other_clients(self):
        level = 7 if self.value("cam7", "sys_bk_light") != "7" else 8
        self.assertEqual(webpage.api(self.server.url + "/boxes/cam7/settings", "PUT", {"sys_bk_light": level})[0], 200)
        entry = lambda: self.js("const li = document.querySelector('#log-list li');"
                                "return li ? [...li.children].map(e => e.textContent).join(' ') : ''")
        self.assertTrue(wait_until(lambda: entry().endswith(f"cam7 Back light {level} another client (API)")), entry())
        self.assertIn("another client (API)", self.tile("cam7").text)
        beep = 1 - int(self.value("cam7", "sys_beep"))
        self.find(f'[data-box="cam7"] [data-setting="sys_beep"] [data-choice="{beep}"]').click()
        names = {0: "ON", 1: "OFF"}
        self.assertTrue(wait_until(lambda: entry().endswith(f"cam7 Beep {names[beep]} this page")), entry())
        self.settled()
        # A second client of the events: the page says someone else is at work.
        self.js("window.second = new WebSocket(`ws://${location.host}/api/v1/events`, ['dpx20remote'])")
        self.assertEqual(webpage.api(self.server.url + "/boxes/cam7/settings", "PUT", {"sys_bk_light": level - 1})[0], 200)
        self.assertTrue(wait_until(lambda: normal(self.find("#others").text) == "1 other client connected"))
        self.js("window.second.close()")

    def test_buttons_in_the_panels_screen_order_and_key_lists_as_the_state(self):
        radios = panel_radios()
        checked = []
        self.find('[data-box="cam1"]')
        for key in self.js("return [...document.querySelectorAll('[data-box=\"cam1\"] .choices')].map(c => c.closest('[data-setting]').dataset.setting)"):
            shown = self.js("return [...document.querySelectorAll(arguments[0])].map(b => [b.textContent, b.getBoundingClientRect().top, b.getBoundingClientRect().left])"
                            ".sort((a, b) => a[1] - b[1] || a[2] - b[2]).map(b => b[0])",
                            f'[data-box="cam1"] [data-setting="{key}"] button')
            groups = {}
            for layout, group, caption, x, y in radios:
                groups.setdefault((layout, group), []).append((y, x, caption))
            matches = [sorted(g) for g in groups.values() if set(shown) <= {c for _, _, c in g}]
            if len(matches) != 1:
                continue
            panel = [c for _, _, c in matches[0] if c in shown]
            self.assertEqual(shown, panel, key)
            checked.append(key)
        self.assertIn("sys_scp_pos", checked)
        self.assertIn("sys_input_select", checked)
        # Every setting the box takes is on the page and in the manual page, and no other.
        state = webpage.api(self.server.url + "/boxes/cam1/state")[1]
        settable = {k for k, s in state["settings"].items() if s["settable"]}
        on_page = set(self.js("return [...document.querySelectorAll('[data-box=\"cam1\"] .control[data-setting]')].map(e => e.dataset.setting)"))
        self.assertEqual(on_page, settable)
        manual = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "man", "dpx20ctl.1")
        with open(manual) as f:
            text = f.read()
        listed = set(re.findall(r"\\fB(sys_\w+)\\fR", text))
        self.assertEqual(settable - listed, set())
        self.assertEqual(listed - set(state["settings"]), set())


if __name__ == "__main__":
    missing = webpage.missing_tools()
    if missing:
        print("skipped: not installed: " + ", ".join(missing))
        sys.exit(77)
    unittest.main(verbosity=2)
