"""Runs the end-to-end tests and ends with one line: 'N passed, N failed'.

Each test class is a group. The groups run three at a time, most of a case being spent waiting
on the protocol's pauses; each runs as `tests/e2e/run --group NAME` in a network namespace of
its own (only lo), with its own Xvfb display, its own copy of the Wine prefix and its own work
folder (traffic logs, ptys, control sockets, its result) under build/e2e/groups/NAME.

A group runs again only when all that failed in it is Wine or Xvfb not coming up
(harness.StartFault), which a loaded machine now and then causes. Its second run counts, and
the summary names it on a line 'e2e: rerun: ...'. A group that needs a rerun in two of its
last five runs fails: that is a defect to mend, not the machine's.
"""

import json
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))

import harness  # noqa: E402
import session  # noqa: E402
from case_counts import CountingResult  # noqa: E402

RUN = os.path.join(HERE, "run")
PARALLEL = 3
TIMES = os.path.join(harness.E2E, "times.json")  # each group's seconds in the last run
# Each group's seconds in a recent run, for the groups a build has not timed yet (a fresh clone).
KNOWN_TIMES = os.path.join(HERE, "times.json")
RERUNS = os.path.join(harness.E2E, "reruns.json")  # each group's last runs: rerun or not
HISTORY = 5  # runs a group's reruns are judged over
RESULT = "result.json"  # what a group's run writes into its work folder


class Result(CountingResult):
    """Saves a screenshot of the screen whenever a case fails, and counts the cases that could
    not begin because Wine or Xvfb did not come up."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.start_faults = 0

    def _shoot(self, test):
        display = getattr(test, "display", None)
        if display is not None:
            harness.save_failure(display, test.id().split(".")[-1])

    def addFailure(self, test, err):
        self._shoot(test)
        super().addFailure(test, err)

    def addError(self, test, err):
        self._shoot(test)
        if issubclass(err[0], harness.StartFault):
            self.start_faults += 1
        super().addError(test, err)


def cases(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from cases(item)
        else:
            yield item


def groups(pattern):
    """The test classes that the pattern's files hold, in the order discovery gives."""
    suite = unittest.defaultTestLoader.discover(HERE, pattern=pattern)
    names = []
    for case in cases(suite):
        if isinstance(case, unittest.loader._FailedTest):
            # A file that does not load: its group is the module, whose load shows the error.
            names.append(case._testMethodName)
            continue
        name = "%s.%s" % (type(case).__module__, type(case).__name__)
        if name not in names:
            names.append(name)
    return names


def run_group(name):
    """One group, in this process: the namespace, display and prefix are this run's own."""
    suite = unittest.defaultTestLoader.loadTestsFromName(name)
    runner = unittest.TextTestRunner(verbosity=2, resultclass=Result)
    try:
        result = runner.run(suite)
    finally:
        session.tearDown()
    passed, failed, _ = result.counts()
    with open(os.path.join(harness.WORK, RESULT), "w") as f:
        json.dump({"passed": passed, "failed": failed, "start_faults": result.start_faults}, f)
    print("\n".join(result.failure_lines("e2e: ") + [result.summary("e2e: ")]))
    return 0 if failed == 0 else 1


def group_result(work, status):
    """The counts a group's run wrote. A run that wrote none died before its end, and one whose
    exit status says it failed did, whatever it counted: either counts one failure more."""
    try:
        with open(os.path.join(work, RESULT)) as f:
            result = json.load(f)
    except (OSError, ValueError):
        return {"passed": 0, "failed": 1, "start_faults": 0}
    if status != 0 and result["failed"] == 0:
        result["failed"] = 1
    return result


def needs_rerun(result):
    """Whether all that failed is Wine or Xvfb not coming up."""
    return 0 < result["failed"] == result["start_faults"]


