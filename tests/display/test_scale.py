"""The program on a screen scaled by two (QT_SCALE_FACTOR=2): the glyphs of
the main window and the address dialog, and the about box's picture, are
their pictures drawn at twice the size, put on the screen pixel for pixel:
no colour appears on their edges that the picture does not hold, as a
smoothly enlarged small picture would show."""

from desktop import *

ART = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")


def picture(path, part=0, parts=1):
    """One image of a committed strip as rows of (r, g, b)."""
    image = Image(os.path.join(ART, path))
    width = image.width // parts
    return [[image.pixel(part * width + x, y) for x in range(width)] for y in range(image.height)]


def find_picture(screen, rows, area, exact=False):
    """Where in area (x, y, w, h) of the screen the picture shows pixel for
    pixel, each of its colours as one colour of the screen (a glyph at rest
    is drawn in the theme's colours, its background as the button's face):
    the place and how many pixels break that at best. An exact picture
    shows in its own colours."""
    pixels = [(x, y, c) for y, row in enumerate(rows) for x, c in enumerate(row)]
    x0, y0, w, h = area
    best = (None, len(pixels))
    for top in range(max(0, y0), min(screen.height - len(rows), y0 + h)):
        for left in range(max(0, x0), min(screen.width - len(rows[0]), x0 + w)):
            if exact and screen.pixel(left, top) != rows[0][0]:
                continue
            shown, taken, wrong = {}, {}, 0
            for x, y, c in pixels:
                got = screen.pixel(left + x, top + y)
                if shown.setdefault(c, got) != got or taken.setdefault(got, c) != c:
                    wrong += 1
                    if wrong >= best[1] or wrong > 20:
                        break
            if wrong < best[1]:
                best = ((left, top), wrong)
                if wrong == 0:
                    return best
    return best


class ScaledByTwo(ProgramTest):

    @classmethod
    def setUpClass(cls):
        os.environ["QT_SCALE_FACTOR"] = "2"
        try:
            super().setUpClass()
        finally:
            del os.environ["QT_SCALE_FACTOR"]

    def assertSharp(self, screen, path, parts, area, what, part=0):
        """The picture shows pixel for pixel in area: no grey levels on its
        edges that a smoothly enlarged small picture would bring, and no
        blocks of a small one enlarged pixel by pixel."""
        rows = picture(path, part, parts)
        at, wrong = find_picture(screen, rows, area)
        self.assertEqual(wrong, 0, "%s: %s not drawn pixel for pixel (%s)" % (what, path, screen.path))

    def device_area(self, accessible):
        """An accessible's extents in the screen's pixels, a little larger:
        AT-SPI reports them in the program's scaled-down coordinates."""
        x, y, w, h = (2 * v for v in extents(accessible))
        return x - 8, y - 8, w + 16, h + 16

    def test_1_the_main_window_draws_its_glyphs_at_twice_the_size(self):
        screen = self.shot("scale2-main")
        for button, path in (("Load a old session", "dialogs/load@2x.png"),
                             ("Run every 30 seconds", "app/auto@2x.png")):
            # A glyph button at rest shows the strip's second image.
            self.assertSharp(screen, path, 2, self.device_area(self.p.button(button)), button, 1)

    def test_2_the_address_dialog_draws_its_glyphs_at_twice_the_size(self):
        key("alt+a")
        dialog = wait_for(lambda: self.p.top_level("Select Addresses"), "the address dialog")
        field = wait_for(lambda: self.p.field("IP Address or Host here", root=dialog), "its field")
        wait_for(lambda: is_focused(field), "the focus in the address field")
        # An entry enables the buttons that act on the list.
        type_text("10.61.4.2")
        key("Return")
        key("Tab")
        time.sleep(0.5)
        screen = self.shot("scale2-addresses")
        add = self.p.find(pyatspi.ROLE_PUSH_BUTTON, description="Add the text now", root=dialog)
        self.assertSharp(screen, "dialogs/addone@2x.png", 2, self.device_area(add), "Add")
        for name, path in (("Ok", "dialogs/ok@2x.png"), ("Remove All", "dialogs/removeall@2x.png"),
                           ("Load from File", "dialogs/load@2x.png")):
            self.assertSharp(screen, path, 2, self.device_area(self.p.button(name, root=dialog)),
                             name, 1)
        key("Escape")
        wait_for(lambda: self.p.top_level("Select Addresses") is None, "the dialog to close")

    def test_3_the_about_box_shows_its_picture_at_twice_the_size(self):
        self.p.button("Close").queryAction().doAction(0)
        box = wait_for(lambda: self.p.top_level("About Netsonde"), "the about box")
        time.sleep(0.5)
        screen = self.shot("scale2-about")
        rows = picture("app/about@2x.png")
        # The version label covers the picture's top right corner: the
        # title's part of the picture is enough.
        title = [row[180:560] for row in rows[110:230]]
        at, wrong = find_picture(screen, title, self.device_area(box), exact=True)
        self.assertEqual(wrong, 0, "the about picture is not drawn pixel for pixel (%s)" % screen.path)
        key("Return")
        self.assertEqual(self.p.process.wait(10), 0)
