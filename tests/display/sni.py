"""The notification area as a StatusNotifierItem host offers it, for the
display tests: a stand-in watcher (sni_watcher.py) on the test's session bus,
the items that register with it, and the main window's state on the X server."""

import os
import subprocess

import dbus

from desktop import wait_for

WATCHER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sni_watcher.py")
ITEM = "org.kde.StatusNotifierItem"


class StandInWatcher:
    def __init__(self, log):
        self.log = log
        open(log, "w").close()
        self.process = subprocess.Popen(["/usr/bin/python3", WATCHER, log])
        wait_for(lambda: "ready" in self._lines(), "the stand-in watcher")

    def _lines(self):
        with open(self.log) as f:
            return f.read().splitlines()

    def registered(self):
        """The services registered so far, in order."""
        return [line.split()[1] for line in self._lines() if line.startswith("register ")]

    def wait_for_item(self, after=0):
        """The service of the first item registered after the first `after`."""
        return wait_for(lambda: self.registered()[after:] and self.registered()[after], "an item to register")

    def stop(self):
        self.process.terminate()
        self.process.wait()


def properties(service):
    bus = dbus.SessionBus()
    item = bus.get_object(service, "/StatusNotifierItem")
    return item.GetAll(ITEM, dbus_interface="org.freedesktop.DBus.Properties")


def menu_entries(service):
    """The labels of the item's menu as the host reads them over dbusmenu,
    with their ids; empty when the item exports no menu."""
    path = properties(service)["Menu"]
    if path == "/NO_DBUSMENU":
        return {}
    bus = dbus.SessionBus()
    menu = bus.get_object(service, path)
    _, layout = menu.GetLayout(0, -1, [], dbus_interface="com.canonical.dbusmenu")
    entries = {}
    for child in layout[2]:
        if child[1].get("type", "standard") != "separator" and child[1].get("visible", True):
            entries[str(child[1].get("label", ""))] = int(child[0])
    return entries


def choose(service, entry_id):
    """Chooses an entry of the item's menu as the host does on a click."""
    bus = dbus.SessionBus()
    menu = bus.get_object(service, properties(service)["Menu"])
    menu.Event(entry_id, "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
               dbus_interface="com.canonical.dbusmenu")


def activate(service):
    bus = dbus.SessionBus()
    bus.get_object(service, "/StatusNotifierItem").Activate(0, 0, dbus_interface=ITEM)


def wm_state(xid):
    """Normal, Iconic or Withdrawn, as the window manager keeps it."""
    out = subprocess.run(["xprop", "-id", str(xid), "WM_STATE"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True).stdout
    for line in out.splitlines():
        if "window state:" in line:
            return line.split(":")[1].strip()
    return "Withdrawn"


def viewable(xid):
    out = subprocess.run(["xwininfo", "-id", str(xid)], stdout=subprocess.PIPE, text=True).stdout
    return "IsViewable" in out


def program_windows(pid):
    out = subprocess.run(["xdotool", "search", "--pid", str(pid), "--name", "^Netsonde$"],
                         stdout=subprocess.PIPE, text=True).stdout
    return out.split()


def shown_window(pid):
    """The program's main window when it is on the screen, else None."""
    for xid in program_windows(pid):
        if viewable(xid) and wm_state(xid) == "Normal":
            return xid
    return None


def iconic_window(pid):
    """The program's main window when it is minimised, else None."""
    for xid in program_windows(pid):
        if wm_state(xid) == "Iconic":
            return xid
    return None
