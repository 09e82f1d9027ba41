#include "livebridge.h"

#include "bridgetransport.h"

#include <QDateTime>

using namespace Bridge;

namespace {

// Channel ids: /scan 1, /points 2; their queues are 0 and 1.
constexpr uint32_t scanChannel = 1;
constexpr uint32_t pointsChannel = 2;
// The close code for "try again later" (RFC 6455 registry).
constexpr int tryAgainLater = 1013;

} // namespace

bool ShareAddress::parse(const QString &text, ShareAddress *out, QString *error)
{
    ShareAddress result;
    QString host;
    QString port = text.trimmed();
    const int colon = port.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = port.left(colon);
        port = port.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (host.isEmpty() || !result.address.setAddress(host)) {
            *error = QStringLiteral("'%1' is not an IP address").arg(host);
            return false;
        }
    }
    if (!port.isEmpty()) {
        bool ok = false;
        const uint number = port.toUInt(&ok);
        if (!ok || number > 65535) {
            *error = QStringLiteral("'%1' is not a port number (0 to 65535)").arg(port);
            return false;
        }
        result.port = static_cast<quint16>(number);
    }
    *out = result;
    return true;
}

QString ShareAddress::url(quint16 boundPort) const
{
    QString host = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("ws://%1:%2").arg(host).arg(boundPort);
}

LiveBridge::LiveBridge(QObject *parent) : QObject(parent)
{
    channels = {
        {scanChannel, Robotics::scanTopic, Robotics::messageEncoding, Robotics::laserScanSchemaName,
         Robotics::laserScanSchema(), Robotics::schemaEncoding},
        {pointsChannel, Robotics::pointsTopic, Robotics::messageEncoding,
         Robotics::pointCloudSchemaName, Robotics::pointCloudSchema(), Robotics::schemaEncoding},
    };
}

LiveBridge::~LiveBridge()
{
    // Whoever listens may be going too.
    blockSignals(true);
    stop();
}

bool LiveBridge::start(const ShareAddress &where, QString *error)
{
    stop();
    auto made = BridgeTransport::make();
    made->setIncomingLimit(maxClientMessageBytes);
    if (!made->listen(where.address, where.port, error))
        return false;
    transport = std::move(made);
    address = where;
    sessionId = QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    BridgeTransport *t = transport.get();
    connect(t, &BridgeTransport::clientConnected, this, &LiveBridge::connected);
    connect(t, &BridgeTransport::clientDisconnected, this, &LiveBridge::disconnected);
    connect(t, &BridgeTransport::textReceived, this, &LiveBridge::text);
    connect(t, &BridgeTransport::binaryReceived, this, &LiveBridge::binary);
    connect(t, &BridgeTransport::drained, this, &LiveBridge::flush);
    return true;
}

void LiveBridge::stop()
{
    if (!transport)
        return;
    std::unique_ptr<BridgeTransport> closing = std::move(transport);
    closing->disconnect(this);
    closing->close();
    const bool hadClients = !clients.empty();
    clients.clear();
    if (hadClients)
        emit clientCountChanged(0);
}

QString LiveBridge::url() const
{
    return transport ? address.url(transport->serverPort()) : QString();
}

quint16 LiveBridge::port() const
{
    return transport ? transport->serverPort() : 0;
}

int LiveBridge::subscriptionCount() const
{
    int count = 0;
    for (const auto &entry : clients)
        count += entry.second.state.subscriptionCount();
    return count;
}

void LiveBridge::connected(quint64 id)
{
    if (int(clients.size()) >= maxClients) {
        transport->sendText(
            id, statusMessage(StatusLevel::Error, QStringLiteral("this server takes at most %1 "
                                                                 "clients; try again later")
                                                      .arg(maxClients)));
        transport->closeClient(id, tryAgainLater, QStringLiteral("too many clients"));
        return;
    }
    clients.emplace(id, Client{ClientState({scanChannel, pointsChannel}), {}});
    transport->sendText(id, serverInfoMessage("Vantoscope", sessionId));
    transport->sendText(id, advertiseMessage(channels));
    emit clientCountChanged(clientCount());
}

void LiveBridge::disconnected(quint64 id)
{
    if (clients.erase(id) > 0)
        emit clientCountChanged(clientCount());
}

void LiveBridge::text(quint64 id, const QByteArray &message)
{
    const auto it = clients.find(id);
    if (it == clients.end())
        return;
    const QVector<QByteArray> statuses = it->second.state.handleText(message);
    // What is queued for a channel no longer subscribed is not sent.
    for (uint32_t channel : {scanChannel, pointsChannel})
        if (it->second.state.subscriptionFor(channel) < 0)
            it->second.queues[channel - 1].clear();
    reply(id, statuses);
}

void LiveBridge::binary(quint64 id, const QByteArray &message)
{
    const auto it = clients.find(id);
    if (it != clients.end())
        reply(id, it->second.state.handleBinary(message));
}

void LiveBridge::reply(quint64 id, const QVector<QByteArray> &statuses)
{
    for (const QByteArray &status : statuses)
        transport->sendText(id, status);
}

void LiveBridge::publish(const SensorScan &scan)
{
    if (!transport || clients.empty())
        return;
    const auto time = static_cast<uint64_t>(std::max<qint64>(0, Robotics::messageTime(scan)));
    for (uint32_t channel : {scanChannel, pointsChannel}) {
        bool encoded = false;
        for (auto &[id, client] : clients) {
            const int64_t subscription = client.state.subscriptionFor(channel);
            if (subscription < 0)
                continue;
            if (!encoded) {
                if (channel == scanChannel)
                    encoder.laserScan(scan, payload);
                else
                    encoder.pointCloud(scan, payload);
                encoded = true;
            }
            messageDataFrame(frame, static_cast<uint32_t>(subscription), time, payload);
            std::deque<QByteArray> &queue = client.queues[channel - 1];
            if (int(queue.size()) >= queuedScans) {
                queue.pop_front();
                ++dropped;
            }
            queue.push_back(frame);
        }
    }
    for (const auto &entry : clients)
        flush(entry.first);
}

// Hands queued messages to the client's socket while it has room, the two
// channels in turn so one cannot starve the other.
void LiveBridge::flush(quint64 id)
{
    const auto it = clients.find(id);
    if (it == clients.end() || !transport)
        return;
    Client &client = it->second;
    while (transport->pendingBytes(id) < highWaterBytes &&
           !(client.queues[0].empty() && client.queues[1].empty())) {
        for (std::deque<QByteArray> &queue : client.queues) {
            if (queue.empty())
                continue;
            transport->sendBinary(id, queue.front());
            queue.pop_front();
        }
    }
}
