"""The rack's group actions and snapshots panel in headless Chromium, on simulated units.

Run by test_gateway_page.py's main, inside tests/browser/run's namespace that has only lo.
The snapshot cases need the gateway's snapshot routes: they are marked to skip while its API
document has none.
"""

import json
import os
import tempfile
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from test_gateway_page import PORT, ROOT, WORK, Gateway, Sim, start_browser
from test_rack_view import RackPage

with open(os.path.join(ROOT, "gateway", "api", "api_doc", "openapi.json")) as document:
    SNAPSHOTS = "/api/snapshots" in json.load(document)["paths"]
needs_snapshots = unittest.skipUnless(SNAPSHOTS, "this gateway has no snapshot routes yet")

QC1, QC2, QC3, SPARE = "127.0.71.2", "127.0.71.3", "127.0.71.4", "127.0.71.5"
SILENT = "127.0.71.9"  # nothing answers there
UNITS_FILE = """# the group actions' rack
%s name=qc-1 site=studio-a role=qc
%s name=qc-2 site=studio-a role=qc
%s name=qc-3 site=studio-b role=qc
%s name=spare-1 site=studio-b role=spare
%s name=qc-4 site=studio-b role=qc
""" % (QC1, QC2, QC3, SPARE, SILENT)

# Every POST the page makes, as [path, body], from the moment it is put in.
RECORD_POSTS = """
window.posted = [];
window.pageFetch ||= window.fetch;
window.fetch = function (path, init) {
  if (init && init.method === 'POST') window.posted.push([String(path), JSON.parse(init.body)]);
  return window.pageFetch.apply(this, arguments);
};"""

# Each unit's line of a list of outcomes: its state, and its settings' states and texts. Read in
# one task, as the page writes a list anew for each answer.
UNIT_LINES = """return [...document.querySelectorAll(arguments[0] + ' > li')].map((item) => [
  item.dataset.unit, item.dataset.outcome || item.dataset.state,
  Object.fromEntries([...item.querySelectorAll('[data-setting]')].map(
    (part) => [part.dataset.setting, [part.dataset.state, part.textContent]]))]);"""


