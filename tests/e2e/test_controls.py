"""The panel's controls on both links against the simulated unit, driven as a person would:
every pictured button, the status poll, the network settings and the faults."""

import os
import subprocess
import unittest

import harness
from session import PanelTest

STATUS, MAC, ADDRESS, COM_LIST = 1008, 1031, 1036, 1023
ETHERNET, RS232, CONNECT, DISCONNECT = 1009, 1019, 1049, 1050
UNIT_IP, UNIT_MASK, UNIT_GATEWAY, STATIC_IP, DHCP = 1028, 1029, 1030, 1032, 1033
READ, APPLY, DEFAULT_IP = 1055, 1056, 1064
BARS = (1010, 1011, 1012, 1013)
SOLO_LEFT, SOLO_RIGHT, MIX_DOWN, VU, DPPM = 1038, 1039, 1045, 1046, 1047
HDMI, SDI, BALANCED, UNBALANCED = 1065, 1044, 1067, 1068
INPUTS = (HDMI, SDI, BALANCED, UNBALANCED)
STATUS_POLL = {"tcp": "STA1\r\n", "serial": "04 53 57 24"}

# Every pictured button that a click reaches, in an order that makes each one act: (control,
# console lines, serial frames, looks afterwards). The LCD rows start at 100 and step by 5.
CONTROLS = [
    (SOLO_RIGHT, ["BTN2\r\n"], ["04 53 57 02"], {SOLO_RIGHT: "blue"}),
    # Solo Left while Solo Right is lit: only Solo Left's command, and Solo Right goes out.
    (SOLO_LEFT, ["BTN1\r\n"], ["04 53 57 01"], {SOLO_LEFT: "blue", SOLO_RIGHT: "grey"}),
    (1040, ["BTN3\r\n"], ["04 53 57 03"], {1040: "grey"}),
    (1041, ["BTN4\r\n"], ["04 53 57 04"], {1041: "grey"}),
    (1042, ["BTN5\r\n"], ["04 53 57 05"], {1042: "grey"}),
    (1043, ["BTN6\r\n"], ["04 53 57 06"], {1043: "grey"}),
    # SDI while HDMI is lit: the two pictures swap.
    (SDI, ["BTNE\r\n"], ["04 53 57 26"], {SDI: "blue", HDMI: "grey"}),
    (MIX_DOWN, ["BTN8\r\n"], ["04 53 57 08"], {MIX_DOWN: "blue"}),
    (DPPM, ["BTNA\r\n"], ["04 53 57 14"], {DPPM: "blue", VU: "grey"}),
    (VU, ["BTN9\r\n"], ["04 53 57 13"], {VU: "blue", DPPM: "grey"}),
    (VU, [], [], {VU: "blue", DPPM: "grey"}),  # already VU: nothing at all
    (1051, ["ROT2\r\n", "REA6\r\n"], ["04 53 57 0A", "04 53 57 11"], {1051: "grey"}),
    (1052, ["ROT1\r\n", "REA6\r\n"], ["04 53 57 09", "04 53 57 11"], {1052: "grey"}),
    (1053, ["ROT3\r\n"], ["04 53 57 0B"], {1053: "grey"}),
    (1057, ["ROT5\r\n", "REA8\r\n"], ["04 53 57 17", "05 53 57 16 5F"], {1057: "grey"}),
    (1058, ["ROT4\r\n", "REA8\r\n"], ["04 53 57 17", "05 53 57 16 64"], {1058: "grey"}),
    (1059, ["ROT7\r\n", "REA9\r\n"], ["04 53 57 19", "05 53 57 18 5F"], {1059: "grey"}),
    (1060, ["ROT6\r\n", "REA9\r\n"], ["04 53 57 19", "05 53 57 18 64"], {1060: "grey"}),
    (1061, ["ROT9\r\n", "REA10\r\n"], ["04 53 57 21", "05 53 57 20 5F"], {1061: "grey"}),
    (1062, ["ROT8\r\n", "REA10\r\n"], ["04 53 57 21", "05 53 57 20 64"], {1062: "grey"}),
    (HDMI, ["BTND\r\n"], ["04 53 57 25"], {HDMI: "blue", SDI: "grey"}),
    (BALANCED, ["BTNF\r\n"], ["04 53 57 27"], {BALANCED: "blue", HDMI: "grey"}),
    (UNBALANCED, ["BTNG\r\n"], ["04 53 57 28"], {UNBALANCED: "blue", BALANCED: "grey"}),
    (1063, ["BTNC\r\n"], ["04 53 57 23"], {1063: "grey"}),
]


