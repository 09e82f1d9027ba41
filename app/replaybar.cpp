#include "replaybar.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>

namespace {

// The slider counts milliseconds: an int of them spans weeks, and a finer
// step than the labels show is never needed to seek.
constexpr qint64 nsPerStep = 1000000;

QAction *makeAction(QToolBar *bar, const char *name, const QString &text,
                    QStyle::StandardPixmap icon)
{
    auto *action = bar->addAction(bar->style()->standardIcon(icon), text);
    action->setObjectName(QString::fromLatin1(name));
    bar->widgetForAction(action)->setObjectName(action->objectName() + QStringLiteral("Button"));
    return action;
}

void addNamedSeparator(QToolBar *bar, const char *name)
{
    bar->widgetForAction(bar->addSeparator())->setObjectName(QString::fromLatin1(name));
}

} // namespace

ReplayBar::ReplayBar(QWidget *parent) : QToolBar(tr("Replay"), parent)
{
    setObjectName(QStringLiteral("replayBar"));
    // Shown by the window while a capture replays, never from the toolbar menu.
    toggleViewAction()->setVisible(false);

    playAction = makeAction(this, "replayPlay", tr("Play"), QStyle::SP_MediaPlay);
    playAction->setCheckable(true);
    playAction->setShortcut(QKeySequence(Qt::Key_Space));
    connect(playAction, &QAction::toggled, this, [this](bool on) {
        showPlaying(on);
        emit playToggled(on);
    });

    stepAction = makeAction(this, "replayStep", tr("Next scan"), QStyle::SP_MediaSkipForward);
    stepAction->setShortcut(QKeySequence(Qt::Key_Right));
    connect(stepAction, &QAction::triggered, this, &ReplayBar::stepRequested);

    speedBox = new QComboBox(this);
    speedBox->setObjectName(QStringLiteral("replaySpeed"));
    speedBox->setToolTip(tr("Replay speed"));
    for (double factor : speeds()) {
        QString text;
        if (factor == 0.0)
            text = tr("As fast as possible");
        else if (factor < 1.0)
            text = QStringLiteral("1/%1x").arg(qRound(1.0 / factor));
        else
            text = QStringLiteral("%1x").arg(factor);
        speedBox->addItem(text, factor);
    }
    speedBox->setCurrentIndex(speedBox->findData(1.0));
    addWidget(speedBox);
    connect(speedBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { emit speedChanged(speedBox->itemData(index).toDouble()); });

    loopAction = makeAction(this, "replayLoop", tr("Loop"), QStyle::SP_BrowserReload);
    loopAction->setCheckable(true);
    connect(loopAction, &QAction::toggled, this, &ReplayBar::loopChanged);

    addNamedSeparator(this, "replayTimeSeparator");
    elapsedLabel = new QLabel(timeText(0), this);
    elapsedLabel->setObjectName(QStringLiteral("replayElapsed"));
    addWidget(elapsedLabel);
    positionSlider = new QSlider(Qt::Horizontal, this);
    positionSlider->setObjectName(QStringLiteral("replayPosition"));
    positionSlider->setRange(0, 0);
    positionSlider->setMinimumWidth(160);
    addWidget(positionSlider);
    totalLabel = new QLabel(timeText(0), this);
    totalLabel->setObjectName(QStringLiteral("replayTotal"));
    addWidget(totalLabel);
    // While the handle is dragged only the label follows; the replay seeks
    // once, where it is let go.
    connect(positionSlider, &QSlider::valueChanged, this, &ReplayBar::sliderChanged);
    connect(positionSlider, &QSlider::sliderReleased, this,
            [this] { emit seekRequested(positionNs); });
    addNamedSeparator(this, "replayEndSeparator");

    endAction = makeAction(this, "replayEnd", tr("End replay"), QStyle::SP_MediaStop);
    connect(endAction, &QAction::triggered, this, &ReplayBar::endRequested);
}

QList<double> ReplayBar::speeds()
{
    return {0.25, 0.5, 1.0, 2.0, 4.0, 8.0, 0.0};
}

QString ReplayBar::timeText(qint64 ns)
{
    const qint64 tenths = qMax<qint64>(ns, 0) / 100000000;
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

void ReplayBar::setDuration(qint64 ns)
{
    durationNs = qMax<qint64>(ns, 0);
    const QSignalBlocker blocker(positionSlider);
    positionSlider->setRange(0, static_cast<int>(qMin<qint64>(durationNs / nsPerStep, INT_MAX)));
    totalLabel->setText(timeText(durationNs));
    if (positionNs > durationNs)
        showPosition(durationNs);
}

void ReplayBar::setPosition(qint64 ns)
{
    // The user's hand on the handle wins over the replay's report.
    if (positionSlider->isSliderDown())
        return;
    const QSignalBlocker blocker(positionSlider);
    showPosition(qBound<qint64>(0, ns, durationNs));
}

void ReplayBar::setPlaying(bool playing)
{
    const QSignalBlocker blocker(playAction);
    playAction->setChecked(playing);
    showPlaying(playing);
}

bool ReplayBar::playing() const
{
    return playAction->isChecked();
}

void ReplayBar::showPlaying(bool playing)
{
    playAction->setText(playing ? tr("Pause") : tr("Play"));
    playAction->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

void ReplayBar::showPosition(qint64 ns)
{
    positionNs = ns;
    positionSlider->setValue(static_cast<int>(ns / nsPerStep));
    elapsedLabel->setText(timeText(ns));
}

void ReplayBar::sliderChanged(int value)
{
    positionNs = value == positionSlider->maximum() ? durationNs : value * nsPerStep;
    elapsedLabel->setText(timeText(positionNs));
    if (!positionSlider->isSliderDown())
        emit seekRequested(positionNs);
}
