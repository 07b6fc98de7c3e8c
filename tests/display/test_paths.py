"""The Path window on the test network: opened for the far host from the
address list's context menu, its rows read as a screen reader reads them,
Copy's text on the clipboard, and how the window looks."""

import os

from desktop import *

FAR = "10.61.4.2"
TITLE = "Path to %s - Netsonde" % FAR
HOPS = [("1", r"10\.61\.1\.1", r"r1\.nsd\.test"), ("2", r"10\.61\.2\.2", r"r2\.nsd\.test"),
        ("3", r"10\.61\.3\.2", r"r3\.nsd\.test"), ("4", r"10\.61\.4\.2", r"far\.nsd\.test")]
SPOKEN = [r"hop %s, %s %s, loss [\d.]+ %%, forwarded loss [\d.]+ %%, average [\d.]+ ms" % hop
          for hop in HOPS]
COPIED = [r" *%s  +%s \(%s\)(  +\d+\.\d){2}  +\d+(  +\d+\.\d){6}" % (n, name, address)
          for n, address, name in HOPS]


def clipboard():
    env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    return subprocess.run([os.environ["NETSONDE_CLIPBOARD"]], env=env, stdout=subprocess.PIPE,
                          text=True, timeout=10).stdout


class Paths(ProgramTest):

    def path_window(self):
        return self.p.top_level(TITLE)

    def rows(self, window):
        """The first cell of each row of the hop table: the row's words."""
        table = self.p.find(pyatspi.ROLE_TABLE, name="Hops", root=window).queryTable()
        return [table.getAccessibleAt(row, 0).name for row in range(table.nRows)]

    def named_rows(self, window):
        rows = self.rows(window)
        return rows if len(rows) == 4 and all("nsd.test" in row for row in rows) else None

    def test_1_the_context_menu_opens_the_path_with_every_hop_named(self):
        self.add_hosts([FAR])
        click(self.p.item(FAR), button=3)
        time.sleep(0.3)  # the menu opens; it is no accessible object
        key("p")  # Watch &Path…
        window = wait_for(self.path_window, "the Path window")
        rows = wait_for(lambda: self.named_rows(window), "four hops with their names", 30)
        for row, pattern in zip(rows, SPOKEN):
            self.assertRegex(row, "^" + pattern + "$")
        # Asked again, the window comes to the front; no second one opens.
        click(self.p.item(FAR))
        xdotool("windowactivate", "--sync", self.p.xid)
        key("ctrl+shift+p")
        time.sleep(0.5)
        self.assertEqual(self.p.top_levels().count(TITLE), 1)

    def test_2_copy_puts_the_table_on_the_clipboard(self):
        window = wait_for(self.path_window, "the Path window")
        click(self.p.button("Copy", root=window))
        text = wait_for(lambda: (lambda t: t if t.startswith("Path to") else None)(clipboard()),
                        "the report on the clipboard", 10, 0.2)
        # Kept beside the screenshots, to be read as a user would paste it.
        with open(os.path.join(self.shots, "path-report.txt"), "w", encoding="utf-8") as f:
            f.write(text)
        lines = text.rstrip("\n").split("\n")
        self.assertEqual(lines[0], "Path to " + FAR)
        self.assertRegex(lines[1], r"^Hop  Host +Loss %  Forwarded loss %  Sent  Last  Avg  Best  Worst"
                                   r"  StDev  Jitter$")
        self.assertEqual(len(lines), 2 + len(HOPS), text)
        for line, pattern in zip(lines[2:], COPIED):
            self.assertRegex(line, "^" + pattern + "$")

    def test_3_the_window_as_it_looks(self):
        window = wait_for(self.path_window, "the Path window")
        # Some rounds into the strips, the mouse off the buttons.
        time.sleep(4)
        xdotool("mousemove", "0", "0")
        time.sleep(0.3)
        image = self.shot("path-window")
        x, y, w, h = extents(self.p.find(pyatspi.ROLE_TABLE, name="Hops", root=window))
        self.assertGreater(w, 600, "the table is too narrow (%s)" % image.path)
        inked = sum(1 for row in image.region(x, y, w, h) for at in range(0, len(row), 3)
                    if row[at] < 128)
        self.assertGreater(inked, 500, "the table shows nothing (%s)" % image.path)
