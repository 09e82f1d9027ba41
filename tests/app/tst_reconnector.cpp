// Which port is the adapter that was lost, once ports come back.
#include "app/reconnector.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<PortEntry>)

namespace {

PortEntry bridge(const QString &name, const QString &serial, const QString &physical)
{
    return {name, true, bridgeVendorId, false, serial, physical};
}

const QString hubPort1 = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0");
const QString hubPort2 = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");

} // namespace

class TestReconnector : public QObject
{
    Q_OBJECT

private slots:
    void findsTheSameAdapter_data()
    {
        QTest::addColumn<QList<PortEntry>>("before"); // the first is the one that was lost
        QTest::addColumn<QList<PortEntry>>("after");
        QTest::addColumn<QString>("found");

        QTest::newRow("unique serial, renamed and moved")
            << QList<PortEntry>{bridge("ttyUSB0", "A1B2", hubPort1),
                                bridge("ttyUSB1", "0001", hubPort2)}
            << QList<PortEntry>{bridge("ttyUSB1", "0001", hubPort2),
                                bridge("ttyUSB2", "A1B2", hubPort1 + "x")}
            << "ttyUSB2";
        QTest::newRow("unique serial, not back yet")
            << QList<PortEntry>{bridge("ttyUSB0", "A1B2", hubPort1)}
            << QList<PortEntry>{bridge("ttyUSB1", "0001", hubPort1)} << QString();
        QTest::newRow("duplicate 0001 goes by the physical path")
            << QList<PortEntry>{bridge("ttyUSB0", "0001", hubPort1),
                                bridge("ttyUSB1", "0001", hubPort2)}
            << QList<PortEntry>{bridge("ttyUSB1", "0001", hubPort2),
                                bridge("ttyUSB2", "0001", hubPort1)}
            << "ttyUSB2";
        QTest::newRow("duplicate 0001, other socket is not it")
            << QList<PortEntry>{bridge("ttyUSB0", "0001", hubPort1),
                                bridge("ttyUSB1", "0001", hubPort2)}
            << QList<PortEntry>{bridge("ttyUSB1", "0001", hubPort2),
                                bridge("ttyUSB0", "0001", hubPort2 + "b")}
            << QString();
        QTest::newRow("another adapter with its serial makes it ambiguous")
            << QList<PortEntry>{bridge("ttyUSB0", "A1B2", hubPort1)}
            << QList<PortEntry>{bridge("ttyUSB0", "A1B2", hubPort1),
                                bridge("ttyUSB1", "A1B2", hubPort2)}
            << QString();
        QTest::newRow("duplicate serial without a physical path is never guessed")
            << QList<PortEntry>{bridge("ttyUSB0", "0001", {}), bridge("ttyUSB1", "0001", {})}
            << QList<PortEntry>{bridge("ttyUSB0", "0001", {}), bridge("ttyUSB1", "0001", {})}
            << QString();
        QTest::newRow("extra port by its path, not a bridge of that name")
            << QList<PortEntry>{{"/tmp/sim/port", false, 0, true}}
            << QList<PortEntry>{bridge("/tmp/sim/port", "", ""), {"/tmp/sim/port", false, 0, true}}
            << "/tmp/sim/port";
        QTest::newRow("other vendors are not the adapter")
            << QList<PortEntry>{bridge("ttyUSB0", "A1B2", hubPort1)}
            << QList<PortEntry>{{"ttyACM0", true, 0x2341, false, "A1B2", hubPort1}} << QString();
    }

    void findsTheSameAdapter()
    {
        QFETCH(QList<PortEntry>, before);
        QFETCH(QList<PortEntry>, after);
        QFETCH(QString, found);
        const AdapterIdentity adapter = identifyAdapter(before.constFirst(), before);
        QCOMPARE(findAdapter(adapter, after), found);
    }
};

QTEST_GUILESS_MAIN(TestReconnector)
#include "tst_reconnector.moc"
