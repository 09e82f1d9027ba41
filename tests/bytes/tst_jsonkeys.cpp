#include "bytes/jsonkeys.h"

#include <QtTest>

class TestJsonKeys : public QObject
{
    Q_OBJECT
private slots:
    void findsTheKeyGivenTwice_data();
    void findsTheKeyGivenTwice();
};

void TestJsonKeys::findsTheKeyGivenTwice_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("twice"); // empty: none

    QTest::newRow("distinct") << QByteArray(R"({"a": 1, "b": {"a": 2}, "c": [{"a": 3}, {"a": 4}]})")
                              << QString();
    QTest::newRow("top level") << QByteArray(R"({"a": [1], "b": 2, "a": {}})") << "a";
    QTest::newRow("inside an array") << QByteArray(R"({"r": [{"x": 1}, {"y": 1, "y": 2}]})") << "y";
    // After a nested object closes, its keys no longer count for the outer
    // one, and the outer one's still do.
    QTest::newRow("back out of a nested object")
        << QByteArray(R"({"o": {"k": 1}, "k": 2, "p": 3, "p": 4})") << "p";
    QTest::newRow("spelled with escapes") << QByteArray(R"({"ab": 1, "a\u0062": 2})") << "ab";
    QTest::newRow("quote in a key") << QByteArray(R"({"a\"b": 1, "a\"b": 2})") << "a\"b";
    // Brackets, colons and quotes inside strings are text.
    QTest::newRow("brackets in values")
        << QByteArray(R"({"a": "{\"a\": 1}", "b": "}]", "c": ":"})") << QString();
    QTest::newRow("strings in an array are not keys") << QByteArray(R"(["a", "a"])") << QString();
    QTest::newRow("unterminated") << QByteArray(R"({"a": 1, "a)") << QString();
    QTest::newRow("stray closers") << QByteArray(R"(]]}}{"a": 1, "a": 2})") << "a";
}

void TestJsonKeys::findsTheKeyGivenTwice()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, twice);
    const std::optional<QString> found = Json::firstDuplicateKey(json);
    QCOMPARE(found.value_or(QString()), twice);
    QCOMPARE(found.has_value(), !twice.isEmpty());
}

QTEST_APPLESS_MAIN(TestJsonKeys)
#include "tst_jsonkeys.moc"
