"""The panel for a keyboard and a screen reader, and at 200%: every control's accessible name
(as MSAA's proxy reads it, see the probe's `names`), the Tab order, Space and Enter on the
pictures, and the panel at 192 dpi drawn from the bitmaps made for it."""

import os
import unittest

import harness
from test_controls import LinkTest

ADDRESS, MUTE = 1036, 1053
BARS = (1010, 1011, 1012, 1013)

NAMES = {
    1038: "Solo Left", 1039: "Solo Right", 1040: "Pre 2ch", 1041: "Next 2ch", 1042: "Pre 8ch",
    1043: "Next 8ch", 1044: "SDI Input", 1045: "Mix-Down", 1046: "VU-Mode", 1047: "DPPM-MODE",
    1048: "LKFS-Mode", 1049: "Connect", 1050: "Disconnect", 1051: "Volume Down",
    1052: "Volume Up", 1053: "Mute", 1054: "Firmware Update", 1055: "Read", 1056: "Apply",
    1057: "LCD Brightness Down", 1058: "LCD Brightness Up", 1059: "LCD Contrast Down",
    1060: "LCD Contrast Up", 1061: "LCD Saturation Down", 1062: "LCD Saturation Up",
    1063: "Factory Reset", 1064: "Default IP", 1065: "HDMI Input",
    1067: "Balanced Audio Input", 1068: "Unbalanced Audio Input",
    1009: "Ethernet", 1019: "RS232", 1032: "Static IP", 1033: "DHCP",
    1010: "Volume", 1011: "LCD Brightness", 1012: "LCD Contrast", 1013: "LCD Saturation",
    1023: "PORT", 1028: "IP Address", 1029: "Subnet Mask", 1030: "Gateway",
    1031: "MAC Address", 1036: "IP",
}
# The pictures a Tab from the address field reaches, in creation order (LKFS-Mode is hidden).
TAB_WALK = [1038, 1039, 1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047, 1049, 1050, 1051,
            1052, 1053, 1054, 1055, 1056, 1057, 1058, 1059, 1060, 1061, 1062, 1063, 1064,
            1065, 1067, 1068]


class AccessTest(LinkTest):
    screen = "2600x1400"  # room for the panel at 200%
    address = "127.0.0.30"

    def test_every_control_is_named_and_tab_walks_the_pictures(self):
        panel = self.start_panel(harness.ip_value("127.0.0.9"))
        names = panel.names()
        self.assertEqual({c: names[c][0] for c in NAMES}, NAMES)
        self.assertEqual([names[b][1] for b in BARS], ["40", "0", "0", "0"])  # the meters' values
        self.assertEqual(names[ADDRESS][1], "127.0.0.9")

        self.panel = panel
        self.tab_to(ADDRESS)
        walked = []
        for _ in TAB_WALK:
            panel.key("Tab")
            walked.append(panel.focus())
        self.assertEqual(walked, TAB_WALK)
        panel.key("shift+Tab")
        self.assertEqual(panel.focus(), TAB_WALK[-2])

        # Enter anywhere but on a picture is still OK.
        self.tab_to(ADDRESS)
        panel.key("Return")
        self.assertEqual(panel.exit_code(), 1)

    def tab_to(self, control):
        for _ in range(len(TAB_WALK) + 12):
            if self.panel.focus() == control:
                return
            self.panel.key("Tab")
        self.fail("Tab never reached %d" % control)

    def press_on_mute(self, key):
        """A key on the focused Mute picture. Its pressed look goes in and out again as after a
        click (the same handler): no bitmap more or less. Wine shows neither's pressed look
        on screen, as it draws a window only when its thread next waits for messages."""
        self.tab_to(MUTE)
        bitmaps = self.panel.live_bitmaps()
        before = self.commands()
        self.panel.key(key)
        self.wait_traffic(lambda got: len(self.commands()) > len(before), "Mute's command")
        self.settle()  # the handler's pause after the command, and its picture put back
        self.assertEqual(self.panel.live_bitmaps(), bitmaps)
        self.assertEqual(self.panel.look(MUTE), "grey")
        return self.commands()[len(before):]

    def test_space_on_mute_and_a_lamp_that_follows_the_poll_on_ethernet(self):
        self.open_link("tcp")
        self.assertEqual(self.press_on_mute("space"), ["ROT3\r\n"])

        self.sim.control("set solo-left=1 volume=12 brightness=90")
        self.poll()
        names = self.panel.wait_for(
            lambda: (lambda n: n if n[1038][0] == "Solo Left, on" else None)(self.panel.names()),
            what="Solo Left named lit")
        self.assertEqual(names[1039][0], "Solo Right")
        self.assertEqual([names[b][1] for b in BARS[:2]], ["12", "90"])
        self.sim.control("set solo-left=0")
        self.poll()
        self.panel.wait_for(lambda: self.panel.names()[1038][0] == "Solo Left",
                            what="Solo Left named out")

    def test_space_and_enter_on_mute_on_rs232(self):
        self.open_link("serial")
        self.assertEqual(self.press_on_mute("space"), ["04 53 57 0B"])
        self.assertEqual(self.press_on_mute("Return"), ["04 53 57 0B"])

    def test_at_192_dpi_the_panel_doubles_and_shows_the_2x_bitmaps(self):
        from PIL import Image

        panel = self.start_panel(harness.ip_value("127.0.0.9"))
        small = panel.client
        bitmaps = panel.live_bitmaps()
        panel.close()

        self.prefix.kill_server()
        path = os.path.join(harness.WORK, "prefix-192dpi")
        if not os.path.exists(os.path.join(path, "system.reg")):
            harness.copy_prefix(self.prefix.path, path)
        prefix = harness.WinePrefix(path)
        prefix.set_dpi(192)
        self.addCleanup(prefix.kill_server)
        prefix.write_address(harness.ip_value("127.0.0.9"))
        panel = harness.Panel(prefix, self.display)
        self.addCleanup(panel.close)

        big = panel.client
        for axis in (0, 1):
            ratio = (big[axis + 2] - big[axis]) / (small[axis + 2] - small[axis])
            self.assertAlmostEqual(ratio, 2.0, delta=0.1)  # dialog units follow the font
        left, top, right, bottom = panel.control(MUTE)["rect"]
        self.assertEqual((right - left, bottom - top), (200, 90))  # 2 x 100 x 45
        self.assertEqual(panel.live_bitmaps(), bitmaps)
        self.assertEqual(panel.names()[MUTE][0], "Mute")

        # The label as drawn at 2x, pixel for pixel: a 1x one enlarged would have blurred or
        # doubled edges. The face greys are left out, as the system maps them to its colours.
        shot = os.path.join(harness.WORK, "dpi.png")
        self.display.screenshot(shot)
        screen = Image.open(shot).convert("RGB").crop((left, top, right, bottom))
        drawn = Image.open(os.path.join(harness.ROOT, "res", "bmp", "2x", "213.bmp")).convert("RGB")
        mapped = {(128, 128, 128), (192, 192, 192), (223, 223, 223)}
        label = [(x, y) for y in range(drawn.height) for x in range(drawn.width)
                 if drawn.getpixel((x, y)) not in mapped]
        self.assertGreater(len(label), 1000)
        wrong = [p for p in label if screen.getpixel(p) != drawn.getpixel(p)]
        self.assertEqual(wrong[:5], [])
        # VANTREL_PANEL_PICTURE_192=docs/panel-192dpi.png renews the README's picture.
        picture = os.environ.get("VANTREL_PANEL_PICTURE_192")
        if picture:
            panel.save_picture(picture)


if __name__ == "__main__":
    unittest.main()
