#include "reconnector.h"

#include "session/sensorsession.h"

namespace {

bool isBridge(const PortEntry &port)
{
    return port.hasVendorIdentifier && port.vendorIdentifier == bridgeVendorId;
}

} // namespace

AdapterIdentity identifyAdapter(const PortEntry &port, const QList<PortEntry> &present)
{
    if (port.extra)
        return {AdapterIdentity::By::Path, port.name};
    if (!port.serialNumber.isEmpty()) {
        int sharing = 0;
        for (const PortEntry &other : present)
            if (isBridge(other) && other.serialNumber == port.serialNumber)
                ++sharing;
        if (sharing <= 1)
            return {AdapterIdentity::By::SerialNumber, port.serialNumber};
    }
    if (!port.physicalPath.isEmpty())
        return {AdapterIdentity::By::PhysicalPath, port.physicalPath};
    return {};
}

QString findAdapter(const AdapterIdentity &adapter, const QList<PortEntry> &ports)
{
    QStringList found;
    for (const PortEntry &port : ports) {
        switch (adapter.by) {
        case AdapterIdentity::By::Nothing:
            return QString();
        case AdapterIdentity::By::SerialNumber:
            if (isBridge(port) && port.serialNumber == adapter.key)
                found.append(port.name);
            break;
        case AdapterIdentity::By::PhysicalPath:
            if (isBridge(port) && port.physicalPath == adapter.key)
                found.append(port.name);
            break;
        case AdapterIdentity::By::Path:
            if (port.extra && port.name == adapter.key)
                found.append(port.name);
            break;
        }
    }
    return found.size() == 1 ? found.constFirst() : QString();
}

Reconnector::Reconnector(SensorSession *session, PortEnumerator ports, QObject *parent)
    : QObject(parent), session(session), enumerator(std::move(ports))
{
    connect(session, &SensorSession::stateChanged, this, [this](SensorSession::State state) {
        if (state == SensorSession::State::Connected)
            remember();
    });
    connect(session, &SensorSession::deviceLost, this, &Reconnector::deviceLost);
}

void Reconnector::setEnabled(bool on)
{
    enabled = on;
    if (!on)
        cancel();
}

bool Reconnector::cancel()
{
    const bool was = waiting();
    lostPort.clear();
    return was;
}

void Reconnector::remember()
{
    connectedPort = session->portName();
    baudrate = session->baudRate();
    const QList<PortEntry> present = enumerator();
    adapter = {};
    for (const PortEntry &port : present)
        if (port.name == connectedPort)
            adapter = identifyAdapter(port, present);
}

void Reconnector::deviceLost()
{
    if (!enabled || adapter.by == AdapterIdentity::By::Nothing)
        return;
    lostPort = connectedPort;
    emit waitingStarted(lostPort);
}

void Reconnector::portsMayHaveChanged()
{
    if (!waiting() || session->isOpen())
        return;
    const QString name = findAdapter(adapter, enumerator());
    if (name.isEmpty())
        return;
    if (!session->open(name, baudrate))
        return; // not ready yet; the next change tries again
    lostPort.clear();
    emit reconnected(name);
}
