"""What every end-to-end test module shares: one display and one Wine prefix per run."""

import os
import unittest

import harness

_display = None
_prefix = None


def setUp(screen):
    global _display, _prefix
    if _display is None:
        _display = harness.Display(screen)
        _prefix = harness.WinePrefix(os.path.join(harness.WORK, "prefix"))
    if not _prefix.kept:  # the group's first case, or one after a case stopped the server
        _prefix.keep_server()
    return _display, _prefix


def tearDown():
    global _display, _prefix
    if _prefix is not None:
        _prefix.kill_server()
    if _display is not None:
        _display.close()
    _display = _prefix = None


class PanelTest(unittest.TestCase):
    """A case with the display and prefix at hand and everything it starts cleaned up."""

    screen = "1400x900"  # the group's display; its first case sets it

    def setUp(self):
        self.display, self.prefix = setUp(self.screen)

    def start_sim(self, address, *extra):
        sim = harness.Sim(address, *extra)
        self.addCleanup(sim.close)
        return sim

    def start_panel(self, address_value, args=()):
        """Starts the panel with the address file holding address_value (never a real unit)."""
        self.prefix.write_address(address_value)
        panel = harness.Panel(self.prefix, self.display, args)
        self.addCleanup(panel.close)
        return panel
