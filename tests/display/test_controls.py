"""The main window's controls as a user and a screen reader meet them:
captions, hints, places at the window's scale, the tab order, the
accelerators of the labels, and the titles of every window."""

from desktop import *

# Caption or accessible name, hint, and bounds at 96 dots per inch.
BUTTONS = [
    ("Addresses", "Change the selection", (184, 8, 105, 25)),
    ("Check One", "Check it Now", (184, 48, 105, 25)),
    ("Check All", "May be slow...", (184, 80, 105, 25)),
    ("Ping", "Ping the selection", (184, 112, 105, 25)),
    ("Trace", "Trace the selection", (184, 144, 105, 25)),
    ("Load a old session", "Load a old session", (184, 184, 33, 28)),
    ("Save the current session", "Save the current session", (220, 184, 33, 28)),
    ("Run every 30 seconds", "Run every 30 seconds", (256, 184, 33, 28)),
    ("Close", "Bye Bye", (184, 392, 105, 25)),
]
# Hint, text at start, row in the option panel, label accelerator.
FIELDS = [
    ("Number of Pings to do", "10", 32, "alt+i"),
    ("Packet size to use", "56", 56, "alt+s"),
    ("Time to wait for packet return, in Milliseconds", "2,500", 80, "alt+m"),
    ("Maximun number of routers to pass", "32", 104, "alt+l"),
    ("Seconds to wait before run", "30", 136, None),
]


