#include "historydialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

enum Column
{
    StartColumn,
    UnitColumn,
    AttemptColumn,
    LotColumn,
    ModelColumn,
    StationColumn,
    OperatorColumn,
    VerdictColumn,
    ColumnCount,
};

} // namespace

HistoryDialog::HistoryDialog(const QString &database, QWidget *parent)
    : QDialog(parent), client(database), lot(new QLineEdit(this)), unit(new QLineEdit(this)),
      sinceEnabled(new QCheckBox(tr("Since"), this)), since(new QDateEdit(this)),
      verdict(new QComboBox(this)), table(new QTableWidget(0, ColumnCount, this)),
      openButton(new QPushButton(tr("Open report"), this)),
      replayButton(new QPushButton(tr("Replay capture"), this)), status(new QLabel(this))
{
    setObjectName(QStringLiteral("historyDialog"));
    setWindowTitle(tr("History: %1").arg(client.targetText()));
    lot->setObjectName(QStringLiteral("historyLot"));
    unit->setObjectName(QStringLiteral("historyUnit"));
    sinceEnabled->setObjectName(QStringLiteral("historySinceEnabled"));
    since->setObjectName(QStringLiteral("historySince"));
    verdict->setObjectName(QStringLiteral("historyVerdict"));
    table->setObjectName(QStringLiteral("historyRuns"));
    openButton->setObjectName(QStringLiteral("historyOpenReport"));
    replayButton->setObjectName(QStringLiteral("historyReplay"));
    status->setObjectName(QStringLiteral("historyStatus"));

    lot->setPlaceholderText(tr("any"));
    unit->setPlaceholderText(tr("any"));
    since->setCalendarPopup(true);
    since->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    since->setDate(QDate::currentDate().addDays(-7));
    since->setEnabled(false);
    verdict->addItem(tr("any"), QString());
    verdict->addItem(tr("pass"), QStringLiteral("pass"));
    verdict->addItem(tr("fail"), QStringLiteral("fail"));

    table->setHorizontalHeaderLabels({tr("Start (UTC)"), tr("Unit"), tr("Attempt"), tr("Lot"),
                                      tr("Model"), tr("Station"), tr("Operator"), tr("Verdict")});
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);

    auto *filters = new QHBoxLayout;
    filters->addWidget(new QLabel(tr("Lot"), this));
    filters->addWidget(lot);
    filters->addWidget(new QLabel(tr("Unit"), this));
    filters->addWidget(unit);
    filters->addWidget(sinceEnabled);
    filters->addWidget(since);
    filters->addWidget(new QLabel(tr("Verdict"), this));
    filters->addWidget(verdict);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->setObjectName(QStringLiteral("historyButtons"));
    buttons->addButton(openButton, QDialogButtonBox::ActionRole);
    buttons->addButton(replayButton, QDialogButtonBox::ActionRole);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table);
    layout->addWidget(status);
    layout->addWidget(buttons);
    resize(900, 480);

    // Typing waits for a pause before it asks the database.
    auto *typing = new QTimer(this);
    typing->setSingleShot(true);
    typing->setInterval(300);
    connect(typing, &QTimer::timeout, this, &HistoryDialog::refresh);
    const auto later = [typing] { typing->start(); };
    connect(lot, &QLineEdit::textChanged, this, later);
    connect(unit, &QLineEdit::textChanged, this, later);
    connect(sinceEnabled, &QCheckBox::toggled, since, &QWidget::setEnabled);
    connect(sinceEnabled, &QCheckBox::toggled, this, &HistoryDialog::refresh);
    connect(since, &QDateEdit::dateChanged, this, later);
    connect(verdict, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &HistoryDialog::refresh);
    connect(table, &QTableWidget::itemSelectionChanged, this, &HistoryDialog::selectionChanged);
    connect(table, &QTableWidget::cellDoubleClicked, this, &HistoryDialog::openReport);
    connect(openButton, &QPushButton::clicked, this, &HistoryDialog::openReport);
    connect(replayButton, &QPushButton::clicked, this, &HistoryDialog::replay);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(&client, &ResultsClient::runsReady, this, &HistoryDialog::showRuns);
    selectionChanged();
    refresh();
}

void HistoryDialog::refresh()
{
    RunFilter filter;
    filter.lot = lot->text().trimmed();
    filter.unit = unit->text().trimmed();
    if (sinceEnabled->isChecked())
        filter.since = since->date().startOfDay(Qt::UTC);
    filter.verdict = verdict->currentData().toString();
    status->setText(tr("Reading %1…").arg(client.targetText()));
    pending = client.queryRuns(filter);
}

void HistoryDialog::showRuns(int request, const QString &error)
{
    if (request != pending)
        return; // an answer to filters that have changed since
    if (!error.isEmpty()) {
        status->setText(error);
        return;
    }
    shown = client.runs();
    std::reverse(shown.begin(), shown.end());
    table->setRowCount(0);
    table->setRowCount(static_cast<int>(shown.size()));
    for (int row = 0; row < shown.size(); ++row) {
        const RunRecord &r = shown[row];
        const QStringList cells{r.start.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                r.unit,
                                QString::number(r.attempt),
                                r.lot,
                                r.model,
                                r.station,
                                r.operatorName,
                                r.verdict.toUpper()};
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
        if (!r.passed())
            table->item(row, VerdictColumn)->setForeground(QColor(0xc6, 0x28, 0x28));
    }
    table->resizeColumnsToContents();
    int failed = 0;
    for (const RunRecord &r : shown)
        failed += !r.passed();
    status->setText(
        tr("%n run(s), %1 failed", nullptr, static_cast<int>(shown.size())).arg(failed));
    selectionChanged();
}

const RunRecord *HistoryDialog::selectedRun() const
{
    const int row = table->currentRow();
    if (row < 0 || row >= shown.size() || table->selectedItems().isEmpty())
        return nullptr;
    return &shown[row];
}

void HistoryDialog::selectionChanged()
{
    const RunRecord *run = selectedRun();
    openButton->setEnabled(run && !run->htmlPath.isEmpty() && QFileInfo::exists(run->htmlPath));
    replayButton->setEnabled(run && !run->capturePath.isEmpty() &&
                             QFileInfo::exists(run->capturePath));
}

void HistoryDialog::openReport()
{
    const RunRecord *run = selectedRun();
    if (!run || !openButton->isEnabled())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(run->htmlPath)))
        status->setText(tr("Cannot open %1").arg(run->htmlPath));
}

void HistoryDialog::replay()
{
    const RunRecord *run = selectedRun();
    if (!run || !replayButton->isEnabled())
        return;
    const QString path = run->capturePath;
    emit replayRequested(path);
    accept();
}
