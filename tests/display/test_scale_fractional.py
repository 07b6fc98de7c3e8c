"""The program on a screen scaled by one and a half (QT_SCALE_FACTOR=1.5),
where a logical pixel is no whole number of the screen's: the framed
controls keep their whole frames."""

from desktop import *


class ScaledByOneAndAHalf(ProgramTest):
    """At a fractional scale (QT_SCALE_FACTOR=1.5) the result pane keeps its
    whole frame: its bottom and right lines show along their full length
    instead of being covered by its contents."""

    @classmethod
    def setUpClass(cls):
        os.environ["QT_SCALE_FACTOR"] = "1.5"
        try:
            super().setUpClass()
        finally:
            del os.environ["QT_SCALE_FACTOR"]

    def device_rect(self, accessible):
        """An accessible's extents in the screen's pixels, from the window's
        place and size on the X server."""
        ids = subprocess.run(["xdotool", "search", "--pid", str(self.p.process.pid), "--name",
                              "^Netsonde$"], stdout=subprocess.PIPE, text=True).stdout.split()
        places = []
        for xid in ids:
            out = subprocess.run(["xwininfo", "-id", xid], stdout=subprocess.PIPE, text=True).stdout
            value = lambda name: int(re.search(name + r":\s+(-?\d+)", out).group(1))
            places.append((value("Width"), value("Absolute upper-left X"),
                           value("Absolute upper-left Y")))
        # The main window, not the program's other small windows of that name.
        ww, wx, wy = max(places)
        lx, ly, lw, _ = extents(self.p.window)
        ratio = ww / lw
        x, y, w, h = extents(accessible)
        return (wx + round((x - lx) * ratio), wy + round((y - ly) * ratio),
                round(w * ratio), round(h * ratio))

    def test_the_result_pane_keeps_its_bottom_and_right_lines(self):
        pane = self.p.find(pyatspi.ROLE_TEXT, description="")
        screen = self.shot("scale1.5-main")
        x, y, w, h = self.device_rect(pane)
        background = screen.pixel(x + w // 2, y + h + 6)

        def line(points):
            dark = [p for p in points if sum(screen.pixel(*p)) < sum(background) - 60]
            return len(dark) / len(points)

        # Along most of the pane's width (the scroll bar aside) one of its
        # last rows is the frame's line; likewise one of its last columns.
        bottom = max(line([(cx, cy) for cx in range(x + 4, x + w - 40)])
                     for cy in range(y + h - 4, y + h + 2))
        right = max(line([(cx, cy) for cy in range(y + 40, y + h - 40)])
                    for cx in range(x + w - 4, x + w + 2))
        self.assertGreater(bottom, 0.95, "the bottom line is cut (%s)" % screen.path)
        self.assertGreater(right, 0.95, "the right line is cut (%s)" % screen.path)


if __name__ == "__main__":
    unittest.main()
