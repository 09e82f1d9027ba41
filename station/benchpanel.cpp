#include "benchpanel.h"

#include "benchstation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int healthRows = 5;

QString zoneStyle(LimitZone zone)
{
    switch (zone) {
    case LimitZone::Within:
        return QStringLiteral("background:#2e7d32;color:white;");
    case LimitZone::Near:
        return QStringLiteral("background:#f9a825;color:black;");
    case LimitZone::Outside:
        return QStringLiteral("background:#c62828;color:white;");
    case LimitZone::Unknown:
        break;
    }
    return QStringLiteral("background:#d0d0d0;color:#404040;");
}

QString figureText(const HealthFigure &f)
{
    if (std::isnan(f.value))
        return QStringLiteral("–");
    const double size = std::fabs(f.value);
    const int decimals = size >= 100 ? 1 : size >= 1 ? 2 : 4;
    QString text = QString::number(f.value, 'f', decimals);
    if (!f.unit.isEmpty())
        text += QLatin1Char(' ') + f.unit;
    return text;
}

template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

BenchPanel::BenchPanel(BenchStation *station, QWidget *parent) : QWidget(parent), station(station)
{
    setObjectName(QStringLiteral("benchPanel"));
    setMinimumWidth(360);
    unitEdit = named(new QLineEdit(this), "unitEdit");
    unitEdit->setPlaceholderText(tr("Scan the label, or type"));
    QFont big = unitEdit->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    unitEdit->setFont(big);
    operatorEdit = named(new QLineEdit(this), "operatorEdit");
    lotEdit = named(new QLineEdit(this), "lotEdit");
    profileBox = named(new QComboBox(this), "profileBox");
    durationBox = named(new QDoubleSpinBox(this), "durationBox");
    durationBox->setRange(1, 24 * 3600);
    durationBox->setDecimals(1);
    durationBox->setSuffix(tr(" s"));
    soundBox = named(new QCheckBox(tr("Sound at the end"), this), "soundBox");
    checkButton = named(new QPushButton(tr("Check"), this), "checkButton");
    checkButton->setFont(big);
    checkButton->setMinimumHeight(checkButton->sizeHint().height() * 3 / 2);
    cancelButton = named(new QPushButton(tr("Cancel"), this), "cancelButton");
    cancelButton->setMinimumHeight(checkButton->minimumHeight());
    progressBar = named(new QProgressBar(this), "progressBar");
    progressBar->setRange(0, 1000);
    progressBar->setValue(0);
    progressBar->setFormat(QString());
    messageLabel = named(new QLabel(this), "messageLabel");
    messageLabel->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(tr("Unit"), unitEdit);
    form->addRow(tr("Operator"), operatorEdit);
    form->addRow(tr("Lot"), lotEdit);
    form->addRow(tr("Profile"), profileBox);
    form->addRow(tr("Duration"), durationBox);
    form->addRow(QString(), soundBox);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(checkButton, 3);
    buttons->addWidget(cancelButton, 1);

    auto *healthBox = named(new QGroupBox(tr("Live health, last 10 s"), this), "healthBox");
    auto *healthGrid = new QGridLayout(healthBox);
    for (int i = 0; i < healthRows; ++i) {
        auto *name = new QLabel(healthBox);
        auto *value = new QLabel(QStringLiteral("–"), healthBox);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(
            value->fontMetrics().horizontalAdvance(QStringLiteral("0000.00 Hz")));
        value->setContentsMargins(6, 2, 6, 2);
        value->setStyleSheet(zoneStyle(LimitZone::Unknown));
        healthGrid->addWidget(name, i, 0);
        healthGrid->addWidget(value, i, 1);
        healthNames.append(name);
        healthValues.append(value);
    }

    auto *todayBox = named(new QGroupBox(tr("Today"), this), "todayBox");
    auto *todayLayout = new QVBoxLayout(todayBox);
    summaryLabel = named(new QLabel(todayBox), "summaryLabel");
    summaryLabel->setWordWrap(true);
    todayList = named(new QTreeWidget(todayBox), "todayList");
    todayList->setHeaderLabels(
        {tr("Unit"), tr("Try"), tr("Verdict"), tr("Worst check"), tr("Time")});
    todayList->setRootIsDecorated(false);
    todayList->setUniformRowHeights(true);
    todayList->header()->setStretchLastSection(false);
    todayList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    todayList->header()->setSectionResizeMode(3, QHeaderView::Stretch);
    historyButton = named(new QPushButton(tr("History…"), todayBox), "historyButton");
    todayLayout->addWidget(summaryLabel);
    todayLayout->addWidget(todayList, 1);
    todayLayout->addWidget(historyButton, 0, Qt::AlignRight);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(progressBar);
    layout->addWidget(messageLabel);
    layout->addWidget(healthBox);
    layout->addWidget(todayBox, 1);

    refresh();
    showHealth(station->health());
    showToday();

    connect(unitEdit, &QLineEdit::returnPressed, this, &BenchPanel::check);
    connect(unitEdit, &QLineEdit::textEdited, station, &BenchStation::unitEdited);
    connect(checkButton, &QPushButton::clicked, this, &BenchPanel::check);
    connect(cancelButton, &QPushButton::clicked, station, &BenchStation::cancel);
    connect(historyButton, &QPushButton::clicked, station, &BenchStation::historyRequested);
    connect(operatorEdit, &QLineEdit::textChanged, station, &BenchStation::setOperatorName);
    connect(lotEdit, &QLineEdit::textChanged, station, &BenchStation::setLot);
    connect(durationBox, qOverload<double>(&QDoubleSpinBox::valueChanged), station,
            &BenchStation::setDuration);
    connect(soundBox, &QCheckBox::toggled, station, &BenchStation::setSoundEnabled);
    connect(profileBox, qOverload<int>(&QComboBox::activated), this, &BenchPanel::profileChosen);
    connect(station, &BenchStation::phaseChanged, this, &BenchPanel::phaseChanged);
    connect(station, &BenchStation::settingsChanged, this, &BenchPanel::showSettings);
    connect(station, &BenchStation::progress, this, &BenchPanel::showProgress);
    connect(station, &BenchStation::message, this, &BenchPanel::showMessage);
    connect(station, &BenchStation::healthChanged, this, &BenchPanel::showHealth);
    connect(station, &BenchStation::runCompleted, this, &BenchPanel::showToday);
    connect(station, &BenchStation::runUpdated, this, &BenchPanel::showToday);
    connect(todayList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        const QString html = item->data(0, Qt::UserRole).toString();
        if (!html.isEmpty())
            emit this->station->reportOpenRequested(html);
    });
    phaseChanged();
}

