"""vantrelctl.exe under Wine gives what the Linux build gives, against the simulated unit."""

import json
import os
import subprocess
import unittest

import harness
from session import PanelTest

CTL_EXE = os.path.join(harness.BUILD, "windows", "cli", "vantrelctl.exe")
CTL = os.path.join(harness.NATIVE, "cli", "vantrelctl")


class VantrelctlUnderWineTest(PanelTest):
    def test_status_json_is_the_same_under_wine(self):
        sim = self.start_sim("127.0.0.40", "--levels", "33,200,150,90")
        sim.control("set solo-left=1 input=2")
        linux = subprocess.run([CTL, "--unit", "127.0.0.40", "status", "--json"],
                               capture_output=True, text=True, timeout=60)
        ctl = self.prefix.start(CTL_EXE, "--unit", "127.0.0.40", "status", "--json",
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # A program that outlives its limit ends with the group's session.
        out, err = ctl.communicate(timeout=120)
        self.assertEqual((linux.returncode, ctl.returncode), (0, 0), out + err)
        # The same state, read at two moments: everything but the time it was read.
        shown = [json.loads(text) for text in (out, linux.stdout)]
        for status in shown:
            self.assertRegex(status.pop("time"), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        self.assertEqual(shown[0], shown[1])
        self.assertIn('"levels":[33,200,150,90]', linux.stdout)


if __name__ == "__main__":
    unittest.main()
