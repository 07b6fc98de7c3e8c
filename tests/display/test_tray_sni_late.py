"""The notification area as a StatusNotifierItem host offers it, when the
host's watcher comes on the session bus after the program; the display has
no XEmbed tray."""

from desktop import *
from sni import StandInWatcher, activate, iconic_window, properties, shown_window
from test_tray_sni import SniTest

class HostComesLate(SniTest):
    WATCHER_FIRST = False

    def notice(self):
        for window in children(self.p.app):
            if window is None or window == self.p.window:
                continue
            for acc in walk(window):
                if acc.getRole() == pyatspi.ROLE_LABEL and "AppIndicator" in acc.name:
                    return window
        return None

    def test_1_without_a_host_minimising_leaves_a_reachable_window_and_says_once_why(self):
        xdotool("windowminimize", shown_window(self.p.process.pid))
        box = wait_for(self.notice, "the word on what to install")
        screenshot(os.path.join(self.shots, "no-notification-area.png"))
        self.assertTrue(iconic_window(self.p.process.pid))
        click(self.p.button("OK", root=box))
        wait_for(lambda: self.notice() is None, "the box to close")
        xdotool("windowactivate", "--sync", iconic_window(self.p.process.pid))
        wait_for(lambda: shown_window(self.p.process.pid), "the window back from the task bar")
        xdotool("windowminimize", shown_window(self.p.process.pid))
        wait_for(lambda: iconic_window(self.p.process.pid), "the window minimised again")
        time.sleep(1)  # a second box would have come by now
        self.assertIsNone(self.notice())

    def test_2_a_host_that_comes_later_takes_the_minimised_window_in(self):
        self.__class__.watcher = StandInWatcher(os.path.join(self.work, "watcher.log"))
        service = self.watcher.wait_for_item()
        wait_for(lambda: not shown_window(self.p.process.pid) and not iconic_window(self.p.process.pid),
                 "the window hidden in the area")
        self.assertItem(service)
        self.assertBackByActivate(service)


if __name__ == "__main__":
    unittest.main()
