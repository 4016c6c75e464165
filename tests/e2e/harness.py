"""Drives the real panel under Wine and Xvfb against the simulated unit.

Everything runs inside the network namespace that tests/e2e/run makes (only `lo`), so the
panel can reach nothing but the simulated units on 127.0.0.x.
"""

import json
import os
import pwd
import select
import shutil
import signal
import socket
import subprocess
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("VANTREL_BUILD", os.path.join(ROOT, "build"))
PANEL_EXE = os.path.join(BUILD, "windows", "app", "VantrelPanel.exe")
PROBE_EXE = os.path.join(BUILD, "windows", "tests", "e2e", "e2e_probe.exe")
# The build of the Linux programs the groups start (the simulated unit, vantrelctl).
NATIVE = os.environ.get("VANTREL_E2E_NATIVE_BUILD", os.path.join(BUILD, "native"))
SIM = os.path.join(NATIVE, "sim", "vantrel-sim")
E2E = os.path.join(BUILD, "e2e")
# A group's own folder (its traffic logs, ptys, control sockets, images and prefix); the
# folder of the whole run when a group is run alone.
WORK = os.environ.get("VANTREL_E2E_WORK", E2E)
TEMPLATE_PREFIX = os.path.join(E2E, "prefix")
ARTIFACTS = os.path.join(E2E, "failures")

CAPTION = "Vantrel Control Panel"
DEFAULT_ADDRESS = 3232235996  # 192.168.1.220, the panel's own default


def ip_value(dotted):
    a, b, c, d = (int(x) for x in dotted.split("."))
    return (a << 24) | (b << 16) | (c << 8) | d


class StartFault(Exception):
    """Wine or Xvfb did not come up, so the case never began: what a loaded machine now and
    then does to Wine, told apart from a case that failed (e2e.py runs such a group again)."""


