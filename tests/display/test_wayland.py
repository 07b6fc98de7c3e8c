"""The program on a Wayland compositor: started, read and driven over
AT-SPI only, with the same pane lines for a Check One and a Check All as
on X11 (the expectations of test_runs)."""

from desktop import *
from test_runs import FAR, QUIET, UNREACHABLE, STATS, closing

# What the last entry's check shows on X11 (test_runs).
UNREACHABLE_LINES = [r"10\.61\.2\.2: Destination net unreachable"] + closing(
    STATS % (0, 1), ["", "", None, "", r"IP Address: 10\.61\.8\.5", r"Destination: 10\.61\.8\.5",
                     r"Return Name: 10\.61\.2\.2"])
# What a check of the silent host shows, in the form of the X11 lines above.
QUIET_LINES = [r"quiet\.nsd\.test: Request timed out"] + closing(
    STATS % (0, 1), ["", "", None, "", r"IP Address: 10\.61\.5\.2",
                     r"Destination: quiet\.nsd\.test", r"Return Name: quiet\.nsd\.test"])
TMOUT = "Time to wait for packet return, in Milliseconds"


def press(button):
    """Presses a button as assistive technology does."""
    button.queryAction().doAction(0)


class Wayland(ProgramTest):

    def setUp(self):
        # No pointer to move out of the way: nothing drives one here.
        self.started = time.monotonic()

    def pane_after(self, name, seconds=WAIT_SECONDS):
        """Presses a command's button and waits until its run has ended."""
        before = self.p.pane()
        press(self.p.button(name, root=self.p.window))
        wait_for(lambda: self.p.busy() or self.p.pane() != before, "the run to start", 5, 0.01)
        self.p.wait_idle(seconds)
        return self.p.pane()

    def test_1_the_window_and_the_modal_address_dialog_work_over_atspi(self):
        self.assertEqual(self.p.platform, "wayland")
        self.assertTrue(is_showing(self.p.window))
        press(self.p.button("Addresses"))
        dialog = wait_for(lambda: self.p.top_level("Select Addresses"), "the address dialog")
        field = wait_for(lambda: self.p.field("IP Address or Host here", root=dialog), "its field")
        add = self.p.find(pyatspi.ROLE_PUSH_BUTTON, description="Add the text now", root=dialog)
        chosen = self.p.find(pyatspi.ROLE_LIST, root=dialog)
        hosts = [FAR, QUIET, UNREACHABLE]
        for count, host in enumerate(hosts, 1):
            self.assertTrue(field.queryEditableText().setTextContents(host))
            press(add)
            wait_for(lambda: chosen.childCount == count, "the dialog's list to take " + host)
        press(self.p.button("Ok", root=dialog))
        wait_for(lambda: self.p.top_level("Select Addresses") is None, "the dialog to close")
        wait_for(lambda: self.p.list_items() == hosts, "the three entries")

    def test_2_a_cancelled_check_all_leaves_its_entry_selected(self):
        # Long enough to press Cancel while the silent host is checked, and
        # to see the window busy while it is checked again.
        self.assertTrue(self.p.field(TMOUT).queryEditableText().setTextContents("1500"))
        press(self.p.button("Check All", root=self.p.window))
        wait_for(lambda: self.p.busy() and self.p.selected_item() == QUIET, "the silent host's turn",
                 5, 0.01)
        press(self.p.button("Cancel", root=self.p.window))
        self.p.wait_idle()
        self.assertEqual(self.p.selected_item(), QUIET)

    def test_3_check_one_gives_the_lines_it_gives_on_x11(self):
        # A selection made over AT-SPI does not count as the user's (the
        # list reports only mouse and keys): the entry is the one the
        # cancelled Check All left selected.
        lines = self.pane_after("Check One")
        self.assertLines(lines, QUIET_LINES)

    def test_4_check_all_gives_the_lines_and_states_it_gives_on_x11(self):
        lines = self.pane_after("Check All")
        self.assertEqual(self.p.selected_item(), UNREACHABLE)
        self.assertLines(lines, UNREACHABLE_LINES)
        spoken = [FAR + ", answered", QUIET + ", timed out", UNREACHABLE + ", answered"]
        wait_for(lambda: self.p.spoken_items() == spoken, "the entries' states in words")


class WaylandLoginStart(unittest.TestCase):
    """A start by the login's entry where there is no notification area:
    the window asks to be minimised again once it is on the screen, which a
    compositor that maps it anyway (this one) then does."""

    def test_the_window_asks_to_be_minimised_once_mapped(self):
        work = os.path.join(os.environ["NETSONDE_WORK"], "login")
        config = os.path.join(work, "config")
        runtime = os.path.join(work, "runtime")
        os.makedirs(os.path.join(config, "autostart"), exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        open(os.path.join(config, "autostart", "netsonde.desktop"), "w").close()
        log = os.path.join(work, "program.log")
        # The client side of the Wayland protocol, as the program speaks it.
        env = dict(os.environ, QT_QPA_PLATFORM="wayland", XDG_RUNTIME_DIR=runtime,
                   XDG_CONFIG_HOME=config, XDG_DATA_HOME=os.path.join(work, "data"),
                   NETSONDE_AUTOSTART="1", WAYLAND_DEBUG="client")
        with open(log, "wb") as out:
            process = subprocess.Popen([os.environ["NETSONDE_PROGRAM"]], env=env, stdout=out,
                                       stderr=out)

        def requests():
            with open(log, errors="replace") as f:
                return [line for line in f
                        if ".attach(wl_buffer" in line or ".set_minimized()" in line]
        try:
            wait_for(lambda: any("attach" in line for line in requests())
                     and "set_minimized" in requests()[-1], "a minimise request after the first frame")
        finally:
            process.terminate()
            self.assertEqual(process.wait(20), 0)
