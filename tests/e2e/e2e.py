"""Runs the end-to-end tests and ends with one line: 'N passed, N failed'.

Each test class is a group. The groups run two at a time, most of a case being spent waiting
on the protocol's pauses; each runs as `tests/e2e/run --group NAME` in a network namespace of
its own (only lo), with its own Xvfb display, its own copy of the Wine prefix and its own work
folder (traffic logs, ptys, control sockets) under build/e2e/groups/NAME.
"""

import json
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import session  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
RUN = os.path.join(HERE, "run")
PARALLEL = 2
TIMES = os.path.join(harness.E2E, "times.json")  # each group's seconds in the last run


class Result(unittest.TextTestResult):
    """Saves a screenshot of the screen whenever a case fails."""

    def _shoot(self, test):
        display = getattr(test, "display", None)
        if display is not None:
            harness.save_failure(display, test.id().split(".")[-1])

    def addFailure(self, test, err):
        self._shoot(test)
        super().addFailure(test, err)

    def addError(self, test, err):
        self._shoot(test)
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
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    print("e2e: %d passed, %d failed" % (result.testsRun - failed, failed))
    return 0 if failed == 0 and result.testsRun > 0 else 1


def counts(log_path):
    """The group's closing line; a group that died before it counts as one failure."""
    with open(log_path, errors="replace") as f:
        lines = [line for line in f if line.startswith("e2e: ") and " passed, " in line]
    if not lines:
        return 0, 1
    words = lines[-1].split()
    return int(words[1]), int(words[3])


def run_all(pattern):
    names = groups(pattern)
    if not names:
        print("e2e: no test ran")
        print("e2e: 0 passed, 1 failed")
        return 1
    # The template prefix is made once; each group starts from a copy of it, no server running.
    harness.WinePrefix(harness.TEMPLATE_PREFIX).kill_server()
    try:
        with open(TIMES) as f:
            last = json.load(f)
    except (OSError, ValueError):
        last = {}
    # The longest first, so that the two lanes end close together; a new group counts as long.
    queue = sorted(names, key=lambda n: -last.get(n, 1e9))
    running = {}
    passed = failed = 0
    retried = []  # groups that failed once and ran again
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
        time.sleep(0.5)
        for process in [p for p in running if p.poll() is not None]:
            name, work, log, began, _ = running.pop(process)
            log.close()
            seconds = time.monotonic() - began
            times[name] = round(seconds, 1)
            ok, bad = counts(os.path.join(work, "log"))
            shutil.rmtree(os.path.join(work, "prefix"), ignore_errors=True)  # its 60 MB of copies
            print("e2e: %-45s %d passed, %d failed, %5.1f s" % (name, ok, bad, seconds),
                  flush=True)
            if bad:
                with open(os.path.join(work, "log"), errors="replace") as f:
                    for line in f:
                        print("  | " + line.rstrip())
                print("  | (the group's run ended with status %d)" % process.returncode)
            # Wine under a loaded machine now and then fails to show a window at all: a group
            # that fails runs once more, from a fresh prefix, and the summary names it.
            if bad and name not in retried:
                retried.append(name)
                queue.append(name)
                print("  | (running the group once more)", flush=True)
                continue
            passed += ok
            failed += bad
    with open(TIMES, "w") as f:
        json.dump(times, f, indent=1, sort_keys=True)
    print("e2e: %d groups, %d at a time, %.1f s" % (len(names), PARALLEL,
                                                   time.monotonic() - start))
    if retried:
        print("e2e: ran a second time after a failure: %s" % ", ".join(retried))
    print("e2e: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--group":
        return run_group(sys.argv[2])
    return run_all(sys.argv[1] if len(sys.argv) > 1 else "test_*.py")


if __name__ == "__main__":
    sys.exit(main())