def wait_until(predicate, timeout, step=0.1, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(step)


def connecting(address, port):
    """Whether a TCP connect to address:port is under way in this namespace: its SYN sent and
    not answered (state 02 in /proc/net/tcp, where addresses are little-endian hex)."""
    remote = "%08X:%04X" % (int.from_bytes(bytes(int(x) for x in address.split(".")), "little"),
                            port)
    with open("/proc/net/tcp") as f:
        rows = [line.split() for line in f][1:]
    return any(row[2] == remote and row[3] == "02" for row in rows)


class Display:
    """An Xvfb server of our own, of size WIDTHxHEIGHT."""

    def __init__(self, size="1400x900"):
        # Groups running side by side start from numbers apart; a number that another server
        # took meanwhile makes Xvfb exit at once, and the next one is tried.
        first = 97 + 50 * int(os.environ.get("VANTREL_E2E_SLOT", "0"))
        for number in range(first, first + 50):
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            self.name = ":%d" % number
            self.process = subprocess.Popen(
                ["Xvfb", self.name, "-screen", "0", size + "x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self.process.wait(timeout=0.5)
            except subprocess.TimeoutExpired:
                break
        else:
            raise StartFault("no free X display number from %d" % first)
        os.environ["DISPLAY"] = self.name
        try:
            wait_until(lambda: subprocess.run(["xdotool", "getmouselocation"],
                                              capture_output=True).returncode == 0,
                       10, what="Xvfb")
        except AssertionError as e:
            raise StartFault(str(e)) from e

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=30)

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


WINE_OVERRIDES = "mscoree,mshtml,winemenubuilder.exe,winebus.sys,wineusb.sys="


class WinePrefix:
    """A Wine prefix of the tests' own, with its wineserver started inside the namespace."""

    def __init__(self, path):
        self.path = path
        # No Mono or Gecko; no desktop menus, USB or HID drivers, which every session of the
        # many the tests start would otherwise start too.
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES=WINE_OVERRIDES)
        self.kill_server()
        if path != TEMPLATE_PREFIX and not os.path.exists(os.path.join(path, "system.reg")):
            copy_prefix(TEMPLATE_PREFIX, path)
        if not os.path.exists(os.path.join(path, "system.reg")):
            os.makedirs(path, exist_ok=True)
            subprocess.run(["wine", "wineboot", "-i"], env=self.env, capture_output=True,
                           timeout=300)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)
        self.temp_dir = temp_dir(path)
        os.makedirs(self.temp_dir, exist_ok=True)

    @property
    def address_file(self):
        return os.path.join(self.temp_dir, "ip")

    def write_address(self, value):
        with open(self.address_file, "w") as f:
            f.write(str(value) if isinstance(value, int) else value)

    def map_com_port(self, number, device):
        """Makes a pty appear as COMn; the wineserver must restart to see it."""
        self._set_and_restart(["add", r"HKLM\Software\Wine\Ports", "/v", "COM%d" % number,
                               "/d", device, "/f"])

    def unmap_com_ports(self):
        """Takes the ports away from the next panel: most often the next case maps one again
        at once, so the restart waits for the next program that starts (start)."""
        self._reg(["delete", r"HKLM\Software\Wine\Ports", "/f"])
        self.restart_due = True

    def set_dpi(self, dpi):
        """The prefix's screen DPI, where this Wine reads it (the user's LogPixels)."""
        self._set_and_restart(["add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                               "/t", "REG_DWORD", "/d", str(dpi), "/f"])

    def _set_and_restart(self, reg_args):
        """A registry edit that only a freshly started wineserver acts on. It is made in the
        session under way, if any, rather than in one booted for it alone; the server saves the
        registry when it is stopped, and the next one reads it."""
        self._reg(reg_args)
        self._restart()

    def _reg(self, reg_args):
        self._quiet(["wine", "reg"] + reg_args)

    def _quiet(self, command):
        # No pipes: the session's processes that a program boots keep its standard handles,
        # and in a session kept up they would never be closed.
        subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def _restart(self):
        kept = self.kept
        self.kill_server()
        if kept:
            self.keep_server()

    def start(self, program, *args, **popen):
        """Starts a Windows program in the prefix, once a registry edit that awaits a restart
        is in force."""
        if self.restart_due:
            self._restart()
        return subprocess.Popen(["wine", program] + list(args), env=self.env, **popen)

    def keep_server(self):
        """Keeps the prefix's session up between the cases, instead of a new one booting for
        each case that starts more than a few seconds after the last one ended; until
        kill_server. A server already running is left as it is. The session is booted here
        by a program of no output, so that no program a case reads from boots it."""
        self.kept = True
        self._quiet(["wineserver", "-p"])
        self._quiet(["wine", "cmd", "/c", "exit"])

    def kill_server(self):
        self.kept = self.restart_due = False
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=60)


def temp_dir(prefix):
    """The prefix's Temp folder as Linux sees it: the user's TEMP in the prefix's registry,
    under the user's profile, which Wine names after the Linux user."""
    with open(os.path.join(prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
        section = None
        for line in f:
            if line.startswith("["):
                section = line[1:line.index("]")]
            elif section == "Environment" and line.startswith('"TEMP"='):
                value = line.split("=", 1)[1].strip()
                if value.startswith("str(2):"):  # one that holds %variables%
                    value = value[len("str(2):"):]
                value = value.strip('"').replace("\\\\", "\\")
                break
        else:
            raise StartFault("the prefix %s has no TEMP" % prefix)
    user = os.environ.get("USER") or pwd.getpwuid(os.getuid()).pw_name
    value = value.replace("%USERPROFILE%", "C:\\users\\" + user)
    if not value.upper().startswith("C:\\"):
        raise StartFault("the prefix's TEMP is not on C: (%s)" % value)
    return os.path.join(prefix, "drive_c", *value[3:].split("\\"))


class Sim:
    """The simulated unit on its own loopback address; its traffic log says what it received."""

    def __init__(self, address, *extra):
        os.makedirs(WORK, exist_ok=True)
        self.address = address
        self.log_path = os.path.join(WORK, "traffic-%s.log" % address)
        self.control_path = os.path.join(WORK, "control-%s.sock" % address)
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        args = [SIM, "--address", address, "--log", self.log_path,
                "--control", self.control_path] + list(extra)
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.ready_lines = self._read_ready()

    def _read_ready(self):
        """The lines the unit prints once it is ready: all that comes until a short quiet spell.

        Read from the pipe itself, not through a buffered reader, whose buffer would hide the
        lines that came in the same chunk as the first one from select.
        """
        out = self.process.stdout.fileno()
        data = b""
        while select.select([out], [], [], 0.3 if data else 10)[0]:
            chunk = os.read(out, 4096)
            if not chunk:
                break
            data += chunk
        if not data:
            self.close()
            raise AssertionError("simulated unit did not start: %r"
                                 % self.process.stderr.read().decode(errors="replace"))
        return data.decode(errors="replace").splitlines()

    def pty(self):
        for line in self.ready_lines:
            for word in line.split():
                if word.startswith("/dev/pts/"):
                    return word
        raise AssertionError("simulated unit printed no pty: %r" % self.ready_lines)

    def traffic(self):
        """The received items in order, each a dict from the traffic log."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def received_text(self, link="tcp"):
        return [item["text"] for item in self.traffic() if item.get("link") == link]

    def received(self, link):
        """What one link received: console lines as text, serial frames as spaced hex."""
        key = "text" if link == "tcp" else "hex"
        items = [item[key] for item in self.traffic() if item.get("link") == link]
        if link == "tcp":
            return items
        return [" ".join(h[i:i + 2].upper() for i in range(0, len(h), 2)) for h in items]

    def control(self, command):
        """One command on the unit's control interface (as if on its front panel)."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(10)
            s.connect(self.control_path)
            s.sendall(command.encode() + b"\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
        reply = reply.decode().strip()
        if reply.startswith("error"):
            raise AssertionError("control %r: %s" % (command, reply))
        return reply

    def state(self):
        return json.loads(self.control("state"))

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Probe:
    """tests/e2e/probe_win32.cpp under Wine: reads the panel's controls."""

    def __init__(self, prefix):
        self.process = prefix.start(PROBE_EXE, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, text=True, bufsize=1)

    def ask(self, command, timeout=30):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready:
            raise AssertionError("probe did not answer " + command)
        return json.loads(self.process.stdout.readline())

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()


class Panel:
    """One run of VantrelPanel.exe."""

    def __init__(self, prefix, display, args=()):
        self.prefix = prefix
        self.display = display
        self.process = prefix.start(PANEL_EXE, *args, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        self.probe = Probe(prefix)
        try:
            found = self.probe.ask("find", timeout=60)
        except AssertionError as e:
            raise StartFault(str(e)) from e
        if not found.get("ok"):
            raise StartFault("the panel window did not appear")
        self.client = found["client"]

    # What the panel shows.
    def controls(self):
        answer = self.probe.ask("dump")
        if not answer.get("ok"):
            raise AssertionError("the panel window is gone")
        return {c["id"]: c for c in answer["controls"] if c["id"] > 0}

    def control(self, control_id):
        return self.controls()[control_id]

    def text(self, control_id):
        return self.control(control_id)["text"]

    def ip(self, control_id):
        return self.control(control_id)["ip"]

    def focus(self):
        return self.probe.ask("focus")["focus"]

    def names(self):
        """Each control's accessible name and value, by id."""
        answer = self.probe.ask("names")
        if not answer.get("ok"):
            raise AssertionError("the panel window is gone")
        return {c["id"]: (c["name"], c["value"]) for c in answer["controls"]}

    def boxes(self):
        return self.probe.ask("boxes")["boxes"]

    def wait_for(self, predicate, timeout=15, what="panel state"):
        return wait_until(predicate, timeout, step=0.2, what=what)

    def answers(self):
        """Whether the window's thread takes a sent message now: no handler holds it, or the
        one that does waits in a message box or for the session (where sent messages get in)."""
        return self.probe.ask("answer")["answered"]

    def wait_idle(self, timeout=20, what="the handler to return"):
        """Waits until the handler under way has returned, for a handler that holds the
        window's thread throughout, as the serial exchanges do; call it once the handler has
        shown it began (its first frame at the unit, say)."""
        self.wait_for(self.answers, timeout, what=what)

    def look(self, control_id):
        """'blue' or 'grey': the look a picture control shows on the screen now."""
        return self.looks([control_id])[control_id]

    def looks(self, control_ids):
        """The looks of several pictures, from one screenshot."""
        from PIL import Image

        controls = self.controls()
        path = os.path.join(WORK, "look.png")
        self.display.screenshot(path)
        image = Image.open(path).convert("RGB")
        return {c: self._look(image, controls[c]["rect"]) for c in control_ids}

    @staticmethod
    def _look(image, rect):
        left, top, right, bottom = rect
        blue = grey = 0
        for y in range(top + 2, bottom - 2, 2):
            for x in range(left + 2, right - 2, 2):
                r, g, b = image.getpixel((x, y))
                if b > r + 60 and b > g + 30:
                    blue += 1
                elif abs(r - g) < 16 and abs(g - b) < 16 and r > 120:
                    grey += 1
        return "blue" if blue > grey else "grey"

    def save_picture(self, path):
        """Saves the panel's client area as the screen shows it (no frame is drawn here)."""
        from PIL import Image

        whole = os.path.join(WORK, "screen.png")
        self.display.screenshot(whole)
        Image.open(whole).crop(tuple(self.client)).save(path)

    # What a person does.
    def click(self, control_id):
        left, top, right, bottom = self.control(control_id)["rect"]
        self.click_at((left + right) // 2, (top + bottom) // 2)

    def click_at(self, x, y):
        # --sync waits for the pointer to move, which it never does when it is there already.
        where = subprocess.run(["xdotool", "getmouselocation", "--shell"], capture_output=True,
                               text=True, timeout=10).stdout
        if "X=%d\nY=%d\n" % (x, y) not in where:
            subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)], timeout=10)
        subprocess.run(["xdotool", "click", "1"], timeout=10)

    def key(self, *keys):
        window = subprocess.run(["xdotool", "search", "--name", CAPTION], capture_output=True,
                                text=True, timeout=10).stdout.split()
        if window:
            subprocess.run(["xdotool", "windowfocus", "--sync", window[0]],
                           capture_output=True, timeout=10)
        subprocess.run(["xdotool", "key", "--delay", "100"] + list(keys), timeout=30)

    def close_box(self):
        self.probe.ask("close")

    def tick(self):
        """The status timer's tick, as if 5 s had passed."""
        self.probe.ask("timer")

    def live_bitmaps(self):
        answer = self.probe.ask("bitmaps")
        if not answer.get("ok"):
            raise AssertionError("the panel did not report its bitmaps")
        return answer["bitmaps"]

    def send_close(self):
        self.probe.ask("sendclose")

    def set_ip(self, control_id, dotted):
        """An address into an IP-address control; "" empties it."""
        self.probe.ask(("setip %d %s" % (control_id, dotted)).strip())

    def memory_kb(self):
        """Resident memory of the panel's process, as Linux sees the Wine process."""
        out = subprocess.run(["pgrep", "-f", "VantrelPanel.exe"], capture_output=True,
                             text=True).stdout.split()
        sizes = []
        mine = ("WINEPREFIX=" + self.prefix.path).encode()
        for pid in out:
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if mine not in f.read().split(b"\0"):
                        continue  # another group's panel
                with open("/proc/%s/status" % pid) as f:
                    sizes += [int(line.split()[1]) for line in f if line.startswith("VmRSS:")]
            except OSError:
                continue
        if not sizes:
            raise AssertionError("no panel process found")
        return max(sizes)

    def dismiss_box(self, text, timeout=20):
        box = self.wait_for(lambda: next((b for b in self.boxes() if b["text"] == text), None),
                            timeout, what="message box %r" % text)
        left, top, right, bottom = box["button"]
        self.click_at((left + right) // 2, (top + bottom) // 2)
        self.wait_for(lambda: all(b["text"] != text for b in self.boxes()), 10,
                      what="message box %r to close" % text)
        return box

    def exit_code(self, timeout=20):
        return self.process.wait(timeout=timeout)

    def close(self):
        self.probe.close()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def save_failure(display, name):
    os.makedirs(ARTIFACTS, exist_ok=True)
    display.screenshot(os.path.join(ARTIFACTS, name + ".png"))


def group_work(name):
    return os.path.join(E2E, "groups", name)


# Wine's own DLLs, most of a prefix's 700 MB: only read, so a copy shares them as hard links.
_LINKED = {os.path.join("drive_c", "windows", d) for d in ("system32", "syswow64", "winsxs")}


def copy_prefix(template, path):
    """A prefix of its own from the template, whose wineserver is not running."""
    def copy(relative):
        source = os.path.join(template, relative)
        target = os.path.join(path, relative)
        if relative in _LINKED:
            shutil.copytree(source, target, symlinks=True, copy_function=os.link)
        elif os.path.isdir(source) and not os.path.islink(source):
            os.makedirs(target, exist_ok=True)
            for entry in os.listdir(source):
                copy(os.path.join(relative, entry))
        else:
            shutil.copy2(source, target, follow_symlinks=False)

    copy("")


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