class LinkTest(PanelTest):
    """A panel on one link to a simulated unit that also serves a pty as COM5."""

    address = "127.0.0.20"

    def open_link(self, link, *sim_args):
        self.link = link
        link_path = os.path.join(harness.WORK, "pty-%s" % self.address)
        self.sim = self.start_sim(self.address, "--pty", link_path, "--default-ip", self.address,
                                  *sim_args)
        # Through the unit's link to its pty, which goes when the unit does, as an unplugged
        # adapter's port would.
        self.prefix.map_com_port(5, link_path)
        self.addCleanup(self.prefix.unmap_com_ports)
        self.panel = self.start_panel(harness.ip_value(self.address))
        if link == "tcp":
            self.panel.click(CONNECT)
            self.panel.wait_for(lambda: self.panel.text(STATUS) == "Login success!",
                                what="Login success!")
            self.wait_traffic(lambda got: "IPMODE\r\n" in got, "the session's first reads")
        else:
            self.panel.click(RS232)
            self.panel.wait_for(lambda: self.panel.control(COM_LIST)["visible"],
                                what="the COM list")
            self.choose_com_port("COM 5")
            self.wait_traffic(lambda got: "04 87 60 01" in got, "the link choice's read")
            self.panel.wait_idle(what="the rest of the read and its pause")
        return self.panel

    def choose_com_port(self, item):
        """Picks a port in the COM list as a person does: open the list, arrow down to it."""
        combo = self.panel.control(COM_LIST)
        steps = combo["items"].index(item) - combo["selection"]
        if steps == 0:
            return
        self.panel.click(COM_LIST)
        self.panel.wait_for(lambda: self.panel.focus() == COM_LIST, what="the COM list focused")
        # Into the list, which has the focus now; Enter would reach the panel as OK.
        subprocess.run(["xdotool", "key", "--delay", "100"] + ["Down"] * steps, timeout=30)
        self.panel.wait_for(lambda: self.panel.control(COM_LIST)["selection"] ==
                            combo["items"].index(item), what="the list at " + item)
        self.panel.click(COM_LIST)
        self.panel.wait_for(lambda: self.panel.control(COM_LIST)["selection"] ==
                            combo["items"].index(item), what="the COM list at " + item)

    def commands(self):
        """What the unit received on the link in use, status polls left out."""
        return [x for x in self.sim.received(self.link) if x != STATUS_POLL[self.link]]

    def wait_traffic(self, predicate, what, timeout=15):
        return harness.wait_until(lambda: predicate(self.sim.received(self.link)), timeout,
                                  what=what)

    def polls(self):
        return self.sim.received(self.link).count(STATUS_POLL[self.link])

    def poll(self):
        """One status poll, and its redraw."""
        before = self.polls()
        self.panel.tick()
        self.wait_traffic(lambda got: got.count(STATUS_POLL[self.link]) > before, "a status poll")
        self.settle()

    def settle(self):
        """Waits until what the panel has begun on the link is done and drawn. On RS232 the
        exchanges and their redraws hold the window's thread. On Ethernet the session serves
        one code at a time and redraws before it takes the next, and the timer's code waits
        for the handlers before it: once a status poll reaches the unit, all before it is done."""
        if self.link == "serial":
            self.panel.wait_idle()
            return
        before = self.polls()
        # A poll's code is stored only while no other is, so the timer ticks until one is.
        self.panel.wait_for(lambda: self.polls() > before or self.panel.tick(),
                            what="a status poll after the rest")

    def expect_looks(self, looks):
        self.panel.wait_for(lambda: self.panel.looks(looks) == looks, timeout=5,
                            what="looks %r" % looks)


class ControlTableTest(LinkTest):
    def run_table(self, link):
        panel = self.open_link(link)
        self.sim.control("set brightness=100 contrast=100 saturation=100 input=0")
        self.poll()
        self.expect_looks({HDMI: "blue", SOLO_LEFT: "grey", SOLO_RIGHT: "grey"})
        before = self.commands()
        sent = []
        for control, lines, frames, looks in CONTROLS:
            with self.subTest(control=control):
                expected = lines if link == "tcp" else frames
                bitmaps = panel.live_bitmaps()
                panel.click(control)
                sent += expected
                harness.wait_until(lambda: len(self.commands()) >= len(before + sent), 10,
                                   what="control %d's command" % control)
                self.expect_looks(looks)
                self.assertEqual(self.commands(), before + sent)
                # The pressed picture went in and came out again: no bitmap more or less.
                self.assertEqual(panel.live_bitmaps(), bitmaps)
                if control in (1051, 1052):
                    volume = self.sim.state()["levels"][0]
                    panel.wait_for(lambda: panel.control(1010)["pos"] == volume,
                                   what="bar 1010 at the unit's volume")
        self.settle()
        self.assertEqual(self.commands(), before + sent)  # nothing more came

    def test_every_control_on_ethernet(self):
        self.run_table("tcp")

    def test_every_control_on_rs232(self):
        self.run_table("serial")

    def test_lcd_rows_stop_at_their_ends_on_rs232(self):
        panel = self.open_link("serial")
        self.sim.control("set brightness=3 contrast=251")
        for control, frame in ((1057, "04 53 57 17"), (1060, "04 53 57 19")):
            count = len(self.commands())
            panel.click(control)
            harness.wait_until(lambda: len(self.commands()) > count, 10, what="the level read")
            self.settle()
            self.assertEqual(self.commands()[count:], [frame])
        self.assertEqual(self.sim.state()["levels"][1:3], [3, 251])


