#!/usr/bin/python3
"""A stand-in for the desktop's notification service, for tests.

notification-service.py DIR: owns org.freedesktop.Notifications on the session bus, appends every
Notify call to DIR/notify.log as one JSON line (id, replaces_id, app_name, summary, body, actions)
and writes "ready" to DIR/ready once it owns the name. When DIR/invoke appears holding a
notification id, it emits ActionInvoked(id, "default") and removes the file.
"""
import json
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"


class Notifications(dbus.service.Object):
    def __init__(self, bus, folder):
        super().__init__(bus, PATH)
        self.folder = folder
        self.last_id = 0

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        if replaces_id:
            nid = int(replaces_id)
        else:
            self.last_id += 1
            nid = self.last_id
        with open(os.path.join(self.folder, "notify.log"), "a", encoding="utf-8") as log:
            log.write(json.dumps({"id": nid, "replaces_id": int(replaces_id), "app_name": str(app_name),
                                  "icon": str(app_icon), "summary": str(summary), "body": str(body),
                                  "actions": [str(a) for a in actions]}, ensure_ascii=False) + "\n")
        return dbus.UInt32(nid)

    @dbus.service.method(NAME, in_signature="u")
    def CloseNotification(self, nid):
        self.NotificationClosed(nid, 3)

    @dbus.service.method(NAME, out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method(NAME, out_signature="ssss")
    def GetServerInformation(self):
        return ("test-notifications", "orvalink", "1", "1.2")

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, nid, action):
        pass

    @dbus.service.signal(NAME, signature="uu")
    def NotificationClosed(self, nid, reason):
        pass

    def poll(self):
        path = os.path.join(self.folder, "invoke")
        if os.path.exists(path):
            with open(path) as f:
                text = f.read().strip()
            if text:
                os.remove(path)
                self.ActionInvoked(dbus.UInt32(int(text)), "default")
        return True


def main():
    folder = sys.argv[1]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(NAME, bus)
    service = Notifications(bus, folder)
    GLib.timeout_add(50, service.poll)
    with open(os.path.join(folder, "ready"), "w") as f:
        f.write("ready\n")
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