class Controls(ProgramTest):

    def assertPlace(self, accessible, bounds, origin, what):
        x, y, w, h = extents(accessible)
        left, top, width, height = bounds
        got = (x - origin[0], y - origin[1], w, h)
        want = (self.px(left), self.px(top), self.px(width), self.px(height))
        self.assertTrue(all(abs(a - b) <= 1 for a, b in zip(got, want)),
                        "%s at %s, expected %s (scale %.3f)" % (what, got, want, self.scale))

    def test_a_window_starts_centred_with_the_focus_on_the_list(self):
        x, y, w, h = extents(self.p.window)
        self.assertEqual((w, h), (self.px(625), self.px(426)))
        screen = [int(v) for v in subprocess.run(["xdotool", "getdisplaygeometry"],
                                                 stdout=subprocess.PIPE, text=True).stdout.split()]
        # Centred with its frame; the title bar makes the client area lower.
        self.assertLessEqual(abs(x + w // 2 - screen[0] // 2), 2, (x, y, w, h, screen))
        self.assertLessEqual(abs(y + h // 2 - screen[1] // 2), 30, (x, y, w, h, screen))
        self.assertTrue(is_focused(self.p.find(pyatspi.ROLE_LIST)), "the list has the focus")

    def test_buttons_have_their_captions_hints_and_places(self):
        origin = self.p.window_origin()
        for name, hint, bounds in BUTTONS:
            button = self.p.button(name)
            self.assertEqual(button.description, hint, name)
            self.assertPlace(button, bounds, origin, name)
        cancel = self.p.button("Cancel")
        self.assertEqual(cancel.description, "Stop NOW !")
        self.assertFalse(is_showing(cancel))
        self.assertFalse(is_enabled(self.p.button("Check One")))
        self.assertFalse(is_enabled(self.p.button("Ping")))
        self.assertFalse(is_enabled(self.p.button("Trace")))
        self.assertTrue(is_enabled(self.p.button("Check All")))
        self.assertPlace(self.p.find(pyatspi.ROLE_PROGRESS_BAR), (296, 8, 321, 13), origin, "bar")
        self.assertPlace(self.p.find(pyatspi.ROLE_TEXT, description=""), (296, 24, 321, 393),
                         origin, "the result pane")

    def test_the_list_has_its_place_and_twelve_whole_rows(self):
        origin = self.p.window_origin()
        x, y, w, h = extents(self.p.find(pyatspi.ROLE_LIST))
        self.assertPlace(self.p.find(pyatspi.ROLE_LIST), (8, 8, 169, h / self.scale), origin,
                         "the address list")
        row = self.px(34)
        self.assertEqual((h - 2) // row, 12, "list height %d, row height %d" % (h, row))

    def test_option_fields_have_their_values_hints_and_places(self):
        origin = self.p.window_origin()
        resolve = self.p.find(pyatspi.ROLE_CHECK_BOX)
        panel = resolve.parent
        self.assertPlace(panel, (175, 216, 123, 169), origin, "the option panel")
        inside = extents(panel)[:2]
        self.assertEqual(resolve.name, "Resolve")
        self.assertEqual(resolve.description, "Resolve returned IP Address")
        self.assertFalse(resolve.getState().contains(pyatspi.STATE_CHECKED))
        for hint, value, top, _ in FIELDS:
            field = self.p.field(hint)
            self.assertEqual(text_of(field), value, hint)
            self.assertPlace(field, (48, top, 57, 21), inside, hint)
            spin = self.p.find(pyatspi.ROLE_FILLER, description=hint)
            self.assertPlace(spin, (105, top, 12, 21), inside, "spin buttons of " + hint)

    def test_tab_walks_the_controls_in_their_order(self):
        click(self.p.find(pyatspi.ROLE_LIST))
        order = []
        for _ in range(15):
            focused = wait_for(self.p.focused, "a focused control")
            order.append(focused.name or focused.description or focused.getRoleName())
            key("Tab")
            wait_for(lambda: self.p.focused() is not None and self.p.focused() != focused,
                     "the focus to move on", 3)
        # Check One, Ping and Trace are disabled with nothing selected; the
        # hidden Cancel and the bar take no focus.
        self.assertEqual(order, [
            "list", "Addresses", "Check All", "text", "Load a old session",
            "Save the current session", "Run every 30 seconds", "Close", "Resolve",
            "Number of Pings to do", "Packet size to use",
            "Time to wait for packet return, in Milliseconds", "Maximun number of routers to pass",
            "Seconds to wait before run", "list"])

    def test_label_accelerators_reach_their_fields(self):
        for hint, _, _, accelerator in FIELDS:
            if accelerator:
                key(accelerator)
                field = self.p.field(hint)
                wait_for(lambda: is_focused(field), "%s to focus %s" % (accelerator, hint), 3)
        resolve = self.p.find(pyatspi.ROLE_CHECK_BOX)
        key("alt+r")
        wait_for(lambda: resolve.getState().contains(pyatspi.STATE_CHECKED), "Resolve on", 3)
        key("alt+r")
        wait_for(lambda: not resolve.getState().contains(pyatspi.STATE_CHECKED), "Resolve off", 3)

    def x_titles(self):
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                              str(self.p.process.pid), "--name", "."],
                             stdout=subprocess.PIPE, text=True).stdout.split()
        names = []
        for xid in ids:
            names.append(subprocess.run(["xdotool", "getwindowname", xid], stdout=subprocess.PIPE,
                                        text=True).stdout.strip())
        return sorted(names)

    def wait_title(self, title):
        return wait_for(lambda: title in self.x_titles() and self.x_titles(),
                        "a window titled %r (have %s)" % (title, self.x_titles()))

    def test_windows_have_their_exact_titles(self):
        self.assertEqual(self.x_titles(), ["Netsonde"])
        key("alt+a")
        self.assertEqual(self.wait_title("Select Addresses"), ["Netsonde", "Select Addresses"])
        dialog = self.p.top_level("Select Addresses")
        wait_for(lambda: is_focused(self.p.field("IP Address or Host here", root=dialog)),
                 "the focus in the dialog")
        key("alt+l")
        self.assertIn("Load from File", self.wait_title("Load from File"))
        key("Escape")
        wait_for(lambda: "Load from File" not in self.x_titles(), "the file dialog to close")
        key("Escape")
        wait_for(lambda: self.x_titles() == ["Netsonde"], "the address dialog to close")
        for button, title in (("Load a old session", "Load from File"),
                              ("Save the current session", "Save to File")):
            click(self.p.button(button))
            self.assertEqual(self.wait_title(title), sorted(["Netsonde", title]))
            key("Escape")
            wait_for(lambda: self.x_titles() == ["Netsonde"], "the file dialog to close")

    def test_z_close_shows_the_about_box_and_enter_ends_the_program(self):
        click(self.p.button("Close"))
        self.assertEqual(self.wait_title("About Netsonde"), ["About Netsonde", "Netsonde"])
        box = self.p.top_level("About Netsonde")
        self.assertEqual([b.name for b in walk(box) if b.getRole() == pyatspi.ROLE_PUSH_BUTTON],
                         ["Ok"])
        key("Return")
        self.assertEqual(self.p.process.wait(10), 0)
