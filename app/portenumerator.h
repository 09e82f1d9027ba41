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
};

using PortEnumerator = std::function<QList<PortEntry>()>;

// USB vendor of the CP2102 USB-to-UART bridge; only its ports are offered.
constexpr quint16 bridgeVendorId = 0x10C4;

// The ports the system has now, in the order the serial port layer lists them.
QList<PortEntry> systemPorts();

// Names of the offered ports among `ports`, in order.
QStringList bridgePortNames(const QList<PortEntry> &ports);

#endif