def note_runs(history, ran, reran):
    """Adds this run to each group's last runs; returns the groups rerun in two of them."""
    defects = []
    for name in ran:
        runs = (history.get(name, []) + [name in reran])[-HISTORY:]
        history[name] = runs
        if name in reran and runs.count(True) >= 2:
            defects.append(name)
    return defects


def load_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def save_json(path, value):
    with open(path, "w") as f:
        json.dump(value, f, indent=1, sort_keys=True)


def wait_for_one(running):
    """Blocks until one of the running groups' processes ends, and returns it."""
    while True:
        pid, status = os.wait()
        for process in running:
            if process.pid == pid:
                process.returncode = os.waitstatus_to_exitcode(status)
                return process


def run_all(pattern):
    names = groups(pattern)
    if not names:
        print("e2e: no test ran")
        print("e2e: 0 passed, 1 failed")
        return 1
    # The template prefix is made once; each group starts from a copy of it, no server running.
    harness.WinePrefix(harness.TEMPLATE_PREFIX).kill_server()
    last = dict(load_json(KNOWN_TIMES), **load_json(TIMES))
    # The longest first, so that the lanes end close together; a new group counts as long.
    queue = sorted(names, key=lambda n: -last.get(n, 1e9))
    running = {}
    passed = failed = 0
    reran = []  # groups run again after Wine or Xvfb did not come up
    times = dict(last)
    start = time.monotonic()
    while queue or running:
        while queue and len(running) < PARALLEL:
            name = queue.pop(0)
            slot = min(set(range(PARALLEL)) - {r[4] for r in running.values()})
            work = harness.group_work(name)
            harness.fresh_dir(work)
            log = open(os.path.join(work, "log"), "w")
            env = dict(os.environ, VANTREL_E2E_WORK=work,
                       VANTREL_E2E_SLOT=str(slot))
            env.pop("VANTREL_E2E_INSIDE", None)  # so that run makes the group's namespace
            process = subprocess.Popen([RUN, "--group", name], env=env, stdout=log,
                                       stderr=subprocess.STDOUT)
            running[process] = (name, work, log, time.monotonic(), slot)
        process = wait_for_one(running)
        name, work, log, began, _ = running.pop(process)
        log.close()
        seconds = time.monotonic() - began
        times[name] = round(seconds, 1)
        result = group_result(work, process.returncode)
        shutil.rmtree(os.path.join(work, "prefix"), ignore_errors=True)  # its 60 MB of copies
        rerun = needs_rerun(result) and name not in reran
        print("e2e: %-45s %d passed, %d failed, %5.1f s%s"
              % (name, result["passed"], result["failed"], seconds,
                 ", Wine or Xvfb did not come up: running it again" if rerun else ""),
              flush=True)
        if result["failed"]:
            with open(os.path.join(work, "log"), errors="replace") as f:
                for line in f:
                    print("  | " + line.rstrip())
            print("  | (the group's run ended with status %d)" % process.returncode, flush=True)
        if rerun:
            reran.append(name)
            queue.append(name)
            continue
        passed += result["passed"]
        failed += result["failed"]
    save_json(TIMES, times)
    history = load_json(RERUNS)
    defects = note_runs(history, names, reran)
    save_json(RERUNS, history)
    print("e2e: %d groups, %d at a time, %.1f s" % (len(names), PARALLEL,
                                                   time.monotonic() - start))
    for name in reran:
        print("e2e: rerun: %s (Wine or Xvfb did not come up; %d of its last %d runs needed one)"
              % (name, history[name].count(True), len(history[name])))
    for name in defects:
        print("e2e: %s needed a rerun in two of its last %d runs: a defect to mend"
              % (name, HISTORY))
    failed += len(defects)
    print("e2e: %d passed, %d failed%s" % (passed, failed,
                                           " (%d rerun)" % len(reran) if reran else ""))
    return 0 if failed == 0 else 1


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--group":
        return run_group(sys.argv[2])
    return run_all(sys.argv[1] if len(sys.argv) > 1 else "test_*.py")


if __name__ == "__main__":
    sys.exit(main())
