"""The page's rack view in headless Chromium: a thousand simulated units changing once a second.

Run by test_gateway_page.py's main, inside tests/browser/run's namespace that has only lo. The
figures (first full view, an update's main-thread time) are printed in the log; the test holds
the page to what it shows, and bench/rack_view measures how fast, beside a small rack's.
"""

import json
import os
import resource
import subprocess
import tempfile
import time
import unittest
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from test_gateway_page import BUILD, PORT, WAIT, WORK, Gateway, start_browser

CHANGING = os.path.join(BUILD, "sim", "changing_units")
COUNT = 1000
BLOCK = 160  # the units on 127.0.160.1 upwards, 250 an octet
LIVE = ["127.0.%d.%d" % (BLOCK + i // 250, 1 + i % 250) for i in range(COUNT)]
SILENT = ["127.0.169.1", "127.0.169.2"]  # nothing answers there
UNITS = LIVE[:500] + SILENT + LIVE[500:]
# Every frame until the rack holds every unit's row: the time of that frame from the start of
# the page's navigation, in the browser's own timeline.
FIRST_VIEW_PROBE = """
window.rackFirstView = null;
requestAnimationFrame(function frame() {
  if (document.querySelectorAll('#rack-rows [data-row]').length >= %d) {
    window.rackFirstView = performance.now();
  } else {
    requestAnimationFrame(frame);
  }
});"""

# Each rack update timed with marks, its style and layout done at once so that they count, and
# every DOM change it made checked to lie in its own unit's row.
UPDATE_PROBE = """
const rows = document.getElementById('rack-rows');
const changes = new MutationObserver(() => {});
changes.observe(rows, {subtree: true, childList: true, attributes: true, characterData: true});
window.rackTimes = [];
window.rackStray = [];
new PerformanceObserver((list) => {
  for (const entry of list.getEntries()) window.rackTimes.push(entry.duration);
}).observe({type: 'measure'});
const update = window.rackUpdate;
window.rackUpdate = function (unit) {
  changes.takeRecords();
  performance.mark('rack-update');
  update(unit);
  rows.offsetHeight;
  performance.measure('rack-update', 'rack-update');
  for (const record of changes.takeRecords()) {
    const moved = record.target === rows &&
      [...record.addedNodes, ...record.removedNodes].every((node) => node.dataset.row === unit.unit);
    const node = record.target.nodeType === Node.ELEMENT_NODE ? record.target : record.target.parentElement;
    const row = node.closest('[data-row]');
    if (!moved && (!row || row.dataset.row !== unit.unit)) window.rackStray.push(unit.unit);
  }
};
window.rackUnprobe = () => {
  window.rackUpdate = update;
  changes.disconnect();
};"""

# Names and labels on the units the stream brings, as the API will give them.
LABELLING = """
const show = window.showUnit;
window.showUnit = function (unit) {
  const number = Number(unit.unit.split('.')[3]);
  show(Object.assign({}, unit, {
    name: 'desk-' + unit.unit.split('.').slice(2).join('-'),
    labels: {site: number % 2 ? 'studio-a' : 'studio-b', role: number % 5 === 0 ? 'spare' : 'qc'}}));
};"""

ROWS = """return [...document.querySelectorAll('#rack-rows [data-row]')].filter((row) => !row.hidden)
  .map((row) => [row.dataset.row, row.dataset.link,
                 Number(row.querySelector('[data-level="volume"]').dataset.value.replace('—', -1))]);"""


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * share))]


class RackPage(unittest.TestCase):
    """What a case reads and does on the rack of its class's page (`driver`)."""

    def until(self, what, check, timeout=WAIT):
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda _: check())
        except Exception:
            self.fail("the page did not show %s within %d s" % (what, timeout))

    def rows(self):
        return self.driver.execute_script(ROWS)

    def filter(self, query):
        field = self.driver.find_element(By.ID, "rack-filter")
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(Keys.BACKSPACE, query)


