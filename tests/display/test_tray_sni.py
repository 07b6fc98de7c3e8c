"""The notification area as a StatusNotifierItem host (KDE Plasma's panel,
GNOME's AppIndicator extension) offers it on the session bus, with a
stand-in watcher; the display has no XEmbed tray."""

from desktop import *
from sni import StandInWatcher, activate, choose, iconic_window, menu_entries, properties, shown_window


class SniTest(unittest.TestCase):
    WATCHER_FIRST = True

    @classmethod
    def setUpClass(cls):
        cls.work = os.path.join(os.environ["NETSONDE_WORK"], cls.__name__)
        os.makedirs(cls.work, exist_ok=True)
        cls.shots = os.environ["NETSONDE_SHOTS"]
        cls.watcher = StandInWatcher(os.path.join(cls.work, "watcher.log")) if cls.WATCHER_FIRST else None
        cls.p = Program(os.environ["NETSONDE_PROGRAM"], cls.work,
                        env={"XDG_CONFIG_HOME": os.path.join(cls.work, "config")})

    @classmethod
    def tearDownClass(cls):
        cls.p.stop()
        if cls.watcher:
            cls.watcher.stop()

    def assertItem(self, service):
        props = properties(service)
        self.assertEqual(props["ToolTip"][2], "Netsonde")
        self.assertEqual(props["Status"], "Active")
        self.assertTrue(props["IconName"] or len(props["IconPixmap"]) > 0, "the item has no picture")
        # The host shows the item's menu itself, read over D-Bus; choosing
        # an entry there runs it.
        self.assertNotEqual(props["Menu"], "/NO_DBUSMENU")
        entries = menu_entries(service)
        self.assertIn("Alerts\u2026", entries)
        choose(service, entries["Alerts\u2026"])
        alerts = wait_for(lambda: self.alerts_dialog(), "the Alerts dialog from the menu")
        screenshot(os.path.join(self.shots, "%s-alerts-from-tray-menu.png" % type(self).__name__))
        click(self.p.button("Close", root=alerts))
        wait_for(lambda: self.alerts_dialog() is None, "the Alerts dialog to close")

    def alerts_dialog(self):
        for window in children(self.p.app):
            if window is not None and window.name == "Alerts" and is_showing(window):
                return window
        return None

    def assertBackByActivate(self, service):
        activate(service)
        wait_for(lambda: shown_window(self.p.process.pid), "the window back")
        wait_for(lambda: is_showing(self.p.window), "the window showing over AT-SPI")


class Test1HostFromTheStart(SniTest):
    def test_1_hide_entry_registers_an_item_whose_activate_brings_the_window_back(self):
        key("ctrl+shift+h")
        service = self.watcher.wait_for_item()
        wait_for(lambda: not shown_window(self.p.process.pid) and not iconic_window(self.p.process.pid),
                 "the window hidden")
        self.assertItem(service)
        self.assertBackByActivate(service)

    def test_2_minimising_goes_the_same_way(self):
        before = len(self.watcher.registered())
        xdotool("windowminimize", shown_window(self.p.process.pid))
        service = self.watcher.wait_for_item(before)
        wait_for(lambda: not shown_window(self.p.process.pid) and not iconic_window(self.p.process.pid),
                 "the window hidden")
        self.assertItem(service)
        self.assertBackByActivate(service)


if __name__ == "__main__":
    unittest.main()