class RackActions(RackPage):
    """Four units and a silent one with names and labels, on a gateway that wants a count
    confirmed past two units; the cases run in number order."""

    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.closers = []
        try:
            cls.sims = {}
            for address in (QC1, QC2, QC3, SPARE):
                cls.sims[address] = Sim(address)
                cls.closers.append(cls.sims[address].close)
            units_file = os.path.join(WORK, "actions-units")
            with open(units_file, "w") as f:
                f.write(UNITS_FILE)
            cls.gateway = Gateway("127.0.0.1:%d" % (PORT + 20), [], "--units-file", units_file,
                                  "--group-limit", "2")
            cls.closers.append(cls.gateway.close)
            cls.driver = start_browser(tempfile.mkdtemp(dir=WORK, prefix="actions-profile-"))
            cls.closers.append(cls.driver.quit)
            cls.driver.get(cls.gateway.base)
            cls.driver.find_element(By.ID, "view-rack").click()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for close in reversed(cls.closers):
            close()

    def setUp(self):
        self.filter("")
        self.until("every unit's row, the silent one down", lambda: len(self.rows()) == 5 and all(
            link == ("down" if unit == SILENT else "up") for unit, link, _ in self.rows()))
        self.driver.execute_script(RECORD_POSTS)

    def posted(self):
        return self.driver.execute_script("return window.posted")

    def shown_rows(self, units):
        self.until("the rows of %s" % ", ".join(sorted(units)),
                   lambda: {unit for unit, _, _ in self.rows()} == set(units))

    def volume_shown(self, unit, volume):
        self.until("%s's volume at %d" % (unit, volume), lambda: self.driver.find_element(
            By.CSS_SELECTOR, '[data-row="%s"] [data-level="volume"]' % unit)
            .get_attribute("data-value") == str(volume))

    def dialog(self):
        return self.driver.find_element(By.ID, "ask")

    def answer(self, button, count):
        """Checks the open dialog gives the count of units, then presses one of its buttons."""
        self.until("the confirmation", lambda: self.dialog().get_attribute("open") is not None)
        self.assertIn("%d units" % count, self.driver.find_element(By.ID, "ask-text").text)
        self.driver.find_element(By.ID, button).click()
        self.until("the dialog closed", lambda: self.dialog().get_attribute("open") is None)

    def unit_lines(self, selector):
        return {unit: (state, parts) for unit, state, parts in self.driver.execute_script(
            UNIT_LINES, selector)}

    def outcomes(self, selector):
        return {unit: state for unit, (state, _) in self.unit_lines(selector).items()}

    # ---- cases ----

    def test_1_a_press_on_the_filtered_units_after_its_confirmation(self):
        before = {unit: sim.state()["input"] for unit, sim in self.sims.items()}
        self.filter("name=qc-2")  # the unit's name, as the gateway's selectors take it
        self.shown_rows({QC2})
        self.filter("site=studio-a")
        self.shown_rows({QC1, QC2})
        Select(self.driver.find_element(By.ID, "group-button")).select_by_value("balanced-input")

        self.driver.find_element(By.ID, "group-press").click()
        self.answer("ask-cancel", 2)
        self.assertEqual([], self.posted())
        self.assertEqual({}, self.outcomes("#group-outcome"))

        self.driver.find_element(By.ID, "group-press").click()
        self.answer("ask-ok", 2)
        self.until("each unit's outcome", lambda: len(self.outcomes("#group-outcome")) == 2)
        self.assertEqual({QC1: "done", QC2: "done"}, self.outcomes("#group-outcome"))
        self.assertEqual([["/api/groups/press/balanced-input",
                           {"select": "site=studio-a", "confirm": 2}]], self.posted())
        self.assertEqual({QC1: 2, QC2: 2, QC3: before[QC3], SPARE: before[SPARE]},
                         {unit: sim.state()["input"] for unit, sim in self.sims.items()})

    def test_2_a_level_step_on_a_listed_set_with_a_unit_down(self):
        for unit in (QC1, QC2, QC3, SPARE):
            self.sims[unit].control("set volume=10")
            self.volume_shown(unit, 10)
        self.filter("qc-")  # names, not labels: the page lists the units
        self.shown_rows({QC1, QC2, QC3, SILENT})
        Select(self.driver.find_element(By.ID, "group-level")).select_by_value("volume")
        self.driver.find_element(By.ID, "group-level-up").click()
        self.answer("ask-ok", 4)
        self.until("each unit's outcome", lambda: len(self.outcomes("#group-outcome")) == 4)
        self.assertEqual({QC1: "done", QC2: "done", QC3: "done", SILENT: "down"},
                         self.outcomes("#group-outcome"))
        self.assertRegex(self.driver.find_element(By.ID, "group-message").text,
                         r"on 4 units: (3 done, 1 down|1 down, 3 done)\.$")
        [[path, body]] = self.posted()
        self.assertEqual("/api/groups/level/volume", path)
        self.assertEqual((["127.0.71.%d" % n for n in (2, 3, 4, 9)], 4, "up"),
                         (sorted(body["select"]), body["confirm"], body["step"]))
        self.assertEqual([11, 11, 11, 10], [self.sims[unit].state()["levels"][0]
                                             for unit in (QC1, QC2, QC3, SPARE)])

    @needs_snapshots
    def test_3_a_snapshot_captured_compared_dry_run_and_applied(self):
        self.filter("site=studio-a")
        self.shown_rows({QC1, QC2})
        self.sims[QC1].control("set volume=20")
        self.volume_shown(QC1, 20)
        kept = self.sims[QC1].state()
        self.driver.find_element(By.ID, "snapshot-capture").click()
        self.until("the name asked", lambda: self.driver.find_element(By.ID, "ask-name").is_displayed())
        self.driver.find_element(By.ID, "ask-name").send_keys("morning")
        self.answer("ask-ok", 2)
        row = self.until("the snapshot listed", lambda: self.driver.find_element(
            By.CSS_SELECTOR, '#snapshot-list [data-snapshot="morning"]'))
        self.assertEqual("2", row.find_elements(By.TAG_NAME, "td")[3].text)
        self.assertEqual({QC1: "done", QC2: "done"}, self.outcomes("#snapshot-units"))

        self.sims[QC1].control("set volume=5 input=3")
        self.volume_shown(QC1, 5)

        def shown_after(action, states):
            row.find_element(By.CSS_SELECTOR, '[data-action="%s"]' % action).click()
            self.until("the %s's units" % action, lambda: self.outcomes("#snapshot-units") == states)

        def settings(unit):
            return self.unit_lines("#snapshot-units")[unit][1]

        shown_after("diff", {QC1: "differs", QC2: "same"})
        self.assertEqual({"input", "volume"}, set(settings(QC1)))
        self.assertRegex(settings(QC1)["volume"][1], r"\b5, in the snapshot 20$")

        shown_after("validate", {QC1: "plan", QC2: "same"})
        self.assertRegex(settings(QC1)["volume"][1], r"\b5 → 20$")
        self.assertEqual(["validate"], [path.rsplit("/", 1)[1] for path, _ in self.posted()[1:]])
        self.assertEqual(5, self.sims[QC1].state()["levels"][0], "a dry run sent something")

        row.find_element(By.CSS_SELECTOR, '[data-action="apply"]').click()
        self.answer("ask-cancel", 2)
        self.assertEqual(2, len(self.posted()))
        row.find_element(By.CSS_SELECTOR, '[data-action="apply"]').click()
        self.answer("ask-ok", 2)
        self.until("the apply's units", lambda: self.outcomes("#snapshot-units") == {
            QC1: "done", QC2: "done"})
        self.assertEqual({"input": "done", "volume": "done"},
                         {setting: state for setting, (state, _) in settings(QC1).items()})
        self.assertEqual({"select": "site=studio-a", "confirm": 2}, self.posted()[2][1])
        self.assertEqual((kept["levels"][0], kept["input"]),
                         (self.sims[QC1].state()["levels"][0], self.sims[QC1].state()["input"]))

    def test_4_a_role_sees_only_what_it_may_do(self):
        tokens_file = os.path.join(WORK, "actions-tokens")
        with open(tokens_file, "w") as f:
            f.write("wall viewer wall-token-0123456789\ndesk operator desk-token-0123456789\n")
        os.chmod(tokens_file, 0o600)
        gateway = Gateway("127.0.0.1:%d" % (PORT + 21), [SILENT], "--tokens-file", tokens_file)
        self.addCleanup(gateway.close)
        self.driver.get(gateway.base)
        shown = {}
        for token in ("wall-token-0123456789", "desk-token-0123456789"):
            self.until("the token form", lambda: self.driver.find_element(
                By.ID, "token-form").is_displayed())
            self.driver.find_element(By.ID, "token-input").send_keys(token)
            self.driver.find_element(By.ID, "token-submit").click()
            self.until("the unit", lambda: self.driver.find_elements(
                By.CSS_SELECTOR, "[data-unit], [data-row]"))
            self.driver.find_element(By.ID, "view-rack").click()
            shown[token[:4]] = [self.driver.find_element(By.ID, control).is_displayed()
                                for control in ("group-actions", "snapshot-capture", "snapshots")]
            self.driver.execute_script("sessionStorage.clear(); location.reload()")
        self.assertEqual({"wall": [False, False, True], "desk": [True, False, True]}, shown)