class StatusPollTest(LinkTest):
    def follow_the_unit(self, link):
        panel = self.open_link(link)
        self.sim.control("set solo-left=1 solo-right=0 mix-down=1 meter=1 input=2 volume=33 "
                         "brightness=200 contrast=150 saturation=90")
        self.poll()
        self.expect_looks({SOLO_LEFT: "blue", SOLO_RIGHT: "grey", MIX_DOWN: "blue", VU: "grey",
                           DPPM: "blue", BALANCED: "blue", HDMI: "grey", SDI: "grey",
                           UNBALANCED: "grey"})
        panel.wait_for(lambda: [panel.control(b)["pos"] for b in BARS] == [33, 200, 150, 90],
                       what="the bars at the unit's levels")
        # An input the panel has no picture for: the lit one goes out and none lights.
        self.sim.control("set input=7")
        self.poll()
        self.expect_looks({c: "grey" for c in INPUTS})

    def test_panel_follows_the_unit_on_ethernet(self):
        self.follow_the_unit("tcp")

    def test_panel_follows_the_unit_on_rs232(self):
        self.follow_the_unit("serial")


class NetworkSettingsTest(LinkTest):
    def settings(self, link):
        panel = self.open_link(link)
        self.sim.control("set mask=255.255.0.0 gateway=127.0.0.254 dhcp=0")
        count = len(self.commands())
        panel.click(READ)
        panel.dismiss_box("Finish!")
        # Read is over when its picture is back: a code stored before then would be lost in
        # the clear that ends Read (the session's rule), so a person waits for it too.
        self.expect_looks({READ: "grey"})
        self.assertEqual(panel.ip(UNIT_IP), self.address)
        self.assertEqual(panel.ip(UNIT_MASK), "255.255.0.0")
        self.assertEqual(panel.ip(UNIT_GATEWAY), "127.0.0.254")
        self.assertEqual(panel.control(STATIC_IP)["check"], 1)
        self.assertEqual(panel.control(DHCP)["check"], 0)
        read = (["READIP\r\n", "READMASK\r\n", "READGATEWAY\r\n", "IPMODE\r\n"] if link == "tcp"
                else ["04 87 60 01", "04 87 60 02", "04 87 60 03", "04 87 60 04", "04 87 60 05"])
        self.assertEqual(self.commands()[count:], read)

        # Default IP: the unit's own default, here its loopback address.
        self.sim.control("set ip=127.0.0.12")
        count = len(self.commands())
        panel.click(DEFAULT_IP)
        if link == "serial":
            panel.dismiss_box("Finish!")  # the unit answered the address read that follows
            self.assertEqual(panel.ip(UNIT_IP), self.address)
        harness.wait_until(lambda: self.sim.state()["ip"] == self.address, 10,
                           what="the unit back at its default IP")
        self.assertEqual(self.commands()[count:], ["DEFAULTIP\r\n"] if link == "tcp" else
                         ["04 87 60 0B", "04 87 60 02"])

        # An emptied IP field: Apply refuses it before anything is sent.
        panel.set_ip(UNIT_IP, "")
        count = len(self.commands())
        panel.click(APPLY)
        panel.dismiss_box("Invalid IP address or mask!")
        self.assertEqual(self.commands()[count:], [])

        # Apply in static mode: the address controls' values, in order; 1036 first.
        panel.set_ip(UNIT_IP, "127.0.0.12")
        panel.set_ip(UNIT_MASK, "255.255.255.0")
        panel.set_ip(UNIT_GATEWAY, "127.0.0.1")
        count = len(self.commands())
        panel.click(APPLY)
        panel.dismiss_box("Finish!", timeout=30)
        expected = (["SETIPMODE=S\r\n", "MASK=255.255.255.0\r\n", "GATEWAY=127.0.0.1\r\n",
                     "IP=127.0.0.12\r\n"] if link == "tcp" else
                    ["08 87 60 06 7F 00 00 0C", "08 87 60 07 FF FF FF 00",
                     "08 87 60 08 7F 00 00 01", "05 87 60 09 00", "04 87 60 02",
                     "04 87 60 03", "04 87 60 04"])
        self.assertEqual(self.commands()[count:], expected)
        state = self.sim.state()
        self.assertEqual((state["ip"], state["mask"], state["gateway"], state["dhcp"]),
                         ("127.0.0.12", "255.255.255.0", "127.0.0.1", 0))
        if link == "serial":
            self.assertEqual(panel.ip(ADDRESS), "127.0.0.12")
            with open(self.prefix.address_file) as f:
                self.assertEqual(f.read(), str(harness.ip_value("127.0.0.12")))
            # DHCP: only the mode frame before the pause, then the read-back.
            panel.click(DHCP)
            count = len(self.commands())
            panel.click(APPLY)
            panel.dismiss_box("Finish!", timeout=30)
            self.assertEqual(self.commands()[count:],
                             ["05 87 60 09 01", "04 87 60 02", "04 87 60 03", "04 87 60 04"])
            self.assertEqual(self.sim.state()["dhcp"], 1)
        else:
            # Apply ends the session: the unit may now answer elsewhere.
            panel.wait_for(lambda: panel.text(STATUS) == "Disconnect!", what="Disconnect!")

    def test_settings_on_ethernet(self):
        self.settings("tcp")

    def test_settings_on_rs232(self):
        self.settings("serial")

    def test_silent_port(self):
        panel = self.open_link("serial", "--serial-fault", "silent")
        # The link choice's read failed: no box, and the poll stays paused.
        self.assertEqual(panel.boxes(), [])
        self.assertEqual(self.commands(), ["04 87 60 01"])
        # The tick is posted before the click's input comes, so the window takes it first.
        panel.tick()
        # Read fails after the MAC request, writing nothing more.
        panel.click(READ)
        panel.dismiss_box("Fail!")
        self.assertNotIn("04 53 57 24", self.sim.received("serial"))
        self.assertEqual(self.commands(), ["04 87 60 01", "04 87 60 01"])
        self.assertEqual(panel.look(READ), "grey")
        # Default IP to a unit that does not answer the address read after it: "Fail!".
        panel.click(DEFAULT_IP)
        panel.dismiss_box("Fail!")
        self.assertEqual(self.commands()[2:], ["04 87 60 0B", "04 87 60 02"])


