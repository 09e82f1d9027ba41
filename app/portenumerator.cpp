#include "portenumerator.h"

#include <QFileInfo>
#include <QSerialPortInfo>

QList<PortEntry> systemPorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.hasVendorIdentifier(), info.vendorIdentifier()});
    ports += extraPorts(qEnvironmentVariable("VANTOSCOPE_EXTRA_PORTS"));
    return ports;
}

QList<PortEntry> extraPorts(const QString &list)
{
    QList<PortEntry> ports;
    const QStringList paths = list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : paths)
        if (QFileInfo::exists(path))
            ports.append({path, false, 0, true});
    return ports;
}

QStringList bridgePortNames(const QList<PortEntry> &ports)
{
    QStringList names;
    for (const PortEntry &port : ports)
        if (port.extra || (port.hasVendorIdentifier && port.vendorIdentifier == bridgeVendorId))
            names.append(port.name);
    return names;
}
