#include "portenumerator.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

QList<PortEntry> systemPorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.hasVendorIdentifier(), info.vendorIdentifier(), false,
                      info.serialNumber(), physicalPathOf(info.systemLocation())});
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

QString physicalPathOf(const QString &deviceNode)
{
    const QString node = QFileInfo(deviceNode).canonicalFilePath();
    if (node.isEmpty())
        return QString();
    const QDir byPath(QStringLiteral("/dev/serial/by-path"));
    const QFileInfoList links = byPath.entryInfoList(QDir::Files | QDir::System);
    for (const QFileInfo &link : links)
        if (link.canonicalFilePath() == node)
            return link.absoluteFilePath();
    return QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(QFileInfo(node).fileName()))
        .canonicalFilePath();
}

QStringList bridgePortNames(const QList<PortEntry> &ports)
{
    QStringList names;
    for (const PortEntry &port : ports)
        if (port.extra || (port.hasVendorIdentifier && port.vendorIdentifier == bridgeVendorId))
            names.append(port.name);
    return names;
}
