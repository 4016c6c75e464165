"""The panel as a person meets it: start-up, the address file, Connect and Disconnect, closing."""

import os
import unittest

import harness
from session import PanelTest

STATUS, MAC, ADDRESS, COM_LIST = 1008, 1031, 1036, 1023
VOLUME_BAR, BRIGHTNESS_BAR, CONTRAST_BAR, SATURATION_BAR = 1010, 1011, 1012, 1013
ETHERNET, RS232, CONNECT, DISCONNECT = 1009, 1019, 1049, 1050


class StartUpTest(PanelTest):
    def test_first_start_creates_the_address_file_with_the_default_address(self):
        if os.path.exists(self.prefix.address_file):
            os.remove(self.prefix.address_file)
        panel = harness.Panel(self.prefix, self.display)
        self.addCleanup(panel.close)
        self.assertEqual(panel.ip(ADDRESS), "192.168.1.220")
        with open(self.prefix.address_file) as f:
            self.assertEqual(f.read(), "3232235996")

    def test_address_file_value_and_text(self):
        for content, shown in ((167772161, "10.0.0.1"), ("not a number", "0.0.0.0")):
            with self.subTest(content=content):
                panel = self.start_panel(content)
                self.assertEqual(panel.ip(ADDRESS), shown)
                panel.key("Escape")
                self.assertEqual(panel.exit_code(), 2)

    def test_initial_layout(self):
        panel = self.start_panel(harness.ip_value("127.0.0.9"))
        controls = panel.controls()
        self.assertEqual(len(controls), 46)  # 48 controls, two of them without an id
        self.assertEqual(controls[ETHERNET]["check"], 1)
        self.assertEqual(controls[RS232]["check"], 0)
        self.assertFalse(controls[COM_LIST]["visible"])
        for field in (1028, 1029, 1030, 1032, 1033):
            self.assertFalse(controls[field]["enabled"], field)
        self.assertEqual(controls[MAC]["text"], "")
        self.assertEqual((controls[VOLUME_BAR]["low"], controls[VOLUME_BAR]["high"]), (0, 40))
        self.assertEqual(controls[VOLUME_BAR]["pos"], 40)  # 999 shows at the top of the range
        for bar in (BRIGHTNESS_BAR, CONTRAST_BAR, SATURATION_BAR):
            self.assertEqual((controls[bar]["low"], controls[bar]["high"], controls[bar]["pos"]),
                             (0, 255, 0))
        self.assertEqual(panel.look(CONNECT), "grey")
        self.assertEqual(panel.look(DISCONNECT), "grey")

    def test_tab_moves_the_focus(self):
        panel = self.start_panel(harness.ip_value("127.0.0.9"))
        first = panel.wait_for(panel.focus, what="a focused control")
        panel.key("Tab")
        second = panel.wait_for(lambda: panel.focus() != first and panel.focus(),
                                what="the focus to move")
        self.assertNotEqual(first, second)


class ClosingTest(PanelTest):
    def test_escape_and_close_box_quit_with_2_enter_with_1(self):
        # The program takes no arguments: whatever is given changes nothing.
        panel = self.start_panel(harness.ip_value("127.0.0.9"), args=["/unit", "127.0.0.8"])
        self.assertEqual(panel.ip(ADDRESS), "127.0.0.9")
        panel.key("Escape")
        self.assertEqual(panel.exit_code(), 2)

        panel = self.start_panel(harness.ip_value("127.0.0.9"))
        panel.close_box()
        self.assertEqual(panel.exit_code(), 2)

        panel = self.start_panel(harness.ip_value("127.0.0.9"))
        panel.click(ADDRESS)
        panel.key("Return")
        self.assertEqual(panel.exit_code(), 1)


class ConnectTest(PanelTest):
    def test_connect_and_disconnect_against_the_simulated_unit(self):
        levels = [17, 90, 60, 200]  # none of them what the bars show before the first status
        sim = self.start_sim("127.0.0.2", "--levels", ",".join(str(x) for x in levels))
        panel = self.start_panel(harness.ip_value("127.0.0.2"))
        panel.click(CONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Login success!", what="Login success!")
        mac = panel.wait_for(lambda: panel.text(MAC), what="the MAC text")
        self.assertRegex(mac, r"^[0-9A-F]{12}$")
        panel.wait_for(lambda: [panel.control(b)["pos"] for b in
                                (VOLUME_BAR, BRIGHTNESS_BAR, CONTRAST_BAR, SATURATION_BAR)]
                       == levels, what="the bars at the unit's levels")
        self.assertEqual(panel.look(CONNECT), "blue")
        self.assertEqual(panel.look(DISCONNECT), "grey")
        self.assertEqual(sim.received_text()[:3], ["admin\r\n", "846\r\n", "READMAC\r\n"])
        # VANTREL_PANEL_PICTURE=docs/panel.png renews the README's picture of the panel.
        picture = os.environ.get("VANTREL_PANEL_PICTURE")
        if picture:
            panel.save_picture(picture)

        panel.click(DISCONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Disconnect!", what="Disconnect!")
        panel.wait_for(lambda: panel.look(CONNECT) == "grey", what="Connect grey")
        self.assertEqual(panel.look(DISCONNECT), "blue")

    def test_connect_where_no_unit_listens(self):
        panel = self.start_panel(harness.ip_value("127.0.0.3"))
        panel.click(CONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Connect to device fail.",
                       what="Connect to device fail.")
        panel.wait_for(lambda: panel.look(DISCONNECT) == "blue", what="Disconnect lit")
        self.assertEqual(panel.look(CONNECT), "grey")


class ComPortTest(PanelTest):
    def test_mapped_port_is_listed_and_hidden_on_ethernet(self):
        sim = self.start_sim("127.0.0.4", "--pty", os.path.join(harness.WORK, "pty-com5"))
        self.prefix.map_com_port(5, sim.pty())
        self.addCleanup(self.prefix.unmap_com_ports)
        panel = self.start_panel(harness.ip_value("127.0.0.4"))
        combo = panel.control(COM_LIST)
        self.assertIn("COM 5", combo["items"])
        self.assertEqual(combo["selection"], 0)
        self.assertFalse(combo["visible"])


if __name__ == "__main__":
    unittest.main()
