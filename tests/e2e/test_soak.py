"""No bitmap outlives its use: a thousand status polls that each change every lamp and the
input, on the serial link, with the panel's held bitmaps and memory watched."""

import time
import unittest

import harness
import test_controls as tc

POLLS = 1000
STATES = ("set solo-left=1 solo-right=0 mix-down=1 meter=1 input=2",
          "set solo-left=0 solo-right=1 mix-down=0 meter=0 input=3")


class SoakTest(tc.LinkTest):
    address = "127.0.0.21"

    def status_polls(self):
        with open(self.sim.log_path) as f:
            return f.read().count('"hex":"04535724"')

    def test_thousand_polls_hold_no_more_bitmaps(self):
        panel = self.open_link("serial")
        bitmaps = {}
        start = time.monotonic()
        for poll in range(1, POLLS + 1):
            self.sim.control(STATES[poll % 2])
            before = self.status_polls()
            panel.tick()  # WM_TIMER 1, as the 5 s timer would
            harness.wait_until(lambda: self.status_polls() > before, 10, step=0.01,
                               what="poll %d at the unit" % poll)
            if poll % 100 == 0:
                panel.wait_idle(what="the redraw after the reply")
                bitmaps[poll] = panel.live_bitmaps()
                if poll == 100:
                    memory_at_100 = panel.memory_kb()
        memory_at_1000 = panel.memory_kb()
        elapsed = time.monotonic() - start
        print("\n  soak: %d polls in %.0f s; held bitmaps %s; memory %d kB at poll 100, %d kB "
              "at poll %d" % (POLLS, elapsed, sorted(set(bitmaps.values())), memory_at_100,
                              memory_at_1000, POLLS))
        self.assertEqual(len(set(bitmaps.values())), 1, bitmaps)
        self.assertLess(memory_at_1000 - memory_at_100, 1024)
        # The last state is on screen.
        self.expect_looks({tc.SOLO_LEFT: "blue", tc.SOLO_RIGHT: "grey", tc.MIX_DOWN: "blue",
                           tc.DPPM: "blue", tc.BALANCED: "blue", tc.UNBALANCED: "grey"})


if __name__ == "__main__":
    unittest.main()
