#!/usr/bin/python3
"""A stand-in for UDisks2 on a test bus: it knows one block device path and
answers Manager.ResolveDevice for it, and Block.OpenForBackup and
Block.OpenForRestore with a descriptor of a backing file.

    udisks_test_service.py BUS_ADDRESS DEVICE_PATH BACKING_FILE READY_FILE
"""
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = "org.freedesktop.UDisks2"
BLOCK_PATH = "/org/freedesktop/UDisks2/block_devices/test0"


class Manager(dbus.service.Object):
    def __init__(self, bus, device):
        super().__init__(bus, "/org/freedesktop/UDisks2/Manager")
        self.device = device

    @dbus.service.method("org.freedesktop.UDisks2.Manager", in_signature="a{sv}a{sv}", out_signature="ao")
    def ResolveDevice(self, devspec, options):
        return [dbus.ObjectPath(BLOCK_PATH)] if str(devspec.get("path", "")) == self.device else []


class Block(dbus.service.Object):
    def __init__(self, bus, backing):
        super().__init__(bus, BLOCK_PATH)
        self.backing = backing

    def _open(self, flags):
        fd = os.open(self.backing, flags | os.O_CLOEXEC)
        try:
            return dbus.types.UnixFd(fd)
        finally:
            os.close(fd)

    @dbus.service.method("org.freedesktop.UDisks2.Block", in_signature="a{sv}", out_signature="h")
    def OpenForBackup(self, options):
        return self._open(os.O_RDONLY)

    @dbus.service.method("org.freedesktop.UDisks2.Block", in_signature="a{sv}", out_signature="h")
    def OpenForRestore(self, options):
        return self._open(os.O_RDWR)


def main():
    address, device, backing, ready = sys.argv[1:5]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    name = dbus.service.BusName(BUS_NAME, bus)
    objects = [Manager(bus, device), Block(bus, backing)]
    with open(ready, "w") as f:
        f.write("ready\n")
    GLib.MainLoop().run()
    del name, objects


if __name__ == "__main__":
    main()
