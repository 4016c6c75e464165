"""The firmware update dialog against the simulated unit: files chosen in the real open-file
dialog, the main controller updated over the COM port and through the console, the net
controller after Break and a power cycle, and the failures that the dialog itself decides."""

import os
import random
import socket
import subprocess
import time
import unittest

import harness
from session import PanelTest

CONNECT, DISCONNECT, RS232, COM_LIST, STATUS, FIRMWARE_UPDATE = 1049, 1050, 1019, 1023, 1008, 1054
CAPTION = "Firmware Update"
PROGRESS = 1010
MAIN_LOAD, MAIN_BURN, MAIN_STOP, NET_LOAD, NET_BURN, NET_STOP, BREAK = range(1011, 1018)
MAIN_PATH, MAIN_SIZE, MAIN_STATUS, NET_PATH, NET_SIZE, NET_STATUS = (1025, 1026, 1027, 1028,
                                                                     1030, 1031)
MAIN_VERSION, NET_VERSION = 1064, 1065
NET_FLASH_SIZE = 129024
IMAGES = os.path.join(harness.WORK, "images")


def random_image(size, seed):
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(size))


def hex_record(kind, address, data=b""):
    """One Intel HEX record with its checksum, as a HEX tool writes it."""
    body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper()


def hex_of(image, wrong_checksum_at=None):
    """Intel HEX: 32-byte data records, an extended linear address at each 64 KiB, the end.
    wrong_checksum_at: the index of a record whose checksum is made one too high."""
    lines = []
    for at in range(0, len(image), 32):
        if at % 0x10000 == 0:
            lines.append(hex_record(4, 0, bytes([at >> 24 & 0xFF, at >> 16 & 0xFF])))
        lines.append(hex_record(0, at & 0xFFFF, image[at:at + 32]))
    lines.append(hex_record(1, 0))
    if wrong_checksum_at is not None:
        line = lines[wrong_checksum_at]
        lines[wrong_checksum_at] = line[:-2] + "%02X" % ((int(line[-2:], 16) + 1) & 0xFF)
    return ("\r\n".join(lines) + "\r\n").encode()


def write_image(name, data):
    os.makedirs(IMAGES, exist_ok=True)
    path = os.path.join(IMAGES, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


class FirmwareDialog:
    """The open firmware update dialog, driven through the panel's probe and the pointer."""

    def __init__(self, panel):
        self.panel = panel
        self.controls()  # fails unless it is open

    def controls(self):
        answer = self.panel.probe.ask("dump " + CAPTION)
        if not answer.get("ok"):
            raise AssertionError("the firmware update dialog is not open")
        return {c["id"]: c for c in answer["controls"] if c["id"] > 0}

    def is_open(self):
        return self.panel.probe.ask("dump " + CAPTION).get("ok", False)

    def text(self, control_id):
        return self.controls()[control_id]["text"]

    def enabled(self, control_id):
        return self.controls()[control_id]["enabled"]

    def click(self, control_id):
        left, top, right, bottom = self.controls()[control_id]["rect"]
        self.panel.click_at((left + right) // 2, (top + bottom) // 2)

    def wait_text(self, control_id, text, timeout=20):
        self.panel.wait_for(lambda: self.text(control_id) == text, timeout,
                            what="%r in %d (it shows %r)" % (text, control_id,
                                                              self.text(control_id)))

    def load(self, button, path):
        """Chooses path in the open-file dialog that the group's Load File button shows."""
        self.click(button)
        found = harness.wait_until(lambda: subprocess.run(
            ["xdotool", "search", "--name", "^Open$"], capture_output=True, text=True,
            timeout=10).stdout.split(), 20, what="the open-file dialog")
        subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], capture_output=True,
                       timeout=10)
        self.panel.wait_for(lambda: self.panel.probe.ask("focus Open")["focus"], 10,
                            what="the focus in the open-file dialog")
        windows_path = "Z:" + path.replace("/", "\\")
        subprocess.run(["xdotool", "type", "--delay", "20", windows_path], timeout=60)
        # Every key reached the name field before Return takes it.
        self.panel.wait_for(lambda: any(c["text"] == windows_path for c in
                                        self.panel.probe.ask("dump Open")["controls"]),
                            10, what="%s in the open-file dialog" % windows_path)
        subprocess.run(["xdotool", "key", "Return"], timeout=10)
        size = os.path.getsize(path)
        self.wait_text(MAIN_SIZE if button == MAIN_LOAD else NET_SIZE, "%d byte." % size)

    def burn(self, button, status, text, timeout=90, slow=True):
        """Burn, and its end: the status text, and Burn enabled again as the procedure's last
        act. A slow procedure (one that reaches the unit) shows Burn disabled meanwhile."""
        self.click(button)
        if slow:
            self.panel.wait_for(lambda: not self.enabled(button), 5, what="Burn disabled")
        self.panel.wait_for(lambda: self.enabled(button) and self.text(status) == text, timeout,
                            what="%r in %d (it shows %r)" % (text, status, self.text(status)))

    def progress(self):
        bar = self.controls()[PROGRESS]
        return bar["low"], bar["high"], bar["pos"]

    def close(self):
        self.panel.probe.ask("close " + CAPTION)


