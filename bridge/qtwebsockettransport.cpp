// The live bridge's transport on Qt 6: Qt WebSockets, on the thread that
// made it. QWebSocketServer negotiates the subprotocol (Qt 6.4 and later).
#include "bridgeprotocol.h"
#include "bridgetransport.h"

#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>
#include <map>

namespace {

class QtWebSocketTransport : public BridgeTransport
{
public:
    explicit QtWebSocketTransport(QObject *parent)
        : BridgeTransport(parent),
          server(QStringLiteral("Vantoscope"), QWebSocketServer::NonSecureMode)
    {
        server.setSupportedSubprotocols({QString::fromLatin1(Bridge::subprotocol)});
        connect(&server, &QWebSocketServer::newConnection, this,
                &QtWebSocketTransport::takeConnections);
    }
    ~QtWebSocketTransport() override { close(); }

    bool listen(const QHostAddress &address, quint16 port, QString *error) override
    {
        if (server.listen(address, port))
            return true;
        *error = server.errorString();
        return false;
    }
    quint16 serverPort() const override { return server.serverPort(); }

    void close() override
    {
        server.close();
        const auto open = std::move(peers);
        peers.clear();
        for (const auto &[id, peer] : open) {
            peer.socket->disconnect(this);
            peer.socket->close(QWebSocketProtocol::CloseCodeGoingAway);
            peer.socket->deleteLater();
        }
    }

    void sendText(quint64 client, const QByteArray &text) override
    {
        if (Peer *peer = find(client))
            peer->pending += peer->socket->sendTextMessage(QString::fromUtf8(text));
    }
    void sendBinary(quint64 client, const QByteArray &data) override
    {
        if (Peer *peer = find(client))
            peer->pending += peer->socket->sendBinaryMessage(data);
    }
    void closeClient(quint64 client, int code, const QString &reason) override
    {
        if (Peer *peer = find(client))
            peer->socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
    }
    qint64 pendingBytes(quint64 client) const override
    {
        const auto it = peers.find(client);
        return it == peers.end() ? 0 : it->second.pending;
    }

private:
    struct Peer
    {
        QWebSocket *socket = nullptr;
        qint64 pending = 0;
    };

    Peer *find(quint64 client)
    {
        const auto it = peers.find(client);
        return it == peers.end() ? nullptr : &it->second;
    }

    void takeConnections()
    {
        while (QWebSocket *socket = server.nextPendingConnection()) {
            socket->setParent(this);
            if (socket->subprotocol() != QLatin1String(Bridge::subprotocol)) {
                socket->close(QWebSocketProtocol::CloseCodeProtocolError,
                              QStringLiteral("subprotocol %1 required")
                                  .arg(QLatin1String(Bridge::subprotocol)));
                socket->deleteLater();
                continue;
            }
            socket->setMaxAllowedIncomingMessageSize(static_cast<quint64>(incomingLimit));
            socket->setMaxAllowedIncomingFrameSize(static_cast<quint64>(incomingLimit));
            const quint64 id = ++lastId;
            peers[id].socket = socket;
            connect(socket, &QWebSocket::textMessageReceived, this,
                    [this, id](const QString &text) { emit textReceived(id, text.toUtf8()); });
            connect(socket, &QWebSocket::binaryMessageReceived, this,
                    [this, id](const QByteArray &data) { emit binaryReceived(id, data); });
            connect(socket, &QWebSocket::bytesWritten, this, [this, id](qint64 bytes) {
                if (Peer *peer = find(id)) {
                    // Frame headers count here but not when sent.
                    peer->pending = std::max<qint64>(0, peer->pending - bytes);
                    emit drained(id);
                }
            });
            connect(socket, &QWebSocket::disconnected, this, [this, id, socket] {
                socket->deleteLater();
                if (peers.erase(id) > 0)
                    emit clientDisconnected(id);
            });
            emit clientConnected(id);
        }
    }

    QWebSocketServer server;
    std::map<quint64, Peer> peers;
    quint64 lastId = 0;
};

} // namespace

std::unique_ptr<BridgeTransport> BridgeTransport::make(QObject *parent)
{
    return std::make_unique<QtWebSocketTransport>(parent);
}
