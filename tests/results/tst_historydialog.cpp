// The History dialog on a real SQLite history: it lists the runs newest
// first and narrows them with the filters, opens a run's HTML report through
// the desktop and asks for its capture to be replayed; a shared server that
// is gone is a message, not a frozen dialog.
#include "history/historydialog.h"
#include "results/resultsdb.h"
#include "resultsfixture.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestHistoryDialog : public QObject
{
    Q_OBJECT
private slots:
    void listsFiltersOpensAndReplays();
    void serverGoneIsAMessage();

private:
    ResultsFixture fixture;
};

void TestHistoryDialog::listsFiltersOpensAndReplays()
{
    const QString database = fixture.freshDatabase(QStringLiteral("sqlite"));
    const QString html = fixture.folder.filePath(QStringLiteral("SN-2.html"));
    const QString capture = fixture.folder.filePath(QStringLiteral("SN-2.pcapng"));
    for (const QString &path : {html, capture}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    {
        QString error;
        ResultsDatabase db(*DatabaseTarget::parse(database, &error));
        QVERIFY(db.open(&error));
        RunContext context;
        context.lot = QStringLiteral("7");
        for (const auto &[unit, minute, failing] :
             {std::tuple{"SN-1", 1, true}, std::tuple{"SN-1", 2, false},
              std::tuple{"SN-2", 3, false}}) {
            RunContext run = context;
            if (QLatin1String(unit) == QLatin1String("SN-2")) {
                run.lot = QStringLiteral("8");
                run.htmlPath = html;
                run.capturePath = capture;
            }
            RunRecord record =
                RunRecord::fromReport(ResultsFixture::report(unit, minute * 60, failing, 3), run);
            QVERIFY2(db.store(record, &error), qPrintable(error));
        }
    }
    HistoryDialog dialog(database);
    dialog.show();
    auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("historyRuns"));
    auto *open = dialog.findChild<QPushButton *>(QStringLiteral("historyOpenReport"));
    auto *replay = dialog.findChild<QPushButton *>(QStringLiteral("historyReplay"));
    QVERIFY(table && open && replay);
    QTRY_COMPARE(table->rowCount(), 3);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("SN-2")); // newest first
    QCOMPARE(table->item(2, 7)->text(), QStringLiteral("FAIL"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("2"));

    dialog.findChild<QComboBox *>(QStringLiteral("historyVerdict"))->setCurrentIndex(2);
    QTRY_COMPARE(table->rowCount(), 1);
    QCOMPARE(dialog.runs()[0].verdict, QStringLiteral("fail"));
    dialog.findChild<QComboBox *>(QStringLiteral("historyVerdict"))->setCurrentIndex(0);
    QTRY_COMPARE(table->rowCount(), 3);
    dialog.findChild<QLineEdit *>(QStringLiteral("historyLot"))->setText(QStringLiteral("8"));
    QTRY_COMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("SN-2"));

    QVERIFY(!open->isEnabled() && !replay->isEnabled());
    table->selectRow(0);
    QVERIFY(open->isEnabled() && replay->isEnabled());
    UrlCatcher browser;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
    open->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(browser.opened, QList<QUrl>{QUrl::fromLocalFile(html)});
    QSignalSpy replayed(&dialog, &HistoryDialog::replayRequested);
    replay->click();
    QCOMPARE(replayed.size(), 1);
    QCOMPARE(replayed[0][0].toString(), capture);
    QVERIFY(!dialog.isVisible());
}

void TestHistoryDialog::serverGoneIsAMessage()
{
    HistoryDialog dialog(QStringLiteral("postgresql://x@/results?host=%1")
                             .arg(fixture.folder.filePath(QStringLiteral("no-server"))));
    dialog.show();
    auto *status = dialog.findChild<QLabel *>(QStringLiteral("historyStatus"));
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("cannot open")), 20000);
    QCOMPARE(dialog.findChild<QTableWidget *>(QStringLiteral("historyRuns"))->rowCount(), 0);
}

QTEST_MAIN(TestHistoryDialog)
#include "tst_historydialog.moc"
