"""Runs the end-to-end tests and ends with one line: 'N passed, N failed'."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import session  # noqa: E402


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


def main():
    pattern = sys.argv[1] if len(sys.argv) > 1 else "test_*.py"
    suite = unittest.defaultTestLoader.discover(os.path.dirname(os.path.abspath(__file__)),
                                                pattern=pattern)
    runner = unittest.TextTestRunner(verbosity=2, resultclass=Result)
    try:
        result = runner.run(suite)
    finally:
        session.tearDown()
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    print("e2e: %d passed, %d failed" % (result.testsRun - failed, failed))
    if result.testsRun == 0:
        print("e2e: no test ran")
        return 1
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
