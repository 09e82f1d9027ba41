#ifndef VANTOSCOPE_BRIDGE_BRIDGEPROTOCOL_H
#define VANTOSCOPE_BRIDGE_BRIDGEPROTOCOL_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <map>
#include <vector>

class QJsonObject;

// The Foxglove WebSocket protocol (subprotocol foxglove.websocket.v1) as the
// live bridge speaks it: the server's messages, and what one client may ask.
// Clients are untrusted: a message over maxClientMessageBytes never reaches
// the parser (the WebSocket library closes the connection), the rest is
// parsed strictly, and anything but subscribing and unsubscribing is
// answered with a status message and otherwise ignored. Nothing a client
// sends can publish, call a service, set a parameter or reach the sensor.
namespace Bridge {

inline constexpr char subprotocol[] = "foxglove.websocket.v1";
inline constexpr int maxClientMessageBytes = 64 << 10;
// More subscriptions than there are channels are never needed.
inline constexpr int maxSubscriptions = 16;

// A channel the server advertises.
struct Channel
{
    uint32_t id = 0;
    QByteArray topic;
    QByteArray encoding;
    QByteArray schemaName;
    QByteArray schema;
    QByteArray schemaEncoding;
};

enum class StatusLevel
{
    Info = 0,
    Warning = 1,
    Error = 2,
};

// Server messages.
QByteArray serverInfoMessage(const QByteArray &name, const QByteArray &sessionId);
QByteArray advertiseMessage(const QVector<Channel> &channels);
QByteArray statusMessage(StatusLevel level, const QString &message);
// Binary Message Data: opcode 1, subscription id, receive time, payload.
void messageDataFrame(QByteArray &out, uint32_t subscription, uint64_t timeNs,
                      const QByteArray &payload);

// One client's subscriptions, kept by the messages it sends.
class ClientState
{
public:
    explicit ClientState(QVector<uint32_t> channelIds = {});

    // Handles one text or binary message; returns the status messages to
    // send back (none when all was well).
    QVector<QByteArray> handleText(const QByteArray &text);
    QVector<QByteArray> handleBinary(const QByteArray &data);

    // The subscription the client holds on `channel`, or -1.
    int64_t subscriptionFor(uint32_t channel) const;
    int subscriptionCount() const { return int(subscriptions.size()); }
    // Subscription id to channel id.
    const std::map<uint32_t, uint32_t> &all() const { return subscriptions; }

private:
    QVector<QByteArray> subscribe(const QJsonObject &message);
    QVector<QByteArray> unsubscribe(const QJsonObject &message);

    QVector<uint32_t> channels;
    std::map<uint32_t, uint32_t> subscriptions;
};

} // namespace Bridge

#endif
