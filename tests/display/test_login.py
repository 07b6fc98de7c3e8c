"""The start at login: the Alerts dialog writes and removes the autostart
entry, and a start by the entry's command lands in the notification area
with the last session and its automatic mode running."""

import configparser
import shlex

from desktop import *
from sni import StandInWatcher, activate, iconic_window, shown_window

FAR, QUIET = "10.61.4.2", "10.61.5.2"
WORK = os.path.join(os.environ["NETSONDE_WORK"], "login")
CONFIG = os.path.join(WORK, "config")
ENTRY = os.path.join(CONFIG, "autostart", "netsonde.desktop")
SESSION = os.path.join(WORK, "data", "Netsonde", "last-session.nsd")
ENV = {"XDG_CONFIG_HOME": CONFIG}


class Test1StartAtLogin(ProgramTest):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.shots = os.environ["NETSONDE_SHOTS"]
        cls.program = cls.p = Program(os.environ["NETSONDE_PROGRAM"], WORK, env=ENV)
        cls.scale = extents(cls.p.window)[2] / 625.0

    def login_box(self, dialog):
        return self.p.find(pyatspi.ROLE_CHECK_BOX, name="Start at login in the notification area",
                           root=dialog)

    def test_1_the_alerts_dialog_writes_and_removes_the_entry(self):
        self.add_hosts([FAR, QUIET])
        self.type_into("Seconds to wait before run", "3")
        click(self.p.button("Run every 3 seconds"))
        time.sleep(0.3)  # the menu opens; it is no accessible object
        key("c")
        wait_for(self.p.busy, "the automatic Check All", 5, 0.01)
        self.p.wait_idle()

        key("ctrl+shift+a")
        dialog = wait_for(lambda: self.p.top_level("Alerts"), "the Alerts dialog")
        box = wait_for(lambda: self.login_box(dialog), "the start at login")
        self.assertFalse(box.getState().contains(pyatspi.STATE_CHECKED))
        click(box)
        wait_for(lambda: os.path.exists(ENTRY), "the autostart entry")
        self.shot("login-alerts-dialog")
        check = subprocess.run(["desktop-file-validate", ENTRY], stdout=subprocess.PIPE, text=True)
        self.assertEqual(check.returncode, 0, check.stdout)
        self.assertTrue(os.path.exists(SESSION))
        click(box)
        wait_for(lambda: not os.path.exists(ENTRY), "the entry removed")
        click(box)
        wait_for(lambda: os.path.exists(ENTRY), "the entry written again")
        click(self.p.button("Close", root=dialog))
        wait_for(lambda: self.p.top_level("Alerts") is None, "the dialog to close")

    def test_2_the_program_ended_by_the_session_keeps_its_state(self):
        os.remove(SESSION)
        # The end of a desktop session: SIGTERM.
        self.p.process.terminate()
        self.assertEqual(self.p.process.wait(20), 0)
        state = configparser.ConfigParser()
        state.read(os.path.join(WORK, "data", "Netsonde", "last-session.conf"))
        self.assertEqual(state["Automatic"]["Command"], "CheckAll")
        self.assertEqual(state["Options"]["Seconds"], "3")
        with open(SESSION, "rb") as f:
            self.assertIn(b"[" + FAR.encode() + b"]", f.read())

    def test_3_a_start_by_the_entry_lands_in_the_area_with_the_mode_running(self):
        # The session as it was left, without its results: whatever results
        # it holds at the end come from the automatic mode of the new start.
        with open(SESSION, "wb") as f:
            f.write(("[%s]\r\n=\r\n[%s]\r\n=\r\n" % (FAR, QUIET)).encode())
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(ENTRY)
        command = shlex.split(entry["Desktop Entry"]["Exec"])
        self.assertEqual(command[:2], ["env", "NETSONDE_AUTOSTART=1"])
        watcher = StandInWatcher(os.path.join(WORK, "watcher.log"))
        env = dict(self.p.env)
        log = open(os.path.join(WORK, "entry-start.log"), "ab")
        process = subprocess.Popen(command, env=env, stdout=log, stderr=log)
        try:
            service = watcher.wait_for_item()
            self.assertIsNone(shown_window(process.pid))
            self.assertIsNone(iconic_window(process.pid))
            activate(service)
            wait_for(lambda: shown_window(process.pid), "the window back from the area")
            screenshot(os.path.join(self.shots, "login-entry-start.png"))
            # Time for the first round's checks.
            time.sleep(8)
        finally:
            process.terminate()
            status = process.wait(20)
            watcher.stop()
            log.close()
        self.assertEqual(status, 0)
        state = configparser.ConfigParser()
        state.read(os.path.join(WORK, "data", "Netsonde", "last-session.conf"))
        self.assertEqual(state["Automatic"]["Command"], "CheckAll")
        with open(SESSION, "rb") as f:
            kept = f.read()
        # The silent host may still be on its first check; the other has
        # been checked by the new start's automatic mode.
        self.assertIn(b"bytes received from " + FAR.encode(), kept)


if __name__ == "__main__":
    unittest.main()