void BenchPanel::refresh()
{
    operatorEdit->setText(station->operatorNameText());
    lotEdit->setText(station->lotText());
    showSettings();
    if (!station->profileError().isEmpty())
        showMessage(tr("The profile cannot be used: %1").arg(station->profileError()), true);
}

void BenchPanel::showSettings()
{
    const QSignalBlocker blockDuration(durationBox);
    const QSignalBlocker blockSound(soundBox);
    durationBox->setValue(station->duration());
    soundBox->setChecked(station->soundEnabled());
    fillProfiles();
}

void BenchPanel::fillProfiles()
{
    profileBox->clear();
    profileBox->addItem(tr("Built-in defaults"), QString());
    if (!station->profileFile().isEmpty()) {
        profileBox->addItem(QFileInfo(station->profileFile()).fileName(), station->profileFile());
        profileBox->setItemData(1, station->profileFile(), Qt::ToolTipRole);
        profileBox->setCurrentIndex(1);
    }
    profileBox->addItem(tr("Profile file…"), QStringLiteral("?"));
}

void BenchPanel::profileChosen(int index)
{
    QString path = profileBox->itemData(index).toString();
    if (path == QLatin1String("?")) {
        path = QFileDialog::getOpenFileName(this, tr("Bench profile"),
                                            QFileInfo(station->profileFile()).path(),
                                            tr("Profiles (*.json);;All files (*)"));
        if (path.isEmpty()) {
            fillProfiles();
            return;
        }
    }
    if (station->setProfileFile(path))
        showMessage(path.isEmpty() ? tr("Built-in limits for the %1.").arg(station->model())
                                   : tr("Limits from %1.").arg(QFileInfo(path).fileName()),
                    false);
    else
        showMessage(tr("The profile cannot be used: %1").arg(station->profileError()), true);
    fillProfiles();
}

