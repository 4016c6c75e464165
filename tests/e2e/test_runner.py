"""The runner's own rules, with no panel: what counts as failed, which group runs again, and
when a rerun is a defect."""

import io
import json
import os
import tempfile
import unittest

import e2e
import harness
from case_counts import CountingResult


def run_cases(result_class, **bodies):
    """Runs one case per body (a function of the case) through result_class; the result."""
    cases = type("Cases", (unittest.TestCase,), {"test_" + n: b for n, b in bodies.items()})
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(cases)
    return unittest.TextTestRunner(stream=io.StringIO(), resultclass=result_class).run(suite)


class RunnerTest(unittest.TestCase):
    def test_whatever_did_not_pass_counts_as_failed(self):
        def fail(case):
            case.fail("wrong")

        def skip_while_running(case):
            case.skipTest("no unit")

        result = run_cases(CountingResult, passes=lambda case: None, fails=fail,
                           errs=lambda case: 1 / 0, skips=skip_while_running,
                           marked=unittest.skip("not on this machine")(lambda case: None),
                           succeeds=unittest.expectedFailure(lambda case: None))
        self.assertEqual(result.summary("e2e: "),
                         "e2e: 1 passed, 4 failed (1 skipped without a skip mark)")
        named = result.failure_lines("e2e: ")
        self.assertEqual(2, len(named))
        self.assertRegex(named[0], r"^e2e: failed: .*fails: AssertionError: wrong$")
        self.assertRegex(named[1], r"^e2e: failed: .*errs: ZeroDivisionError: division by zero$")

        class BrokenSetUp(unittest.TestCase):
            @classmethod
            def setUpClass(cls):
                raise OSError("no display")

            def test_never_runs(self):
                pass

        broken = unittest.TextTestRunner(stream=io.StringIO(), resultclass=CountingResult).run(
            unittest.defaultTestLoader.loadTestsFromTestCase(BrokenSetUp))
        self.assertEqual(broken.counts()[:2], (0, 1))
        nothing = unittest.TextTestRunner(stream=io.StringIO(),
                                          resultclass=CountingResult).run(unittest.TestSuite())
        self.assertEqual(nothing.summary(), "0 passed, 1 failed (no case ran)")

    def test_only_a_group_whose_failures_are_all_start_faults_runs_again(self):
        def no_window(case):
            raise harness.StartFault("the panel window did not appear")

        def wrong(case):
            case.fail("wrong text")

        for bodies, rerun in (({"a": no_window, "b": no_window}, True),
                              ({"a": no_window, "b": wrong}, False),
                              ({"a": lambda case: None}, False)):
            result = run_cases(e2e.Result, **bodies)
            passed, failed, _ = result.counts()
            with self.subTest(bodies=sorted(bodies)):
                self.assertEqual(e2e.needs_rerun(
                    {"passed": passed, "failed": failed, "start_faults": result.start_faults}),
                    rerun)

    def test_a_group_run_counts_only_if_its_exit_status_agrees(self):
        with tempfile.TemporaryDirectory() as work:
            self.assertEqual(e2e.group_result(work, 0)["failed"], 1)  # died before its result
            with open(os.path.join(work, e2e.RESULT), "w") as f:
                json.dump({"passed": 3, "failed": 0, "start_faults": 0}, f)
            self.assertEqual(e2e.group_result(work, 0), {"passed": 3, "failed": 0,
                                                         "start_faults": 0})
            self.assertEqual(e2e.group_result(work, 1)["failed"], 1)

    def test_a_second_rerun_within_five_runs_is_a_defect(self):
        history = {}
        runs = [set(), {"A"}, set(), set(), set(), set(), {"A"}, {"A", "B"}]
        found = [e2e.note_runs(history, ["A", "B"], reran) for reran in runs]
        # The first rerun of A has left the last five runs when it is rerun again.
        self.assertEqual(found, [[], [], [], [], [], [], [], ["A"]])
        self.assertEqual(history["A"], [False, False, False, True, True])


if __name__ == "__main__":
    unittest.main()
