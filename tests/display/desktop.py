"""The program on a real X display, driven as a user drives it.

Keys and clicks go through xdotool, the widgets are read over AT-SPI as a
screen reader reads them, and screenshots are taken from the root window.
The X server, the window manager and the session bus are started by
run_display.sh; this module starts the accessibility bus and the program.
"""

import os
import unittest
import re
import subprocess
import time

import pyatspi

WAIT_SECONDS = 20


class Timeout(AssertionError):
    pass


def wait_for(condition, what, seconds=WAIT_SECONDS, step=0.05):
    """Polls condition until it returns something true, and returns that."""
    end = time.monotonic() + seconds
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # the tree changes under a walk
            last_error = error
        if time.monotonic() > end:
            raise Timeout("gave up waiting for %s%s" % (what, " (%s)" % last_error if last_error else ""))
        time.sleep(step)


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def key(*keys):
    """Presses keys the way a user does, e.g. key("ctrl+a"), key("alt+i")."""
    xdotool("key", "--clearmodifiers", "--delay", "40", *keys)


def type_text(text):
    """Types text key by key: the program sees every intermediate text."""
    xdotool("type", "--clearmodifiers", "--delay", "40", text)


class Image:
    """A screenshot as rows of (r, g, b), read through imagemagick."""

    def __init__(self, path):
        data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                              stdout=subprocess.PIPE).stdout
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        self.width, self.height = int(match.group(1)), int(match.group(2))
        self.pixels = data[match.end():]
        self.path = path

    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.pixels[at:at + 3])

    def region(self, x, y, w, h):
        return [self.pixels[3 * (row * self.width + x):3 * (row * self.width + x + w)]
                for row in range(y, y + h)]


def screenshot(path):
    subprocess.run(["import", "-window", "root", path], check=True)
    return Image(path)


def states(accessible):
    return accessible.getState()


def is_showing(accessible):
    state = accessible.getState()
    return state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_VISIBLE)


def is_enabled(accessible):
    return accessible.getState().contains(pyatspi.STATE_ENABLED)


def is_focused(accessible):
    return accessible.getState().contains(pyatspi.STATE_FOCUSED)


def text_of(accessible):
    return accessible.queryText().getText(0, -1)


def extents(accessible):
    e = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def children(accessible):
    return [accessible.getChildAtIndex(i) for i in range(accessible.childCount)]


def walk(accessible):
    yield accessible
    for child in children(accessible):
        if child is not None:
            yield from walk(child)


_last_click = [0.0]


def click(accessible, button=1):
    # Two clicks in a row are never taken for a double click.
    pause = _last_click[0] + 0.6 - time.monotonic()
    if pause > 0:
        time.sleep(pause)
    x, y, w, h = extents(accessible)
    xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", str(button))
    _last_click[0] = time.monotonic()


def entry_text(spoken):
    """An entry's text from its accessible name ("10.1.0.1, answered")."""
    return spoken.split(", ", 1)[0]


