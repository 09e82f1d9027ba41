// Leaks on purpose, the way a test of ours could: once straight from a test
// function and once from a slot the event loop runs, in a window that paints
// text on the offscreen platform. check_canary.sh runs it with the
// suppression file the suite uses and expects both leaks reported, and
// nothing else: the suppressions must hide Qt's own leaks but none of ours.
#include <QLabel>
#include <QTimer>
#include <QtTest>

namespace {

volatile void *sink;

Q_NEVER_INLINE void canaryLeakInTestFunction()
{
    sink = new char[4000];
    sink = nullptr;
}

Q_NEVER_INLINE void canaryLeakInEventLoop()
{
    sink = new char[3000];
    sink = nullptr;
}

} // namespace

class LsanCanary : public QObject
{
    Q_OBJECT

private slots:
    void leaks()
    {
        QLabel label(QStringLiteral("range 12.5 m"));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        label.grab();

        canaryLeakInTestFunction();
        bool ran = false;
        QTimer::singleShot(0, &label, [&ran] {
            canaryLeakInEventLoop();
            ran = true;
        });
        QTRY_VERIFY(ran);
    }
};

QTEST_MAIN(LsanCanary)
#include "lsan_canary.moc"
