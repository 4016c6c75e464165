"""How a unittest run ends for the test command: one line, 'N passed, N failed'.

Whatever did not pass is failed: a failure, an error (in a case, or in a class's or module's
set-up, which no case counts), an unexpected success, a skip that no skip decorator on the
case or its class asked for (a skipTest() decided while running), and a run in which no case
ran at all.
"""

import unittest


def marked_to_skip(test):
    """Whether a skip decorator on the case's method or class asked for its skip."""
    method = getattr(test, getattr(test, "_testMethodName", ""), None)
    return bool(getattr(type(test), "__unittest_skip__", False)
                or getattr(method, "__unittest_skip__", False))


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def counts(self):
        """(passed, failed, why): why names what failed besides failures and errors."""
        unmarked = sum(1 for test, _ in self.skipped if not marked_to_skip(test))
        failed = (len(self.failures) + len(self.errors) + len(self.unexpectedSuccesses)
                  + unmarked)
        why = []
        if unmarked:
            why.append("%d skipped without a skip mark" % unmarked)
        if self.testsRun == 0 and failed == 0:
            failed = 1
            why.append("no case ran")
        return self.passed, failed, why

    def failure_lines(self, prefix=""):
        """A line for each case that failed or erred, with its message's last line: the end of
        a long log, which is all a CI page may show, then still names what to look at."""
        return ["%sfailed: %s: %s" % (prefix, test.id(), trace.strip().splitlines()[-1][:200])
                for test, trace in self.failures + self.errors]

    def summary(self, prefix=""):
        passed, failed, why = self.counts()
        return "%s%d passed, %d failed%s" % (prefix, passed, failed,
                                             " (%s)" % ", ".join(why) if why else "")