class Program:
    """One run of the program with its own accessibility bus."""

    def __init__(self, binary, workdir, args=(), activate=True, env=None):
        self.workdir = workdir
        self.log = open(os.path.join(workdir, "program.log"), "ab")
        self.cache = {}
        self.bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    stdout=self.log, stderr=self.log)
        runtime = os.path.join(workdir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        # run_wayland.sh names the Wayland platform; X11 otherwise.
        self.platform = os.environ.get("NETSONDE_QPA_PLATFORM", "xcb")
        extra_env = env
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
                   QT_QPA_PLATFORM=self.platform, XDG_RUNTIME_DIR=runtime,
                   XDG_DATA_HOME=os.path.join(workdir, "data"), **(extra_env or {}))
        self.env = env
        self.process = subprocess.Popen([binary, *args], env=env, stdout=self.log, stderr=self.log)
        self.app = wait_for(self._find_app, "the program on the accessibility bus")
        self.window = wait_for(lambda: self.top_level("Netsonde"), "the main window")
        # Nothing outside the compositor can activate a Wayland window.
        if not activate or self.platform != "xcb":
            return
        self.xid = wait_for(self._find_xid, "the main window on the X server")
        xdotool("windowactivate", "--sync", self.xid)
        wait_for(lambda: self.window.getState().contains(pyatspi.STATE_ACTIVE), "an active window")

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            if app is not None and app.get_process_id() == self.process.pid and app.childCount:
                return app
        return None

    def _find_xid(self):
        out = subprocess.run(["xdotool", "search", "--pid", str(self.process.pid), "--name", "^Netsonde$"],
                             stdout=subprocess.PIPE, text=True).stdout.split()
        return out[0] if out else None

    def top_level(self, title):
        for window in children(self.app):
            if window is not None and window.name == title:
                return window
        return None

    def top_levels(self):
        return [w.name for w in children(self.app) if w is not None]

    def find(self, role, name=None, description=None, root=None):
        """The first widget of a role (and name or description) under root."""
        if root is None:
            # The main window's widgets live as long as the program: look
            # each up once.
            cached = self.cache.get((role, name, description))
            if cached is None:
                cached = self._find(role, name, description, self.window)
                self.cache[(role, name, description)] = cached
            return cached
        return self._find(role, name, description, root)

    def _find(self, role, name, description, root):
        for acc in walk(root):
            if acc.getRole() != role:
                continue
            if name is not None and acc.name != name:
                continue
            if description is not None and acc.description != description:
                continue
            return acc
        raise LookupError("no %s named %r described %r" % (pyatspi.Role(role), name, description))

    def button(self, name, root=None):
        return self.find(pyatspi.ROLE_PUSH_BUTTON, name=name, root=root)

    def field(self, hint, root=None):
        return self.find(pyatspi.ROLE_TEXT, description=hint, root=root)

    def focused(self, root=None):
        for acc in walk(root or self.window):
            if is_focused(acc):
                return acc
        return None

    def pane(self):
        """The result pane's lines."""
        pane = self.find(pyatspi.ROLE_TEXT, description="")
        return text_of(pane).split("\n")

    def spoken_items(self):
        """What a screen reader says of each entry: its text and its state."""
        lst = self.find(pyatspi.ROLE_LIST)
        return [item.name for item in children(lst) if item is not None]

    def list_items(self):
        """The entries' texts (a name holds no ", ": the state follows it)."""
        return [entry_text(name) for name in self.spoken_items()]

    def item(self, text):
        """The address list's entry with this text."""
        for item in children(self.find(pyatspi.ROLE_LIST)):
            if item is not None and entry_text(item.name) == text:
                return item
        raise LookupError("no entry " + text)

    def selected_item(self):
        for item in children(self.find(pyatspi.ROLE_LIST)):
            if item is not None and item.getState().contains(pyatspi.STATE_SELECTED):
                return entry_text(item.name)
        return None

    def busy(self):
        return is_showing(self.button("Cancel"))

    def idle(self):
        return not self.busy() and is_showing(self.button("Close")) and is_enabled(self.button("Close"))

    def wait_idle(self, seconds=WAIT_SECONDS):
        wait_for(self.idle, "the idle window", seconds)

    def window_origin(self):
        x, y, _, _ = extents(self.window)
        return x, y

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.bus.terminate()
        self.bus.wait()
        self.log.close()


def alpha_image(path):
    """A picture with its alpha channel, as rows of (r, g, b, a)."""
    data = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], check=True,
                          stdout=subprocess.PIPE).stdout
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          stdout=subprocess.PIPE, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    return width, height, data


class ProgramTest(unittest.TestCase):
    """Tests that share one run of the program, started for the class."""

    program = None

    @classmethod
    def setUpClass(cls):
        cls.shots = os.environ["NETSONDE_SHOTS"]
        cls.program = Program(os.environ["NETSONDE_PROGRAM"], os.environ["NETSONDE_WORK"])
        cls.p = cls.program
        cls.scale = extents(cls.p.window)[2] / 625.0

    @classmethod
    def tearDownClass(cls):
        if cls.program:
            cls.program.stop()

    def setUp(self):
        # The mouse away from every control, so that no hover look shows.
        xdotool("mousemove", "0", "0")
        self.started = time.monotonic()

    def tearDown(self):
        print("(%.1f s)" % (time.monotonic() - self.started), end=" ", flush=True)

    def shot(self, name):
        return screenshot(os.path.join(self.shots, name + ".png"))

    def px(self, pixels):
        return round(pixels * self.scale)

    def type_into(self, hint, keys):
        """Selects the field's text and types keys one by one."""
        click(self.p.field(hint))
        key("ctrl+a")
        type_text(keys)

    def add_hosts(self, hosts):
        """Adds hosts through the address dialog, typed as a user does."""
        key("alt+a")
        dialog = wait_for(lambda: self.p.top_level("Select Addresses"), "the address dialog")
        field = wait_for(lambda: self.p.field("IP Address or Host here", root=dialog), "its field")
        wait_for(lambda: is_focused(field), "the focus in the address field")
        for host in hosts:
            type_text(host)
            key("Return")
        key("alt+o")
        wait_for(lambda: self.p.top_level("Select Addresses") is None, "the dialog to close")
        return dialog

    def run_command(self, accelerator, seconds=WAIT_SECONDS):
        """Presses a command's key and waits until the run has ended. The
        run must leave other lines in the pane than it held before."""
        before = self.p.pane()
        key(accelerator)
        # A host on the test network may answer before the busy window is
        # seen; then the pane has changed.
        try:
            wait_for(lambda: self.p.busy() or self.p.pane() != before, "the run to start", 5, 0.01)
        except Timeout:
            self.shot("no-run-after-" + accelerator)
            raise
        self.p.wait_idle(seconds)
        return self.p.pane()

    def assertLines(self, lines, patterns):
        """Each line matches its regular expression, whole."""
        self.assertEqual(len(lines), len(patterns), "\n".join(lines))
        for line, pattern in zip(lines, patterns):
            self.assertRegex(line, "^" + pattern + "$")
