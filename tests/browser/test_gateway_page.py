"""The gateway's page in headless Chromium, against vantrel-gateway and simulated units.

Run by tests/browser/run inside a network namespace that has only lo. Ends with one line:
'N passed, N failed'. VANTREL_GATEWAY_PICTURE=docs/gateway.png renews the README's picture.
"""

import json
import os
import random
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from case_counts import CountingResult  # noqa: E402
BUILD = os.path.join(ROOT, os.environ.get("VANTREL_BROWSER_BUILD", "build/native"))
SIM = os.path.join(BUILD, "sim", "vantrel-sim")
GATEWAY = os.path.join(BUILD, "gateway", "vantrel-gateway")
WORK = os.path.join(BUILD, "browser")
PORT = 8080
UNITS = ["127.0.70.2", "127.0.70.3", "127.0.70.4"]
REFUSING = "127.0.70.4"  # refuses a bootloader packet part-way through its update
TOKEN_UNIT = "127.0.70.5"
TOKEN = "rack-7f3c91-4d2e-a0b8"  # token files hold 16 characters at least
WAIT = 20  # seconds for anything the page should show


class Sim:
    """A simulated unit on its own loopback address, with its traffic log and control socket."""

    def __init__(self, address, *extra):
        self.address = address
        self.log_path = os.path.join(WORK, "traffic-%s.log" % address)
        self.control_path = os.path.join(WORK, "control-%s.sock" % address)
        self.process = subprocess.Popen(
            [SIM, "--address", address, "--log", self.log_path, "--control", self.control_path]
            + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # It prints its control line once everything listens.
        out = self.process.stdout.fileno()
        printed = b""
        while b"control on" not in printed:
            if not select.select([out], [], [], 10)[0]:
                raise AssertionError("simulated unit %s did not start" % address)
            chunk = os.read(out, 4096)
            if not chunk:
                raise AssertionError("simulated unit %s: %s" % (address, self.process.stderr.read()))
            printed += chunk

    def control(self, command):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(10)
            s.connect(self.control_path)
            s.sendall(command.encode() + b"\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
        reply = reply.decode().strip()
        if reply.startswith("error"):
            raise AssertionError("control %r: %s" % (command, reply))
        return reply

    def state(self):
        return json.loads(self.control("state"))

    def received_text(self):
        with open(self.log_path) as f:
            items = [json.loads(line) for line in f if line.strip()]
        return [item["text"].rstrip("\r\n") for item in items if item.get("link") == "tcp"]

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=5)


class Gateway:
    def __init__(self, listen, units, *extra):
        self.base = "http://%s/" % listen
        self.log = open(os.path.join(WORK, "gateway-%s.log" % listen.replace(":", "-")), "wb")
        args = [GATEWAY, "--poll", "1", "--listen", listen] + list(extra)
        for unit in units:
            args += ["--unit", unit]
        self.process = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.time() + 10
        while True:
            try:
                urllib.request.urlopen(self.base + "style.css", timeout=2).read()
                return
            except OSError:  # not yet listening, or not yet answering: a time-out too
                if time.time() > deadline or self.process.poll() is not None:
                    # No caller holds it to close yet: it must not outlive its test.
                    self.close()
                    raise AssertionError("vantrel-gateway did not start on %s" % listen)
                time.sleep(0.1)

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--user-data-dir=" + profile, "--window-size=1280,900"]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # The page itself gets 1280x900, whatever the browser's own frame takes.
    driver.set_window_size(1280, 900)
    inner = driver.execute_script("return [innerWidth, innerHeight]")
    driver.set_window_size(1280 + 1280 - inner[0], 900 + 900 - inner[1])
    return driver


class GatewayPage(unittest.TestCase):
    """One page on three units; the cases run in the order of their numbers."""

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        cls.closers = []
        try:
            cls.sims = {}
            for address in UNITS:
                extra = ["--fault", "loader-nak=20"] if address == REFUSING else []
                cls.sims[address] = Sim(address, *extra)
                cls.closers.append(cls.sims[address].close)
            cls.gateway = Gateway("127.0.0.1:%d" % PORT, UNITS)
            cls.closers.append(cls.gateway.close)
            cls.driver = start_browser(tempfile.mkdtemp(dir=WORK, prefix="profile-"))
            cls.closers.append(cls.driver.quit)
            cls.driver.get(cls.gateway.base)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for close in reversed(cls.closers):
            close()

    # ---- helpers ----

    def card(self, unit):
        return self.driver.find_element(By.CSS_SELECTOR, '[data-unit="%s"]' % unit)

    def text(self, unit, selector):
        return self.card(unit).find_element(By.CSS_SELECTOR, selector).text

    def clickable(self, element_id):
        element = self.driver.find_element(By.ID, element_id)
        return element if element.is_displayed() and element.is_enabled() else None

    def until(self, what, check, timeout=WAIT):
        """Waits until check() is true; fails saying what was awaited."""
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(
                lambda _: check())
        except Exception:
            self.fail("the page did not show %s within %d s" % (what, timeout))

    def wait_up(self, units):
        self.until("%s up" % ", ".join(units), lambda: all(
            self.driver.find_elements(By.CSS_SELECTOR, '[data-unit="%s"][data-link="up"]' % u)
            for u in units))

    # ---- cases ----

    def test_1_cards_show_the_units(self):
        self.wait_up(UNITS)
        ids = [c.get_attribute("data-unit")
               for c in self.driver.find_elements(By.CSS_SELECTOR, "#units [data-unit]")]
        self.assertEqual(UNITS, ids)
        for unit in UNITS:
            state = self.sims[unit].state()
            self.until("%s's levels as the unit holds them" % unit, lambda: [
                self.card(unit).find_element(By.CSS_SELECTOR, '[data-level="%s"]' % name)
                .get_attribute("data-value")
                for name in ("volume", "lcd-brightness", "lcd-contrast", "lcd-saturation")]
                == [str(v) for v in state["levels"]])
            self.assertEqual(unit, self.text(unit, '[data-field="ip"]'))
            mac = self.text(unit, '[data-field="mac"]').replace(":", "").lower()
            self.assertEqual(state["mac"].replace(":", "").lower(), mac)
            self.assertEqual("UP", self.text(unit, '[data-field="link"]').upper().lstrip("▲ "))
            self.assertRegex(self.text(unit, ".since"), r"^Up since \d+ s ago")

    def test_2_mute_sends_rot3(self):
        unit = UNITS[0]
        self.wait_up([unit])
        before = self.sims[unit].received_text().count("ROT3")
        self.card(unit).find_element(By.CSS_SELECTOR, '[data-button="mute"]').click()
        outcome = self.until("Mute's outcome", lambda: self.card(unit).find_element(
            By.CSS_SELECTOR, '[data-field="outcome"][data-outcome]'))
        self.assertEqual("done", outcome.get_attribute("data-outcome"), outcome.text)
        self.assertIn("Mute", outcome.text)
        self.assertEqual(before + 1, self.sims[unit].received_text().count("ROT3"))
        # Without tokens on 127.0.0.1 the page is an admin's, which sees the card's last changes.
        self.until("the press in the card's last changes", lambda: "press mute" in self.card(
            unit).find_element(By.CSS_SELECTOR, '[data-field="audit"]').get_attribute("textContent"))

    def test_3_change_at_the_unit_appears(self):
        unit = UNITS[1]
        self.wait_up([unit])
        self.sims[unit].control("set input=2 volume=33 solo-right=1 meter=2")
        self.until("the unit's new input, volume, lamp and meter mode", lambda: (
            self.text(unit, '[data-field="input"]'),
            self.card(unit).find_element(By.CSS_SELECTOR, '[data-level="volume"]')
            .get_attribute("data-value"),
            self.text(unit, '[data-lamp="soloRight"]'),
            self.text(unit, '[data-field="meter"]'))
            == ("Balanced", "33", "lit", "DPPM"))
        pressed = self.card(unit).find_element(By.CSS_SELECTOR, '[data-button="balanced-input"]')
        self.assertEqual("true", pressed.get_attribute("aria-pressed"))
        # Every mode other than 0 is DPPM's; only the state's own buttons look pressed.
        looks = {name: self.card(unit).find_element(By.CSS_SELECTOR, '[data-button="%s"]' % name)
                 .get_attribute("aria-pressed")
                 for name in ("hdmi-input", "dppm-mode", "vu-mode", "solo-right", "mute")}
        self.assertEqual({"hdmi-input": "false", "dppm-mode": "true", "vu-mode": "false",
                          "solo-right": "true", "mute": None}, looks)

    def test_4_firmware_of_two_units(self):
        good, bad = UNITS[0], REFUSING
        self.wait_up([good, bad])
        image = random.Random(14).randbytes(4096)
        image_path = os.path.join(WORK, "main.bin")
        with open(image_path, "wb") as f:
            f.write(image)
        for unit in (good, bad):
            self.card(unit).find_element(By.CSS_SELECTOR, "[data-select]").click()
        self.driver.find_element(By.ID, "firmware-file").send_keys(image_path)
        # Every value each bar takes, as the page sets it: events that come in one read of the
        # stream are shown in one task, so the values are taken from the mutation records.
        self.driver.execute_script("""
            window.barValues = {};
            new MutationObserver((records) => {
              for (const record of records) {
                const unit = record.target.closest('[data-job-unit]').dataset.jobUnit;
                (window.barValues[unit] ||= []).push(Number(record.oldValue));
              }
            }).observe(document.getElementById('firmware-job'), {subtree: true,
                       attributeFilter: ['value'], attributeOldValue: true});""")
        self.driver.find_element(By.ID, "firmware-burn").click()
        self.until("the job finished", lambda: self.driver.find_elements(
            By.CSS_SELECTOR, '#firmware-job[data-finished="true"]'), timeout=60)

        rows = {u: self.driver.find_element(By.CSS_SELECTOR, '[data-job-unit="%s"]' % u)
                for u in (good, bad)}
        seen = self.driver.execute_script(
            "for (const row of document.querySelectorAll('#firmware-job [data-job-unit]'))"
            "  window.barValues[row.dataset.jobUnit].push(row.querySelector('progress').value);"
            "return window.barValues")
        self.assertEqual("done", rows[good].get_attribute("data-state"), rows[good].text)
        self.assertIn("done", rows[good].text)
        self.assertTrue(any(0 < v < len(image) for v in seen[good]), seen[good])
        self.assertEqual(len(image), seen[good][-1])
        self.assertEqual("failed", rows[bad].get_attribute("data-state"), rows[bad].text)
        error = rows[bad].find_element(By.CSS_SELECTOR, ".job-state").text
        self.assertRegex(error, r"failed: \S")
        self.assertTrue(0 < seen[bad][-1] < len(image), seen[bad])
        for unit in (good, bad):
            self.assertEqual(sorted(seen[unit]), seen[unit], "%s's bar went back" % unit)

        flash_path = os.path.join(WORK, "flash.bin")
        self.sims[good].control("flash main " + flash_path)
        with open(flash_path, "rb") as f:
            self.assertEqual(image, f.read())

        picture = os.environ.get("VANTREL_GATEWAY_PICTURE")
        if picture:
            self.driver.execute_script("window.scrollTo(0, 0)")
            self.driver.save_screenshot(os.path.join(ROOT, picture))

    def test_5_token_asked_once_and_kept(self):
        sim = Sim(TOKEN_UNIT)
        self.addCleanup(sim.close)
        token_file = os.path.join(WORK, "token")
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        os.chmod(token_file, 0o600)
        gateway = Gateway("127.0.0.3:%d" % PORT, [TOKEN_UNIT], "--token-file", token_file)
        self.addCleanup(gateway.close)
        self.driver.get(gateway.base)

        form = self.until("the token form", lambda: self.driver.find_element(
            By.ID, "token-form").is_displayed() and self.driver.find_element(By.ID, "token-form"))
        self.assertEqual([], self.driver.find_elements(By.CSS_SELECTOR, "[data-unit]"))
        field = self.driver.find_element(By.ID, "token-input")
        field.send_keys("not-the-token")
        self.driver.find_element(By.ID, "token-submit").click()
        self.until("the wrong token refused", lambda: "refused" in self.driver.find_element(
            By.ID, "token-message").text)
        field.send_keys(TOKEN)
        self.driver.find_element(By.ID, "token-submit").click()
        self.wait_up([TOKEN_UNIT])
        self.assertFalse(form.is_displayed())

        # A gateway restarted under the page: its stream is made again, with the token kept.
        gateway.close()
        self.until("the stream lost", lambda: self.driver.find_elements(
            By.CSS_SELECTOR, '#stream-state[data-live="no"]'))
        gateway = Gateway("127.0.0.3:%d" % PORT, [TOKEN_UNIT], "--token-file", token_file)
        self.addCleanup(gateway.close)
        sim.control("set volume=7")
        self.until("a change made after the restart", lambda: self.card(TOKEN_UNIT).find_element(
            By.CSS_SELECTOR, '[data-level="volume"]').get_attribute("data-value") == "7")
        self.assertFalse(form.is_displayed())
        # Kept for the tab: a reload goes straight to the cards.
        self.driver.refresh()
        self.wait_up([TOKEN_UNIT])
        self.assertFalse(self.driver.find_element(By.ID, "token-form").is_displayed())

    def test_6_a_viewer_sees_no_controls(self):
        sim = Sim(TOKEN_UNIT)
        self.addCleanup(sim.close)
        tokens_file = os.path.join(WORK, "tokens")
        with open(tokens_file, "w") as f:
            f.write("wall viewer wall-token-0123456789\nengineer admin %s\n" % TOKEN)
        os.chmod(tokens_file, 0o600)
        # Another port: another origin, so the admin token kept by the last test is not used.
        gateway = Gateway("127.0.0.3:%d" % (PORT + 1), [TOKEN_UNIT], "--tokens-file", tokens_file)
        self.addCleanup(gateway.close)
        self.driver.get(gateway.base)
        self.until("the token form", lambda: self.driver.find_element(By.ID, "token-form").is_displayed())
        self.driver.find_element(By.ID, "token-input").send_keys("wall-token-0123456789")
        self.driver.find_element(By.ID, "token-submit").click()
        self.wait_up([TOKEN_UNIT])
        card = self.card(TOKEN_UNIT)
        self.assertNotEqual("—", self.text(TOKEN_UNIT, '[data-field="ip"]'))  # it reads
        for hidden in ['[data-button="mute"]', '[data-step="up"]', '[data-button="factory-reset"]',
                       "[data-select]", ".audit"]:
            self.assertFalse(card.find_element(By.CSS_SELECTOR, hidden).is_displayed(), hidden)
        self.assertFalse(self.driver.find_element(By.ID, "firmware").is_displayed())

    def test_7_a_net_update_waits_for_the_power_cycle(self):
        pty = os.path.join(WORK, "net-unit-pty")
        sim = Sim("127.0.70.6", "--pty", pty)
        self.addCleanup(sim.close)
        name = os.path.basename(pty)
        gateway = Gateway("127.0.0.1:%d" % (PORT + 2), [], "--port", pty)
        self.addCleanup(gateway.close)
        self.driver.get(gateway.base)
        self.wait_up([name])
        image_path = os.path.join(WORK, "net.bin")
        with open(image_path, "wb") as f:
            f.write(random.Random(7).randbytes(4096))
        self.card(name).find_element(By.CSS_SELECTOR, "[data-select]").click()
        self.driver.find_element(By.CSS_SELECTOR, 'input[name="controller"][value="net"]').click()
        self.driver.find_element(By.ID, "firmware-file").send_keys(image_path)
        self.driver.find_element(By.ID, "firmware-burn").click()
        row = self.until("the power-cycle row", lambda: self.driver.find_element(
            By.CSS_SELECTOR, '[data-job-unit="%s"][data-state="power-cycle"]' % name))
        self.assertIn("line in break: power-cycle the unit, then Continue", row.text)
        sim.control("power-cycle")
        # Continue shows with the row, but may not yet take a click when the row is found.
        self.until("Continue to take a click", lambda: self.clickable("power-cycled")).click()
        self.until("the net update done", lambda: self.driver.find_elements(
            By.CSS_SELECTOR, '[data-job-unit="%s"][data-state="done"]' % name), timeout=60)


def main():
    from test_rack_actions import RackActions
    from test_rack_view import RackView
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(case)
                               for case in (GatewayPage, RackView, RackActions))
    result = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult).run(suite)
    print("\n".join(result.failure_lines() + [result.summary()]))
    return 0 if result.counts()[1] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
