#ifndef VANTOSCOPE_BRIDGE_BRIDGETRANSPORT_H
#define VANTOSCOPE_BRIDGE_BRIDGETRANSPORT_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QHostAddress;

// The WebSocket server under the live bridge: a well-kept library does the
// protocol (Qt WebSockets on Qt 6, websocketpp on its own thread on Qt 5),
// negotiates the subprotocol, refuses clients that do not offer it and
// closes a connection whose message passes the size limit. Everything here
// is called, and every signal arrives, on the thread that made the
// transport.
class BridgeTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Listens on `address`:`port` (0: any free port). False with the
    // reason in `error`.
    virtual bool listen(const QHostAddress &address, quint16 port, QString *error) = 0;
    virtual quint16 serverPort() const = 0;
    // Closes every connection and stops listening.
    virtual void close() = 0;

    virtual void sendText(quint64 client, const QByteArray &text) = 0;
    virtual void sendBinary(quint64 client, const QByteArray &data) = 0;
    // Closes one connection with a WebSocket close code.
    virtual void closeClient(quint64 client, int code, const QString &reason) = 0;
    // Bytes sent to `client` that have not reached its socket yet.
    virtual qint64 pendingBytes(quint64 client) const = 0;

    // The transport of the Qt this is built with.
    static std::unique_ptr<BridgeTransport> make(QObject *parent = nullptr);
    // The size of a message a client may send, and of a frame.
    void setIncomingLimit(int bytes) { incomingLimit = bytes; }

signals:
    void clientConnected(quint64 client);
    void clientDisconnected(quint64 client);
    void textReceived(quint64 client, const QByteArray &text);
    void binaryReceived(quint64 client, const QByteArray &data);
    // pendingBytes(client) went down.
    void drained(quint64 client);

protected:
    int incomingLimit = 64 << 10;
};

#endif