class RackView(RackPage):
    """One gateway over a thousand changing units and one page; cases run in number order."""

    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.closers = []
        try:
            # A socket a unit in the gateway, three in the units' program.
            _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
            resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
            cls.units = subprocess.Popen([CHANGING, str(COUNT), str(BLOCK)], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE)
            cls.closers.append(cls.stop_units)
            if cls.units.stdout.readline() != b"ready\n":
                raise AssertionError("the changing units did not start")
            units_file = os.path.join(WORK, "rack-units")
            with open(units_file, "w") as f:
                f.write("\n".join(UNITS) + "\n")
            cls.gateway = Gateway("127.0.0.1:%d" % (PORT + 10), [], "--units-file", units_file)
            cls.closers.append(cls.gateway.close)
            deadline = time.time() + WAIT
            while cls.up_count() < COUNT:
                if time.time() > deadline:
                    raise AssertionError("the gateway did not bring the units up")
                time.sleep(0.2)
            cls.driver = start_browser(tempfile.mkdtemp(dir=WORK, prefix="rack-profile-"))
            cls.closers.append(cls.driver.quit)
            cls.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                       {"source": FIRST_VIEW_PROBE % len(UNITS)})
            cls.driver.execute_cdp_cmd("Performance.enable", {})
            cls.driver.get(cls.gateway.base)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for close in reversed(cls.closers):
            close()

    @classmethod
    def stop_units(cls):
        cls.units.stdin.close()
        cls.units.wait(timeout=10)

    @classmethod
    def up_count(cls):
        with urllib.request.urlopen(cls.gateway.base + "api/units", timeout=5) as reply:
            return sum(unit["link"] == "up" for unit in json.load(reply)["units"])

    def main_thread_ms(self):
        metrics = self.driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]
        return 1000 * next(m["value"] for m in metrics if m["name"] == "TaskDuration")

    def sort_by(self, column, order):
        header = self.driver.find_element(By.CSS_SELECTOR, '#rack-head [data-column="%s"]' % column)
        for _ in range(2):
            if header.get_attribute("aria-sort") != order:
                header.find_element(By.TAG_NAME, "button").click()
        self.assertEqual(order, header.get_attribute("aria-sort"))

    # ---- cases ----

    def test_1_first_full_view_worst_first(self):
        shown = self.until("every unit's row", lambda: self.driver.execute_script(
            "return window.rackFirstView"))
        print("\n  rack: %d rows shown %.0f ms after the page was asked for" % (len(UNITS), shown))
        self.assertEqual("true", self.driver.find_element(By.ID, "view-rack").get_attribute(
            "aria-pressed"))
        self.assertFalse(self.driver.find_element(By.ID, "units").is_displayed())
        # Worst first: the units that do not answer lead, whatever else is listed before them.
        self.until("the silent units down", lambda: "down" in {
            link for _, link, _ in self.rows()[:len(SILENT)]})
        rows = self.rows()
        self.assertEqual(set(SILENT), {unit for unit, _, _ in rows[:len(SILENT)]})
        self.assertEqual(LIVE, [unit for unit, _, _ in rows[len(SILENT):]])

    def test_2_each_update_changes_its_own_row(self):
        before = {unit: volume for unit, _, volume in self.rows()}
        self.driver.execute_script(UPDATE_PROBE)
        busy, began = self.main_thread_ms(), time.monotonic()
        # Three seconds of the units' changes, at their own pace.
        self.until("%d updates" % (3 * COUNT), lambda: self.driver.execute_script(
            "return window.rackTimes.length") >= 3 * COUNT)
        busy, took = self.main_thread_ms() - busy, time.monotonic() - began
        times = self.driver.execute_script("return window.rackTimes")
        stray = self.driver.execute_script("window.rackUnprobe(); return window.rackStray")
        print("  rack: %d updates in %.1f s; each, with its style and layout: median %.3f ms, "
              "p95 %.3f ms; the page's main thread in all %.3f ms an update"
              % (len(times), took, percentile(times, 0.5), percentile(times, 0.95),
                 busy / len(times)))
        self.assertEqual([], stray, "updates that changed other units' rows")
        moved = [unit for unit, _, volume in self.rows() if volume != before[unit]]
        self.assertGreater(len(moved), COUNT * 9 // 10, "rows that did not follow their units")

    def test_3_filter_by_text_and_label(self):
        self.filter("127.0.160.2")
        expected = {unit for unit in UNITS if "127.0.160.2" in unit}
        self.until("the units whose address holds the text", lambda: expected == {
            unit for unit, _, _ in self.rows()})
        self.assertEqual("%d of %d units shown" % (len(expected), len(UNITS)),
                         self.driver.find_element(By.ID, "rack-count").text)

        self.driver.execute_script(LABELLING)
        self.filter("site=studio-a, role!=spare 127.0.161")
        expected = {unit for unit in LIVE if unit.startswith("127.0.161.")
                    and int(unit.split(".")[3]) % 2 and int(unit.split(".")[3]) % 5}
        self.until("the labelled units of studio-a, spares left out", lambda: expected == {
            unit for unit, _, _ in self.rows()})
        self.filter("DESK-162-7")  # a name, in any case
        self.until("the units whose name holds the text", lambda: {
            unit for unit, _, _ in self.rows()} == {"127.0.162.7"} | {
            "127.0.162.%d" % n for n in range(70, 80)})
        self.filter("")
        self.until("every unit again", lambda: len(self.rows()) == len(UNITS))

    def test_4_sort_by_a_column_either_way(self):
        listed = {unit: i for i, unit in enumerate(UNITS)}
        self.sort_by("volume", "ascending")
        # The rows are read in one task: every update has put its row in place before it.
        rows = self.rows()
        self.assertEqual(sorted(rows, key=lambda row: (row[2], listed[row[0]])), rows)
        self.sort_by("volume", "descending")
        rows = self.rows()
        self.assertEqual(sorted(rows, key=lambda row: (-row[2], listed[row[0]])), rows)
        self.assertEqual("none", self.driver.find_element(
            By.CSS_SELECTOR, '#rack-head [data-column="link"]').get_attribute("aria-sort"))
        self.sort_by("link", "ascending")
        self.assertEqual(set(SILENT), {unit for unit, _, _ in self.rows()[:len(SILENT)]})

    def test_5_the_chosen_view_is_kept(self):
        # A few units show as cards; the rack, once chosen, stays across a reload.
        gateway = Gateway("127.0.0.1:%d" % (PORT + 11), SILENT)
        self.addCleanup(gateway.close)
        self.driver.get(gateway.base)
        self.until("the cards", lambda: len(self.driver.find_elements(
            By.CSS_SELECTOR, "#units [data-unit]")) == len(SILENT))
        self.assertFalse(self.driver.find_element(By.ID, "rack").is_displayed())
        self.driver.find_element(By.ID, "view-rack").click()
        self.until("the rack", lambda: len(self.rows()) == len(SILENT))
        self.driver.refresh()
        self.until("the rack after a reload", lambda: len(self.rows()) == len(SILENT))
        self.assertFalse(self.driver.find_element(By.ID, "units").is_displayed())
