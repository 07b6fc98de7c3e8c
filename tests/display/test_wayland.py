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
