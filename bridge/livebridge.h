#ifndef VANTOSCOPE_BRIDGE_LIVEBRIDGE_H
#define VANTOSCOPE_BRIDGE_LIVEBRIDGE_H

#include "bridgeprotocol.h"
#include "points/sensorscan.h"
#include "robotics/scanmessages.h"

#include <QHostAddress>
#include <QObject>
#include <deque>
#include <map>
#include <memory>

class BridgeTransport;

// Where the live bridge listens: `--share [ADDRESS:]PORT`. The address is
// the loopback one unless another is given, so sharing never reaches the
// network by default.
struct ShareAddress
{
    static constexpr quint16 defaultPort = 8765;
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = defaultPort;

    // "8765", "127.0.0.1:8765", "0.0.0.0:9000", "[::1]:8765"; an empty
    // text is the default. False with the reason in `error`.
    static bool parse(const QString &text, ShareAddress *out, QString *error);
    // ws://127.0.0.1:8765
    QString url(quint16 boundPort) const;
};

// Shares the scans the session publishes with Foxglove and other clients of
// the Foxglove WebSocket protocol, on the channels /scan and /points (see
// robotics/scanmessages.h). Runs on the window's (or the tool's) thread and
// never waits for a client: each client has a short queue per channel, from
// which the oldest scan is dropped when the client does not keep up, and
// nothing more is handed to a client's socket while it holds more than
// highWaterBytes unsent. At most maxClients at a time; another is told so and
// closed.
class LiveBridge : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxClients = 8;
    static constexpr int queuedScans = 4;
    static constexpr qint64 highWaterBytes = 256 << 10;

    explicit LiveBridge(QObject *parent = nullptr);
    ~LiveBridge() override;

    // The grid of /scan: the model's nominal angular step.
    void setGrid(const Robotics::ScanGrid &grid) { encoder.setGrid(grid); }

    // Starts listening; false with the reason in `error`.
    bool start(const ShareAddress &where, QString *error);
    void stop();
    bool sharing() const { return transport != nullptr; }
    // ws://ADDRESS:PORT while sharing, with the port actually bound.
    QString url() const;
    quint16 port() const;
    int clientCount() const { return int(clients.size()); }
    // Subscriptions the clients hold, all channels together.
    int subscriptionCount() const;
    // Scans dropped from slow clients' queues since the start.
    qint64 droppedScans() const { return dropped; }

public slots:
    void publish(const SensorScan &scan);

signals:
    void clientCountChanged(int count);

private:
    struct Client
    {
        Bridge::ClientState state;
        // One queue per channel, oldest first.
        std::deque<QByteArray> queues[2];
    };

    void connected(quint64 id);
    void disconnected(quint64 id);
    void text(quint64 id, const QByteArray &message);
    void binary(quint64 id, const QByteArray &message);
    void reply(quint64 id, const QVector<QByteArray> &statuses);
    void flush(quint64 id);

    std::unique_ptr<BridgeTransport> transport;
    ShareAddress address;
    QVector<Bridge::Channel> channels;
    std::map<quint64, Client> clients;
    Robotics::ScanEncoder encoder;
    QByteArray payload;
    QByteArray frame;
    QByteArray sessionId;
    qint64 dropped = 0;
};

#endif
