#include "portenumerator.h"

#include <QSerialPortInfo>

QList<PortEntry> systemPorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.hasVendorIdentifier(), info.vendorIdentifier()});
    return ports;
}

QStringList bridgePortNames(const QList<PortEntry> &ports)
{
    QStringList names;
    for (const PortEntry &port : ports)
        if (port.hasVendorIdentifier && port.vendorIdentifier == bridgeVendorId)
            names.append(port.name);
    return names;
}