class FirmwareTest(PanelTest):
    address = "127.0.0.30"

    def start_unit(self, *extra):
        """A simulated unit whose pty is COM1, the first of the COM list (the one selected, which
        the dialog uses on either link), with firmware versions 2.05 and 1.10."""
        link = os.path.join(harness.WORK, "pty-%s" % self.address)
        self.sim = self.start_sim(self.address, "--pty", link, "--default-ip", self.address,
                                  *extra)
        self.sim.control("set main-version=2.5 net-version=1.10")
        self.map_first_com_port(link)

    def map_first_com_port(self, device):
        self.prefix.map_com_port(1, device)
        self.addCleanup(self.prefix.unmap_com_ports)

    def expect_selected_port(self, panel, item):
        combo = panel.control(COM_LIST)
        self.assertEqual(combo["items"][combo["selection"]], item)

    def open_dialog(self, panel):
        panel.click(FIRMWARE_UPDATE)
        return FirmwareDialog(harness.wait_until(
            lambda: panel.probe.ask("dump " + CAPTION).get("ok") and panel, 20,
            what="the firmware update dialog"))

    def flash(self, which):
        path = os.path.join(harness.WORK, "flash-%s.bin" % which)
        self.sim.control("flash %s %s" % (which, path))
        with open(path, "rb") as f:
            return f.read()

    def burn_main(self, dialog, name, data, image):
        dialog.load(MAIN_LOAD, write_image(name, data))
        self.assertTrue(dialog.text(MAIN_PATH).lower().endswith(name))
        dialog.burn(MAIN_BURN, MAIN_STATUS, "Firmware Updated!")
        self.assertEqual(dialog.progress(), (0, len(image) // 76, len(image) // 76))
        self.assertEqual(self.flash("main"), image)

    def test_serial_link_updates_both_controllers(self):
        self.start_unit()
        panel = self.start_panel(harness.ip_value(self.address))
        panel.click(RS232)
        self.expect_selected_port(panel, "COM 1")
        harness.wait_until(lambda: "04 87 60 01" in self.sim.received("serial"), 15,
                           what="the link choice's read")
        panel.wait_idle(what="the rest of the read and its pause")

        dialog = self.open_dialog(panel)
        self.assertEqual(panel.look(FIRMWARE_UPDATE), "blue")
        self.assertEqual((dialog.text(MAIN_VERSION), dialog.text(NET_VERSION)),
                         ("Version:V2.05", "Version:V1.10"))
        self.assertEqual({c: dialog.enabled(c) for c in range(MAIN_LOAD, BREAK + 1)},
                         {MAIN_LOAD: True, MAIN_BURN: True, MAIN_STOP: True, NET_LOAD: True,
                          NET_BURN: False, NET_STOP: True, BREAK: True})

        hex_image = random_image(9000, 1)
        self.burn_main(dialog, "main.hex", hex_of(hex_image), hex_image)

        # A close asked for while the update runs waits for it: the dialog goes once it ends.
        binary = random_image(5001, 2)
        dialog.load(MAIN_LOAD, write_image("main.bin", binary))
        dialog.click(MAIN_BURN)
        dialog.wait_text(MAIN_STATUS, "COM port Connected!")
        packets = len(self.sim.received("loader"))
        dialog.close()
        # The close is a posted message, which the window takes long before the update has
        # sent three more of its 66 packets.
        harness.wait_until(lambda: len(self.sim.received("loader")) >= packets + 3, 30,
                           what="the update going on after the close")
        self.assertTrue(dialog.is_open())
        harness.wait_until(lambda: not dialog.is_open(), 60, what="the dialog to close")
        self.assertEqual(self.flash("main"), binary)
        self.assertEqual(panel.look(FIRMWARE_UPDATE), "grey")

        dialog = self.open_dialog(panel)
        net_image = random_image(9000, 3)
        dialog.load(NET_LOAD, write_image("net.hex", hex_of(net_image)))
        dialog.click(BREAK)
        dialog.wait_text(NET_STATUS, "Please power cycle device to into bootloader entry!")
        self.assertTrue(dialog.enabled(NET_BURN))
        self.sim.control("power-cycle")
        dialog.click(NET_BURN)
        self.assertFalse(dialog.enabled(BREAK))
        dialog.wait_text(NET_STATUS, "Firmware Updated!", timeout=120)
        self.assertEqual((dialog.enabled(NET_BURN), dialog.enabled(BREAK)), (False, True))
        # The last frame's blocks run past the image, so the bar ends held at its top.
        self.assertEqual(dialog.progress(), (0, len(net_image) // 10, len(net_image) // 10))
        expected = bytearray(b"\xff" * NET_FLASH_SIZE)
        expected[:len(net_image)] = net_image
        expected[0x1F7FC:0x1F800] = net_image[:4]  # the first four bytes, written last
        expected[:4] = b"\x01\xEF\xFC\xF0"
        self.assertEqual(self.flash("net"), bytes(expected))
        dialog.close()
        harness.wait_until(lambda: not dialog.is_open(), 10, what="the dialog to close")

    def test_network_link_updates_the_main_controller_through_the_console(self):
        self.start_unit()
        panel = self.start_panel(harness.ip_value(self.address))
        panel.click(CONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Login success!", what="Login success!")
        harness.wait_until(lambda: "IPMODE\r\n" in self.sim.received("tcp"), 15,
                           what="the session's first reads")

        dialog = self.open_dialog(panel)
        # The versions still come over the COM port; the net group is the COM port's only.
        self.assertEqual((dialog.text(MAIN_VERSION), dialog.text(NET_VERSION)),
                         ("Version:V2.05", "Version:V1.10"))
        self.assertEqual([dialog.enabled(c) for c in (NET_LOAD, NET_BURN, NET_STOP, BREAK)],
                         [False] * 4)
        hex_image = random_image(9000, 4)
        self.burn_main(dialog, "main-tcp.hex", hex_of(hex_image), hex_image)
        binary = random_image(4001, 5)
        self.burn_main(dialog, "main-tcp.bin", binary, binary)
        self.assertEqual(self.sim.received("tcp").count("FWUPDATE\r\n"), 2)

        # One record of a HEX file with a wrong checksum: refused before anything is sent.
        sent = len(self.sim.received("tcp"))
        dialog.load(MAIN_LOAD, write_image("main-bad.hex", hex_of(hex_image, 150)))
        self.assertTrue(dialog.text(MAIN_PATH).lower().endswith("main-bad.hex"))
        # Burn enabled again is the procedure's last act: nothing of it can come after.
        dialog.burn(MAIN_BURN, MAIN_STATUS, "Fail to convert the input from hex to bin!",
                    slow=False)
        self.assertEqual(len(self.sim.received("tcp")), sent)
        self.assertEqual(self.flash("main"), binary)
        dialog.close()
        harness.wait_until(lambda: not dialog.is_open(), 10, what="the dialog to close")

    def test_console_update_takes_a_bare_ok_a_late_download_and_outlasts_a_close(self):
        # The unit answers "OK" with no line end and acknowledges Download 6 s late, past the
        # console's own 3 s; the panel is told to close while the update waits on it.
        self.start_unit("--fault", "loader-bare-ok", "--fault", "loader-late-download=6000")
        panel = self.start_panel(harness.ip_value(self.address))
        panel.click(CONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Login success!", what="Login success!")
        dialog = self.open_dialog(panel)
        image = random_image(3000, 7)
        dialog.load(MAIN_LOAD, write_image("main-late.bin", image))
        dialog.click(MAIN_BURN)
        harness.wait_until(lambda: "\x04SW\xfe" in self.sim.received("tcp"), 20,
                           what="the loader entry frame")
        panel.send_close()
        self.assertEqual(panel.exit_code(timeout=60), 2)
        self.assertEqual(self.flash("main"), image)

    def test_failures_without_a_session_or_a_com_port(self):
        # No unit at all; the selected COM port names a device that is not there.
        self.map_first_com_port(os.path.join(harness.WORK, "no-such-port"))
        panel = self.start_panel(harness.ip_value(self.address))
        self.expect_selected_port(panel, "COM 1")

        dialog = self.open_dialog(panel)
        self.assertEqual((dialog.text(MAIN_VERSION), dialog.text(NET_VERSION)),
                         ("Version:10..0.1", "Version:1..0.1"))
        dialog.burn(MAIN_BURN, MAIN_STATUS, "Ethernet is not connected!", slow=False)
        dialog.close()
        harness.wait_until(lambda: not dialog.is_open(), 10, what="the dialog to close")

        # RS232 with a COM port that does not open: Break and Burn say so, each its own way.
        panel.click(RS232)
        panel.wait_for(lambda: panel.control(COM_LIST)["visible"], what="the COM list")
        dialog = self.open_dialog(panel)
        dialog.click(BREAK)
        box = panel.dismiss_box("COM port is occupied!")
        self.assertEqual((box["caption"], box["owner"]), ("", CAPTION))
        self.assertFalse(dialog.enabled(NET_BURN))
        # Not held elsewhere, only not there: the main update says that it does not open.
        dialog.load(MAIN_LOAD, write_image("small.bin", random_image(1000, 6)))
        dialog.burn(MAIN_BURN, MAIN_STATUS, "Fail to open COM port!", slow=False)
        dialog.close()
        harness.wait_until(lambda: not dialog.is_open(), 10, what="the dialog to close")

    def test_the_dialog_opens_at_once_while_a_connect_is_pending(self):
        # A listener whose accept queue is full: the panel's SYN is never answered.
        listener = socket.socket()
        self.addCleanup(listener.close)
        listener.bind((self.address, 23))
        listener.listen(0)
        filler = socket.create_connection((self.address, 23))
        self.addCleanup(filler.close)
        # No unit on the COM port either: the dialog's version query ends at once.
        self.map_first_com_port(os.path.join(harness.WORK, "no-such-port"))
        panel = self.start_panel(harness.ip_value(self.address))
        panel.click(CONNECT)
        harness.wait_until(lambda: harness.connecting(self.address, 23), 10,
                           what="the panel's connect under way")
        self.assertNotEqual(panel.text(STATUS), "Connect to device fail.")

        panel.click(FIRMWARE_UPDATE)
        start = time.monotonic()
        dialog = FirmwareDialog(harness.wait_until(
            lambda: panel.probe.ask("dump " + CAPTION).get("ok") and panel, 20,
            what="the firmware update dialog"))
        self.assertLess(time.monotonic() - start, 1.0)
        self.assertTrue(panel.probe.ask("answer")["answered"])
        dialog.close()
        harness.wait_until(lambda: not dialog.is_open(), 10, what="the dialog to close")

        panel.click(DISCONNECT)
        panel.wait_for(lambda: panel.text(STATUS) == "Connect to device fail.", 5,
                       what="the pending connect to end")
        panel.wait_for(lambda: panel.look(DISCONNECT) == "blue", what="Disconnect lit")


if __name__ == "__main__":
    unittest.main()
