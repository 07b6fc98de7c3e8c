"""The start at login: the Alerts dialog writes and removes the autostart
entry, and a start by the entry's command lands in the notification area
with the last session and its automatic mode running once per interval, and
keeps the session's options when the window comes out; without a
notification area it stays minimised."""

import configparser
import shlex
import sqlite3

from desktop import *
from sni import StandInWatcher, activate, iconic_window, shown_window, viewable

FAR, QUIET = "10.61.4.2", "10.61.5.2"
WORK = os.path.join(os.environ["NETSONDE_WORK"], "login")
CONFIG = os.path.join(WORK, "config")
ENTRY = os.path.join(CONFIG, "autostart", "netsonde.desktop")
SESSION = os.path.join(WORK, "data", "Netsonde", "last-session.nsd")
STATE = os.path.join(WORK, "data", "Netsonde", "last-session.conf")
HISTORY = os.path.join(WORK, "data", "Netsonde", "history.sqlite")
ENV = {"XDG_CONFIG_HOME": CONFIG}


def automatic_runs(host, since_ms):
    """The times (ms) of the automatic runs of host recorded since since_ms."""
    try:
        db = sqlite3.connect("file:%s?mode=ro" % HISTORY, uri=True, timeout=5)
        try:
            rows = db.execute("SELECT r.t FROM runs r JOIN names n ON n.id = r.entry "
                              "WHERE n.text = ? AND r.automatic = 1 AND r.t >= ? ORDER BY r.t",
                              (host, since_ms)).fetchall()
        finally:
            db.close()
    except sqlite3.Error:
        return []
    return [row[0] for row in rows]


def saved_options():
    state = configparser.ConfigParser()
    state.read(STATE)
    return dict(state["Options"])


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
        self.type_into("Number of Pings to do", "4")
        # The silent host's check ends soon: a round lasts well under the
        # interval, so rounds that came back to back would show.
        self.type_into("Time to wait for packet return, in Milliseconds", "500")
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
        self.assertEqual(state["Options"]["Pings"], "4")
        with open(SESSION, "rb") as f:
            self.assertIn(b"[" + FAR.encode() + b"]", f.read())

    def start_by_entry(self):
        """Runs the entry's command with the session as it was left, without
        its results: whatever results it holds at the end come from the
        automatic mode of the new start."""
        with open(SESSION, "wb") as f:
            f.write(("[%s]\r\n=\r\n[%s]\r\n=\r\n" % (FAR, QUIET)).encode())
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(ENTRY)
        command = shlex.split(entry["Desktop Entry"]["Exec"])
        self.assertEqual(command[:2], ["env", "NETSONDE_AUTOSTART=1"])
        log = open(os.path.join(WORK, "entry-start.log"), "ab")
        self.addCleanup(log.close)
        return subprocess.Popen(command, env=dict(self.p.env), stdout=log, stderr=log)

    def assertRoundsEvery3Seconds(self, since_ms, rounds):
        """The first rounds of the automatic mode, one per 3 s tick: the
        history's automatic runs of the answering host, counted against the
        interval."""
        times = wait_for(lambda: len(automatic_runs(FAR, since_ms)) >= rounds
                         and automatic_runs(FAR, since_ms), "%d automatic rounds" % rounds, 30)
        gaps = [b - a for a, b in zip(times, times[1:])]
        # A tick comes 3 s after the one before (give or take a coarse
        # timer's slack); rounds back to back would come every half second.
        self.assertTrue(all(gap >= 2500 for gap in gaps[:rounds - 1]), gaps)

    def test_3_a_start_by_the_entry_lands_in_the_area_with_the_mode_running(self):
        watcher = StandInWatcher(os.path.join(WORK, "watcher.log"))
        since = int(time.time() * 1000)
        process = self.start_by_entry()
        try:
            service = watcher.wait_for_item()
            self.assertIsNone(shown_window(process.pid))
            self.assertIsNone(iconic_window(process.pid))
            # In the area, never shown: the mode runs at the saved interval.
            self.assertRoundsEvery3Seconds(since, 3)
            activate(service)
            wait_for(lambda: shown_window(process.pid), "the window back from the area")
            screenshot(os.path.join(self.shots, "login-entry-start.png"))
            shown = int(time.time() * 1000)
            self.assertRoundsEvery3Seconds(shown, 2)
        finally:
            process.terminate()
            status = process.wait(20)
            watcher.stop()
        self.assertEqual(status, 0)
        state = configparser.ConfigParser()
        state.read(STATE)
        self.assertEqual(state["Automatic"]["Command"], "CheckAll")
        # The window that came out kept the saved options, and so did the
        # session it wrote.
        self.assertEqual(saved_options()["seconds"], "3")
        self.assertEqual(saved_options()["pings"], "4")
        self.assertEqual(saved_options()["timeout"], "500")
        with open(SESSION, "rb") as f:
            kept = f.read()
        # The silent host may still be on its first check; the other has
        # been checked by the new start's automatic mode.
        self.assertIn(b"bytes received from " + FAR.encode(), kept)

    def test_4_without_a_notification_area_the_start_stays_minimised(self):
        since = int(time.time() * 1000)
        process = self.start_by_entry()
        try:
            self.assertRoundsEvery3Seconds(since, 2)
            window = wait_for(lambda: iconic_window(process.pid), "the minimised window")
            self.assertIsNone(shown_window(process.pid))
            self.assertFalse(viewable(window))
            screenshot(os.path.join(self.shots, "login-entry-start-no-area.png"))
        finally:
            process.terminate()
            status = process.wait(20)
        self.assertEqual(status, 0)
        self.assertEqual(saved_options()["seconds"], "3")


if __name__ == "__main__":
    unittest.main()
