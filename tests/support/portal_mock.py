'''The desktop portal's idle inhibitor, for newsbar's tests (a python-dbusmock template).

Inhibit answers with a new org.freedesktop.portal.Request object, whose Close removes it,
as the portal does. Beside dbusmock's own call logs (one per object), the mock keeps on
io.github.newsbar.test.Portal what a test asks about the portal as a whole:
  Events()          "inhibit <flags> <reason> <handle>", "close <handle>" and "refused", in
                    the order they came
  Held()            how many inhibitors are held now
  MostHeld()        how many were held at once, at most
  SetRefusing(b)    whether Inhibit answers with an error (AccessDenied) from now on
'''

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Inhibit'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'
TEST_IFACE = 'io.github.newsbar.test.Portal'


def load(mock, parameters):
    # pylint: disable=unused-argument
    mock.requests = 0
    mock.held = set()
    mock.most_held = 0
    mock.events = []
    mock.refusing = False
    mock.AddProperty(MAIN_IFACE, 'version', dbus.UInt32(3))
    mock.AddMethod(MAIN_IFACE, 'Inhibit', 'sua{sv}', 'o', inhibit)
    mock.AddMethod(TEST_IFACE, 'Events', '', 'as', lambda portal: dbus.Array(portal.events, signature='s'))
    mock.AddMethod(TEST_IFACE, 'Held', '', 'u', lambda portal: dbus.UInt32(len(portal.held)))
    mock.AddMethod(TEST_IFACE, 'MostHeld', '', 'u', lambda portal: dbus.UInt32(portal.most_held))
    mock.AddMethod(TEST_IFACE, 'SetRefusing', 'b', '', set_refusing)


def set_refusing(portal, refusing):
    portal.refusing = bool(refusing)


def inhibit(portal, window, flags, options):
    # pylint: disable=unused-argument
    if portal.refusing:
        portal.events.append('refused')
        raise dbus.exceptions.DBusException('not now', name='org.freedesktop.DBus.Error.AccessDenied')
    portal.requests += 1
    path = f'{MAIN_OBJ}/request/newsbar/inhibit{portal.requests}'
    portal.AddObject(path, REQUEST_IFACE, {}, [])
    mockobject.objects[path].AddMethod(REQUEST_IFACE, 'Close', '', '', close)
    portal.held.add(path)
    portal.most_held = max(portal.most_held, len(portal.held))
    portal.events.append(f'inhibit {int(flags)} {options.get("reason", "")} {path}')
    return dbus.ObjectPath(path)


def close(request):
    portal = mockobject.objects[MAIN_OBJ]
    portal.held.discard(request.path)
    portal.events.append(f'close {request.path}')
    portal.RemoveObject(request.path)
