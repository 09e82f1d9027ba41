// What a client may ask of the bridge, and what it gets back for the rest.
#include "bridge/bridgeprotocol.h"
#include "bridge/livebridge.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace Bridge;

class TestBridgeProtocol : public QObject
{
    Q_OBJECT

private slots:
    // Each message in turn to one client offered channels 1 and 2: the
    // subscriptions it holds afterwards and the levels of the replies.
    void clientMessages_data()
    {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QString>("subscriptions"); // id:channel ...
        QTest::addColumn<QList<int>>("levels");

        const QByteArray both =
            R"({"op":"subscribe","subscriptions":[{"id":0,"channelId":1},{"id":7,"channelId":2}]})";
        QTest::newRow("subscribe to both") << QByteArrayList{both} << "0:1 7:2" << QList<int>{};
        QTest::newRow("unsubscribe one")
            << QByteArrayList{both, R"({"op":"unsubscribe","subscriptionIds":[7]})"} << "0:1"
            << QList<int>{};
        QTest::newRow("ids up to 2^32 - 1")
            << QByteArrayList{R"({"op":"subscribe","subscriptions":[{"id":4294967295,"channelId":2}]})"}
            << "4294967295:2" << QList<int>{};
        QTest::newRow("bad entries refused one by one, good ones kept")
            << QByteArrayList{R"({"op":"subscribe","subscriptions":[{"id":-1,"channelId":1},)"
                              R"({"id":1.5,"channelId":1},{"id":4294967296,"channelId":1},)"
                              R"({"id":"1","channelId":1},{"id":3,"channelId":99},7,)"
                              R"({"id":3,"channelId":2}]})"}
            << "3:2" << QList<int>{2, 2, 2, 2, 2, 2};
        QTest::newRow("an id in use and a channel subscribed twice")
            << QByteArrayList{both,
                              R"({"op":"subscribe","subscriptions":[{"id":0,"channelId":2}]})",
                              R"({"op":"subscribe","subscriptions":[{"id":9,"channelId":1}]})"}
            << "0:1 7:2" << QList<int>{2, 2};
        QTest::newRow("not JSON, not an object, no op")
            << QByteArrayList{"{\"op\":", "[]", "\"subscribe\"", R"({"op":3})", ""} << ""
            << QList<int>{2, 2, 2, 2, 2};
        QTest::newRow("publishing, parameters, services and unknown ops: a warning each")
            << QByteArrayList{R"({"op":"advertise","channels":[]})",
                              R"({"op":"setParameters","parameters":[]})",
                              R"({"op":"fetchAsset","uri":"package:robot.urdf","requestId":1})",
                              R"({"op":"subscribeConnectionGraph"})", R"({"op":"teleport"})"}
            << "" << QList<int>{1, 1, 1, 1, 1};
        QTest::newRow("unsubscribing what is not held")
            << QByteArrayList{R"({"op":"unsubscribe","subscriptionIds":[5,"x"]})",
                              R"({"op":"unsubscribe"})"}
            << "" << QList<int>{1, 2, 2};
    }
    void clientMessages()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QString, subscriptions);
        QFETCH(QList<int>, levels);
        ClientState client({1, 2});
        QList<int> gotLevels;
        for (const QByteArray &message : messages)
            for (const QByteArray &reply : client.handleText(message)) {
                const QJsonObject status = QJsonDocument::fromJson(reply).object();
                QCOMPARE(status.value("op").toString(), QString("status"));
                QVERIFY(!status.value("message").toString().isEmpty());
                gotLevels << status.value("level").toInt();
            }
        QStringList held;
        for (const auto &[id, channel] : client.all())
            held << QString("%1:%2").arg(id).arg(channel);
        QCOMPARE(held.join(' '), subscriptions);
        QCOMPARE(gotLevels, levels);
    }

    void shareAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url"); // empty: refused
        QTest::newRow("default") << ""
                                 << "ws://127.0.0.1:8765";
        QTest::newRow("port only stays on loopback") << "9000"
                                                     << "ws://127.0.0.1:9000";
        QTest::newRow("address and port") << "0.0.0.0:8765"
                                          << "ws://0.0.0.0:8765";
        QTest::newRow("IPv6") << "[::1]:8766"
                              << "ws://[::1]:8766";
        QTest::newRow("port too large") << "70000"
                                        << "";
        QTest::newRow("not a port") << "127.0.0.1:http"
                                    << "";
        QTest::newRow("host name") << "localhost:8765"
                                   << "";
    }
    void shareAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, url);
        ShareAddress address;
        QString error;
        const bool ok = ShareAddress::parse(text, &address, &error);
        QCOMPARE(ok, !url.isEmpty());
        if (ok)
            QCOMPARE(address.url(address.port), url);
        else
            QVERIFY(!error.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestBridgeProtocol)
#include "tst_bridgeprotocol.moc"
