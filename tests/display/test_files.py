"""Files named on the command line, and a second start handing its file to
the program that runs already."""

from desktop import *

SESSION = b"[10.1.0.1]\r\n0=Reply from 10.1.0.1\r\n[alpha]\r\n=\r\n"
ADDRESSES = b"zeta\r\n10.0.0.2\r\nbeta\r\n"


def running_copies(binary):
    """The processes that run this very program file on this test's display
    (other tests may run the program at the same time on displays of their
    own)."""
    target = os.path.realpath(binary)
    display = os.environ.get("DISPLAY", "").encode()
    found = []
    for pid in os.listdir("/proc"):
        try:
            if not pid.isdigit() or os.path.realpath("/proc/%s/exe" % pid) != target:
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
            if b"DISPLAY=" + display in environ:
                found.append(int(pid))
        except OSError:
            pass
    return found


class FileTest(unittest.TestCase):
    """One run of the program, started for the class with FILE on its
    command line. One accessibility bus per test process: a class of its own
    per start."""

    FILE = None

    @classmethod
    def setUpClass(cls):
        cls.binary = os.environ["NETSONDE_PROGRAM"]
        cls.work = os.path.join(os.environ["NETSONDE_WORK"], "files")
        os.makedirs(cls.work, exist_ok=True)
        name, content = cls.FILE
        path = os.path.join(cls.work, name)
        if content is None:
            os.mkfifo(path)
        else:
            with open(path, "wb") as f:
                f.write(content)
        cls.p = Program(cls.binary, os.environ["NETSONDE_WORK"], [path], activate=content is not None)

    @classmethod
    def tearDownClass(cls):
        cls.p.stop()

    def path(self, name, content=None):
        path = os.path.join(self.work, name)
        if content is not None:
            with open(path, "wb") as f:
                f.write(content)
        return path

    def error_box(self):
        """The text of the error box over the main window."""
        def find():
            for window in children(self.p.app):
                if window is None or window.name != "Netsonde" or window == self.p.window:
                    continue
                labels = [a.name for a in walk(window) if a.getRole() == pyatspi.ROLE_LABEL and a.name]
                if labels:
                    return window, " ".join(labels)
            return None
        return wait_for(find, "an error box")

    def close_box(self):
        self.error_box()
        key("Return")
        wait_for(lambda: len([w for w in children(self.p.app) if w is not None]) == 1, "the box to close")

    def hand_over(self, *args, cwd=None):
        """A second start; returns its status."""
        return subprocess.run([self.binary, *args], env=self.p.env, cwd=cwd, timeout=30,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


class Files(FileTest):
    FILE = ("start.nsd", SESSION)

    def test_a_session_then_a_second_start_with_an_address_list(self):
        p = self.p
        wait_for(lambda: p.list_items() == ["10.1.0.1", "alpha"], "the session's hosts")
        # The first start's results came with the session.
        click(p.item("10.1.0.1"))
        wait_for(lambda: p.pane() == ["Reply from 10.1.0.1"], "the stored lines")
        first = p.process.pid

        # A relative name: the running program has its own current folder.
        self.path("list.net", ADDRESSES)
        self.assertEqual(self.hand_over("list.net", cwd=self.work), 0)
        wait_for(lambda: p.list_items() == ["10.0.0.2", "beta", "zeta"],
                 "the address list in the running program")
        self.assertEqual(p.pane(), [""])
        self.assertEqual(p.top_levels(), ["Netsonde"])
        self.assertEqual(running_copies(self.binary), [first])

        # Without a file it only comes to the front.
        self.assertEqual(self.hand_over(), 0)
        self.assertEqual(p.list_items(), ["10.0.0.2", "beta", "zeta"])
        self.assertEqual(running_copies(self.binary), [first])

    def test_b_files_that_cannot_be_opened_get_the_error_box(self):
        before = self.p.list_items()
        fifo = self.path("handed.nsd")
        os.mkfifo(fifo)
        for name, reason in (("handed.nsd", "named pipe"), ("missing.nsd", "No such file"),
                             ("notes.txt", "neither a session")):
            path = self.path(name, b"10.0.0.1\r\n" if name == "notes.txt" else None)
            self.assertEqual(self.hand_over(path), 0)
            _, text = self.error_box()
            self.assertIn(name, text)
            self.assertIn(reason, text)
            self.close_box()
            self.assertEqual(self.p.list_items(), before)
        self.assertEqual(running_copies(self.binary), [self.p.process.pid])

    def test_c_refused_command_lines(self):
        for args in (["--help"], ["a.nsd", "b.nsd"]):
            run = subprocess.run([self.binary, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True, timeout=30)
            self.assertEqual(run.returncode, 2)
            self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        run = subprocess.run([self.binary], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, timeout=30)
        self.assertEqual(run.returncode, 1)
        self.assertIn("no display", run.stderr)
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)

