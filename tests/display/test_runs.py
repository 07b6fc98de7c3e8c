"""Check One, Ping, Trace and Check All on the test network, run as a user
runs them, and what the screen shows when Check All has ended."""

from desktop import *

FAR, QUIET, UNREACHABLE = "10.61.4.2", "10.61.5.2", "10.61.8.5"
REPLY = r"56 bytes received from 10\.61\.4\.2\. time = \d+ms"
STATS = r"Stats: Rcvd/Sent: %d/%d, Min/Avg/Max: \d+/\d+/\d+"
CLOSING_FAR = ["", "", None, "", r"IP Address: 10\.61\.4\.2", r"Destination: far\.nsd\.test",
               r"Return Name: 10\.61\.4\.2"]
STATE_PICTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                              "resources", "app", "states.png")


def closing(summary, lines=CLOSING_FAR):
    return [summary if line is None else line for line in lines]


class Runs(ProgramTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        width, height, cls.states = alpha_image(STATE_PICTURES)
        cls.states_width = width

    def test_1_check_one_shows_the_reply_and_the_closing_lines(self):
        self.add_hosts([FAR, QUIET, UNREACHABLE])
        self.assertEqual(self.p.list_items(), [FAR, QUIET, UNREACHABLE])
        # A short time-out keeps the silent host quick.
        self.type_into("Time to wait for packet return, in Milliseconds", "500")
        click(self.p.item(FAR))
        lines = self.run_command("alt+o")
        self.assertLines(lines, [REPLY] + closing(STATS % (1, 1)))

    def test_2_ping_shows_one_line_per_echo_then_the_statistics(self):
        self.type_into("Number of Pings to do", "4")
        click(self.p.item(FAR))
        lines = self.run_command("alt+p")
        self.assertLines(lines, [REPLY] * 4 + closing(STATS % (4, 4)))

    def test_3_trace_shows_every_hop_and_the_summary(self):
        click(self.p.item(FAR))
        lines = self.run_command("alt+t")
        self.assertLines(lines, [r"1\t\d+\t10\.61\.1\.1", r"2\t\d+\t10\.61\.2\.2",
                                 r"3\t\d+\t10\.61\.3\.2", r"4\t\d+\t10\.61\.4\.2\treached"] +
                         closing(r"10\.61\.4\.2 reached in 4 hops\. \(expected: 4\)"))

    def test_4_check_all_ends_on_the_idle_screen_with_every_picture(self):
        click(self.p.item(FAR))
        reference = self.idle_shot("runs-idle-before-check-all")
        lines = self.run_command("alt+c")
        self.assertEqual(self.p.selected_item(), UNREACHABLE)
        self.assertLines(lines, [r"10\.61\.2\.2: Destination net unreachable"] + closing(
            STATS % (0, 1), ["", "", None, "", r"IP Address: 10\.61\.8\.5",
                             r"Destination: 10\.61\.8\.5", r"Return Name: 10\.61\.2\.2"]))
        # 2: answered, 1: timed out, 2: an answer of a router.
        self.assertIdleScreen("runs-after-check-all", reference, [2, 1, 2])
        # A screen reader hears each entry's state in words, not only its picture.
        spoken = [FAR + ", answered", QUIET + ", timed out", UNREACHABLE + ", answered"]
        wait_for(lambda: self.p.spoken_items() == spoken, "the entries' states in words")

    def test_5_a_cancelled_check_all_ends_on_the_idle_screen(self):
        click(self.p.item(FAR))
        reference = self.idle_shot("runs-idle-before-cancel")
        key("alt+c")
        wait_for(lambda: self.p.busy() and self.p.selected_item() == QUIET, "the silent host's turn",
                 5, 0.01)
        key("Escape")
        self.p.wait_idle()
        self.assertEqual(self.p.selected_item(), QUIET)
        self.assertIdleScreen("runs-after-cancelled-check-all", reference)

    def test_6_an_automatic_check_all_ends_on_the_idle_screen(self):
        self.type_into("Seconds to wait before run", "3")
        click(self.p.item(FAR))
        reference = self.idle_shot("runs-idle-before-automatic")
        click(self.p.button("Run every 3 seconds"))
        time.sleep(0.3)  # the menu opens; it is no accessible object
        key("c")
        wait_for(self.p.busy, "the automatic Check All", 5, 0.01)
        self.p.wait_idle()
        self.assertIdleScreen("runs-after-automatic-check-all", reference)
        # The next one comes from the timer.
        wait_for(self.p.busy, "the timer's Check All", 5, 0.01)
        self.p.wait_idle()
        self.assertIdleScreen("runs-after-timer-check-all", reference)
        click(self.p.button("Run every 3 seconds"))
        time.sleep(0.3)
        key("s")

    # ---- the screen ----

    def idle_shot(self, name):
        xdotool("mousemove", "0", "0")
        time.sleep(0.3)
        return self.shot(name)

    def assertIdleScreen(self, name, reference, states=None):
        """The screen shows the idle window: Close and the option fields as
        before the run, the pane's lines, and each row's picture."""
        xdotool("mousemove", "0", "0")
        # Painting follows the end of the run within a frame or two.
        time.sleep(0.5)
        image = self.shot(name)
        for label, widget in (("Close", self.p.button("Close")),
                              ("the option fields", self.p.find(pyatspi.ROLE_CHECK_BOX).parent)):
            x, y, w, h = extents(widget)
            # Inside the frames of the neighbouring controls, which change
            # colour with the focus.
            x, y, w, h = x + 4, y + 4, w - 8, h - 8
            self.assertTrue(image.region(x, y, w, h) == reference.region(x, y, w, h),
                             "%s differs from the idle window (%s)" % (label, image.path))
        x, y, w, h = extents(self.p.find(pyatspi.ROLE_TEXT, description=""))
        ink = sum(1 for row in image.region(x + 4, y + 4, w - 30, 40)
                  for at in range(0, len(row), 3) if row[at] < 100)
        self.assertGreater(ink, 50, "the pane shows no lines on screen (%s)" % image.path)
        for row, text in enumerate(self.p.list_items()):
            ix, iy, _, _ = extents(self.p.item(text))
            shown = self.picture_at(image, ix + self.px(2), iy + self.px(1))
            if states is None:
                self.assertIsNotNone(shown, "row %s shows no picture (%s)" % (text, image.path))
            else:
                self.assertEqual(shown, states[row], "row %s (%s)" % (text, image.path))

    def picture_at(self, image, x, y):
        """Which of the three state pictures is drawn at x, y, if any."""
        for index in range(3):
            opaque = same = 0
            for py in range(32):
                for px in range(32):
                    at = 4 * (py * self.states_width + index * 32 + px)
                    r, g, b, a = self.states[at:at + 4]
                    if a != 255:
                        continue
                    opaque += 1
                    same += image.pixel(x + px, y + py) == (r, g, b)
            if same > 0.9 * opaque:
                return index
        return None
