#ifndef VANTOSCOPE_PORTENUMERATOR_H
#define VANTOSCOPE_PORTENUMERATOR_H

#include <QList>
#include <QString>
#include <functional>

// What the port list needs to know of one serial port. The window asks a
// PortEnumerator for these instead of asking the system directly, so tests
// can hand it any list they like.
struct PortEntry
{
    QString name;
    bool hasVendorIdentifier = false;
    quint16 vendorIdentifier = 0;
    bool extra = false;        // named in VANTOSCOPE_EXTRA_PORTS (a simulator, for example)
    QString serialNumber = {}; // the USB serial number; unprogrammed bridges all say "0001"
    // Where the adapter is plugged in: its /dev/serial/by-path link, or its
    // sysfs device path. Stays the same when the port is renamed.
    QString physicalPath = {};
};

using PortEnumerator = std::function<QList<PortEntry>()>;

// USB vendor of the CP2102 USB-to-UART bridge; only its ports are offered.
constexpr quint16 bridgeVendorId = 0x10C4;

// The ports the system has now, in the order the serial port layer lists them,
// followed by the existing device paths named in the colon-separated
// environment variable VANTOSCOPE_EXTRA_PORTS.
QList<PortEntry> systemPorts();

// The existing device paths of a colon-separated list, as extra ports.
QList<PortEntry> extraPorts(const QString &list);

// The /dev/serial/by-path link to `deviceNode`, or else the real path of its
// sysfs device; empty when neither is known.
QString physicalPathOf(const QString &deviceNode);

// Names of the offered ports among `ports` (bridge ports and extra ports), in order.
QStringList bridgePortNames(const QList<PortEntry> &ports);

#endif
