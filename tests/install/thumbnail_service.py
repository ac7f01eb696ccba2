#!/usr/bin/python3
"""Asks the desktop's thumbnail service for normal-size thumbnails as a file
manager does, on the session bus it runs in (dbus-run-session), and prints
the service's answer per file: "ready URI" or "error URI: MESSAGE".

    thumbnail_service.py SERVICE URI MIME [URI MIME ...]

SERVICE is the program the bus would start for the thumbnailer name
(tumblerd); it is started here, with this environment, and stopped at the end.
"""

import subprocess
import sys

from gi.repository import Gio, GLib

NAME = "org.freedesktop.thumbnails.Thumbnailer1"
OBJECT = "/org/freedesktop/thumbnails/Thumbnailer1"


def main(service, pairs):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    loop = GLib.MainLoop()
    answers = []

    # The service sends its signals to the caller alone.
    def on_signal(_bus, _sender, _path, _interface, signal, params):
        if signal == "Ready":
            answers.extend(f"ready {uri}" for uri in params[1])
        elif signal == "Error":
            answers.extend(f"error {uri}: {params[3]}" for uri in params[1])
        elif signal == "Finished":
            loop.quit()

    bus.signal_subscribe(None, NAME, None, OBJECT, None, Gio.DBusSignalFlags.NONE, on_signal)
    daemon = subprocess.Popen([service])
    try:
        subprocess.run(["gdbus", "wait", "--session", "--timeout", "30", NAME], check=True)
        bus.call_sync(NAME, OBJECT, NAME, "Queue",
                      GLib.Variant("(asasssu)", (pairs[0::2], pairs[1::2], "normal", "default", 0)),
                      None, Gio.DBusCallFlags.NONE, 30000, None)
        GLib.timeout_add_seconds(60, loop.quit)
        loop.run()
    finally:
        daemon.terminate()
        daemon.wait()
    print("\n".join(answers))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
