#include "bridgeprotocol.h"

#include "bytes/jsonkeys.h"
#include "bytes/littleendian.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>

namespace Bridge {

namespace {

// What a client may send but this server does not offer: publishing,
// parameters, services, the connection graph, assets.
const char *const refusedOperations[] = {
    "advertise",
    "unadvertise",
    "getParameters",
    "setParameters",
    "subscribeParameterUpdates",
    "unsubscribeParameterUpdates",
    "subscribeConnectionGraph",
    "unsubscribeConnectionGraph",
    "fetchAsset",
};

QVector<QByteArray> one(StatusLevel level, const QString &message)
{
    return {statusMessage(level, message)};
}

// A JSON number that is a whole number from 0 to 2^32 - 1.
bool readId(const QJsonValue &value, uint32_t &id)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!(number >= 0.0 && number <= 4294967295.0) || std::floor(number) != number)
        return false;
    id = static_cast<uint32_t>(number);
    return true;
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray serverInfoMessage(const QByteArray &name, const QByteArray &sessionId)
{
    return compact(QJsonObject{
        {QStringLiteral("op"), QStringLiteral("serverInfo")},
        {QStringLiteral("name"), QString::fromUtf8(name)},
        {QStringLiteral("capabilities"), QJsonArray()},
        {QStringLiteral("metadata"), QJsonObject()},
        {QStringLiteral("sessionId"), QString::fromUtf8(sessionId)},
    });
}

QByteArray advertiseMessage(const QVector<Channel> &channels)
{
    QJsonArray list;
    for (const Channel &channel : channels)
        list.append(QJsonObject{
            {QStringLiteral("id"), static_cast<double>(channel.id)},
            {QStringLiteral("topic"), QString::fromUtf8(channel.topic)},
            {QStringLiteral("encoding"), QString::fromUtf8(channel.encoding)},
            {QStringLiteral("schemaName"), QString::fromUtf8(channel.schemaName)},
            {QStringLiteral("schema"), QString::fromUtf8(channel.schema)},
            {QStringLiteral("schemaEncoding"), QString::fromUtf8(channel.schemaEncoding)},
        });
    return compact(QJsonObject{
        {QStringLiteral("op"), QStringLiteral("advertise")},
        {QStringLiteral("channels"), list},
    });
}

QByteArray statusMessage(StatusLevel level, const QString &message)
{
    return compact(QJsonObject{
        {QStringLiteral("op"), QStringLiteral("status")},
        {QStringLiteral("level"), static_cast<int>(level)},
        {QStringLiteral("message"), message},
    });
}

void messageDataFrame(QByteArray &out, uint32_t subscription, uint64_t timeNs,
                      const QByteArray &payload)
{
    out.resize(0); // keeps the allocation
    out.reserve(13 + int(payload.size()));
    out.append('\x01');
    Bytes::appendU32(out, subscription);
    Bytes::appendU64(out, timeNs);
    out += payload;
}

ClientState::ClientState(QVector<uint32_t> channelIds) : channels(std::move(channelIds)) {}

int64_t ClientState::subscriptionFor(uint32_t channel) const
{
    for (const auto &[id, subscribed] : subscriptions)
        if (subscribed == channel)
            return id;
    return -1;
}

QVector<QByteArray> ClientState::handleText(const QByteArray &text)
{
    if (text.size() > maxClientMessageBytes)
        return one(StatusLevel::Error, QStringLiteral("message too long"));
    if (Json::firstDuplicateKey(text))
        return one(StatusLevel::Error, QStringLiteral("a key given twice"));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return one(StatusLevel::Error, QStringLiteral("not a JSON object"));
    const QJsonObject message = document.object();
    const QJsonValue op = message.value(QLatin1String("op"));
    if (!op.isString())
        return one(StatusLevel::Error, QStringLiteral("no op"));
    const QString name = op.toString();
    if (name == QLatin1String("subscribe"))
        return subscribe(message);
    if (name == QLatin1String("unsubscribe"))
        return unsubscribe(message);
    for (const char *refused : refusedOperations)
        if (name == QLatin1String(refused))
            return one(StatusLevel::Warning,
                       QStringLiteral("%1 is not supported: this server only streams the "
                                      "sensor's scans")
                           .arg(name));
    // Only the name's start goes back, so a long op cannot make a long reply.
    return one(StatusLevel::Warning, QStringLiteral("unknown op '%1' ignored").arg(name.left(64)));
}

QVector<QByteArray> ClientState::handleBinary(const QByteArray &)
{
    return one(StatusLevel::Warning,
               QStringLiteral("binary client messages (publishing, service calls) are not "
                              "supported"));
}

QVector<QByteArray> ClientState::subscribe(const QJsonObject &message)
{
    const QJsonValue list = message.value(QLatin1String("subscriptions"));
    if (!list.isArray())
        return one(StatusLevel::Error, QStringLiteral("subscribe needs a subscriptions array"));
    QVector<QByteArray> replies;
    for (const QJsonValue &entry : list.toArray()) {
        uint32_t id = 0;
        uint32_t channel = 0;
        if (!entry.isObject() || !readId(entry.toObject().value(QLatin1String("id")), id) ||
            !readId(entry.toObject().value(QLatin1String("channelId")), channel)) {
            replies += statusMessage(StatusLevel::Error,
                                     QStringLiteral("a subscription needs a whole-number id and "
                                                    "channelId"));
            continue;
        }
        if (!channels.contains(channel)) {
            replies +=
                statusMessage(StatusLevel::Error, QStringLiteral("no channel %1").arg(channel));
        } else if (subscriptions.count(id) > 0) {
            replies += statusMessage(StatusLevel::Error,
                                     QStringLiteral("subscription id %1 is in use").arg(id));
        } else if (subscriptionFor(channel) >= 0) {
            replies +=
                statusMessage(StatusLevel::Error,
                              QStringLiteral("channel %1 is already subscribed").arg(channel));
        } else if (int(subscriptions.size()) >= maxSubscriptions) {
            replies += statusMessage(StatusLevel::Error, QStringLiteral("too many subscriptions"));
        } else {
            subscriptions[id] = channel;
        }
        // One reply per problem, but never a flood for one message.
        if (replies.size() >= maxSubscriptions)
            break;
    }
    return replies;
}

QVector<QByteArray> ClientState::unsubscribe(const QJsonObject &message)
{
    const QJsonValue list = message.value(QLatin1String("subscriptionIds"));
    if (!list.isArray())
        return one(StatusLevel::Error, QStringLiteral("unsubscribe needs a subscriptionIds array"));
    QVector<QByteArray> replies;
    for (const QJsonValue &entry : list.toArray()) {
        uint32_t id = 0;
        if (!readId(entry, id)) {
            replies += statusMessage(StatusLevel::Error,
                                     QStringLiteral("a subscription id is a whole number"));
        } else if (subscriptions.erase(id) == 0) {
            replies +=
                statusMessage(StatusLevel::Warning, QStringLiteral("no subscription %1").arg(id));
        }
        if (replies.size() >= maxSubscriptions)
            break;
    }
    return replies;
}

} // namespace Bridge