void BenchPanel::focusUnit()
{
    unitEdit->setFocus(Qt::OtherFocusReason);
    unitEdit->selectAll();
}

void BenchPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    station->setHealthShown(true);
    // The dock is shown first; its contents take the focus once it is.
    QTimer::singleShot(0, this, &BenchPanel::focusUnit);
}

void BenchPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    station->setHealthShown(false);
}

void BenchPanel::check()
{
    if (station->phase() == BenchStation::Phase::Idle)
        station->start(unitEdit->text());
}

void BenchPanel::phaseChanged()
{
    const BenchStation::Phase phase = station->phase();
    const bool idle = phase == BenchStation::Phase::Idle;
    checkButton->setEnabled(idle);
    cancelButton->setEnabled(!idle);
    for (QWidget *w :
         std::initializer_list<QWidget *>{unitEdit, operatorEdit, lotEdit, profileBox, durationBox})
        w->setEnabled(idle);
    if (phase == BenchStation::Phase::CheckingCapture) {
        progressBar->setRange(0, 0);
        progressBar->setFormat(tr("Checking the capture…"));
    } else {
        progressBar->setRange(0, 1000);
        progressBar->setValue(0);
        progressBar->setFormat(QString());
    }
    if (idle)
        focusUnit();
}

void BenchPanel::showProgress(double elapsed, double total)
{
    progressBar->setValue(total > 0 ? static_cast<int>(1000 * elapsed / total) : 0);
    progressBar->setFormat(tr("%1 s left").arg(std::ceil(std::max(0.0, total - elapsed))));
}

void BenchPanel::showMessage(const QString &text, bool problem)
{
    messageLabel->setStyleSheet(problem ? QStringLiteral("color:#b00020;") : QString());
    messageLabel->setText(text);
}

void BenchPanel::showHealth(const QVector<HealthFigure> &figures)
{
    for (int i = 0; i < healthRows && i < figures.size(); ++i) {
        healthNames[i]->setText(figures[i].name);
        healthValues[i]->setObjectName(QStringLiteral("health_") + figures[i].key);
        healthValues[i]->setText(figureText(figures[i]));
        // A new style sheet costs a restyle: only when the colour changes.
        const QVariant zone = static_cast<int>(figures[i].zone);
        if (healthValues[i]->property("zone") != zone) {
            healthValues[i]->setStyleSheet(zoneStyle(figures[i].zone));
            healthValues[i]->setProperty("zone", zone);
        }
    }
}

// Newest first; rebuilt whole, since the results history may renumber an
// attempt after the verdict.
void BenchPanel::showToday()
{
    todayList->clear();
    for (const StationRun &run : station->today()) {
        if (run.unit.isEmpty())
            continue;
        auto *item = new QTreeWidgetItem(
            {run.unit, QString::number(run.attempt), run.passed() ? tr("PASS") : tr("FAIL"),
             run.worstText, run.report.start.toLocalTime().toString(QStringLiteral("HH:mm:ss"))});
        const QColor colour = run.passed() ? QColor(27, 120, 45) : QColor(180, 30, 30);
        item->setForeground(2, colour);
        QFont bold = item->font(2);
        bold.setBold(true);
        item->setFont(2, bold);
        item->setData(0, Qt::UserRole, run.htmlPath);
        item->setToolTip(3, run.worstText);
        todayList->insertTopLevelItem(0, item);
    }
    // A unit counts once, with its latest verdict; it passed first time when
    // its first attempt passed.
    QHash<QString, bool> latest;
    QSet<QString> firstPass;
    for (const StationRun &r : station->today()) {
        latest[r.unit] = r.passed();
        if (r.attempt == 1 && r.passed())
            firstPass.insert(r.unit);
    }
    const int tested = static_cast<int>(latest.size());
    int passed = 0;
    for (bool ok : latest)
        passed += ok ? 1 : 0;
    summaryLabel->setText(tr("Tested %1 · Passed %2 · Failed %3 · First-pass yield %4")
                              .arg(tested)
                              .arg(passed)
                              .arg(tested - passed)
                              .arg(tested > 0 ? QStringLiteral("%1 %").arg(
                                                    std::lround(100.0 * firstPass.size() / tested))
                                              : QStringLiteral("–")));
}
