#!/usr/bin/env python3
"""A tray host for the tests: owns org.kde.StatusNotifierWatcher on the session
bus, so that Qt shows its tray icon as a StatusNotifierItem, and writes each
item that registers to the file given as argv[1] ("bus-name object-path")."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = 'org.kde.StatusNotifierWatcher'
# Qt reads IsStatusNotifierHostRegistered through introspection, so the
# properties must be described, not only answered.
INTROSPECTION = '''<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
</node>'''


class Watcher(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, '/StatusNotifierWatcher')
        self.items = []
        self.log = log
        self.bus = bus

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature='s')
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(WATCHER, in_signature='s', sender_keyword='sender')
    def RegisterStatusNotifierItem(self, service, sender=None):
        name, path = (sender, service) if service.startswith('/') else (service, '/StatusNotifierItem')
        self.items.append(name + path)
        pid = self.bus.call_blocking('org.freedesktop.DBus', '/org/freedesktop/DBus',
                                     'org.freedesktop.DBus', 'GetConnectionUnixProcessID',
                                     's', (sender,))
        with open(self.log, 'a') as out:
            out.write('%d %s %s\n' % (pid, name, path))
        self.StatusNotifierItemRegistered(name + path)

    @dbus.service.method(WATCHER, in_signature='s')
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature='s')
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return {'RegisteredStatusNotifierItems': dbus.Array(self.items, signature='s'),
                'IsStatusNotifierHostRegistered': dbus.Boolean(True),
                'ProtocolVersion': dbus.Int32(0)}


DBusGMainLoop(set_as_default=True)
session = dbus.SessionBus()
watcher = Watcher(session, sys.argv[1])
session.request_name(WATCHER)
open(sys.argv[1] + '.up', 'w').close()
GLib.MainLoop().run()