class FaultTest(LinkTest):
    def test_missing_com_port(self):
        # COM 6 names a device that is not there, as an unplugged adapter's port would.
        self.prefix.map_com_port(6, os.path.join(harness.WORK, "no-such-port"))
        panel = self.open_link("serial")
        self.choose_com_port("COM 6")
        panel.wait_idle(what="the link choice's failed open")
        # VU-Mode is left out: while VU is shown it does nothing at all, by design.
        controls = [c for c, _, frames, _ in CONTROLS if frames and c != VU]
        for control in controls + [READ, APPLY, DEFAULT_IP]:
            with self.subTest(control=control):
                panel.click(control)
                panel.dismiss_box("Open COM fail!")
        self.expect_looks({c: "grey" for c in (1040, 1053, 1057, 1063, READ, APPLY, DEFAULT_IP)})
        self.assertNotIn("04 53 57 0B", self.sim.received("serial"))

    def test_unit_that_closes_the_connection(self):
        panel = self.open_link("tcp", "--fault", "close-after=9")
        # Polls until the unit has taken its nine lines and closes.
        panel.wait_for(lambda: panel.text(STATUS) == "Disconnect!" or panel.tick(),
                       what="Disconnect!")
        self.assertEqual(panel.look(CONNECT), "grey")

    def test_close_while_a_handler_waits_on_a_silent_unit(self):
        self.sim = self.start_sim(self.address, "--fault", "silent-after-login")
        panel = self.start_panel(harness.ip_value(self.address))
        panel.click(CONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Login success!", what="Login success!")
        panel.click(READ)  # the session is still waiting on the silent unit's replies
        bitmaps = panel.live_bitmaps()
        panel.click(1053)  # Mute waits for the session to be free
        # Its pressed picture is in: it waits, taking sent messages only.
        panel.wait_for(lambda: panel.live_bitmaps() > bitmaps, what="Mute waiting")
        panel.send_close()  # another program closes the panel meanwhile
        self.assertEqual(panel.exit_code(timeout=20), 2)


if __name__ == "__main__":
    unittest.main()
