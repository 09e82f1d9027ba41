// The model table against its readers: every model an edition offers has one
// row, which the simulator plays, and the decoders' own model constants agree
// with the rows.
#include "editions/modelrules.h"
#include "editions/modeltable.h"
#include "simmodels.h"
#include "trnet/qtrnet.h"

#include <QtTest>

class TestModelTable : public QObject
{
    Q_OBJECT
private slots:
    void everyOfferedModelHasOneRowAndASimulation()
    {
        const QStringList names = Edition::modelNames();
        QVERIFY(!names.isEmpty());
        for (const QString &name : names) {
            QVERIFY2(Models::find(name, Qt::CaseSensitive), qPrintable(name));
            QVERIFY2(findSimModel(name), qPrintable(name));
        }
        // find() takes the first of names equal but for case.
        QSet<QString> seen;
        for (const Models::Record &row : Models::rows()) {
            const QString key = row.displayName().toLower();
            QVERIFY2(!seen.contains(key), row.name);
            seen.insert(key);
        }
    }

    void decoderConstantsAgreeWithTheTable()
    {
        const Models::Record *maple = Models::find(QStringLiteral("Maple"), Qt::CaseSensitive);
        QVERIFY(maple);
        QCOMPARE(maple->typeCode, QTRNet::mapleModelType);
        QVERIFY(maple->commandProtocol());
    }
};

QTEST_GUILESS_MAIN(TestModelTable)
#include "tst_modeltable.moc"
