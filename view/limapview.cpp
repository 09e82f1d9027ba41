#include "limapview.h"

#include "viewlogging.h"

#include <QAction>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QSettings>
#include <QTimer>
#include <QWheelEvent>
#include <QtMath>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace {

// At most one redraw per interval: about 30 a second.
constexpr int replotInterval = 33;

qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const char textColorKey[] = "Map/TextColor";
const char backgroundColorKey[] = "Map/BackgroundColor";
const char pointColorKey[] = "Map/PointColor";
const char indicatrixKey[] = "Map/IndicatrixEnable";
const char confidenceKey[] = "Map/ConfidenceEnable";

} // namespace

LiMapView::LiMapView(QWidget *parent)
    : QWidget(parent), clock(monotonicMs), lastRedraw(std::numeric_limits<qint64>::min() / 2)
{
    registerPointDataMetaType();

    renderer.resetCanvas(size(), devicePixelRatioF());

    menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("menu"));

    auto makeAction = [this](const QString &text, const char *name, bool checkable) {
        auto *action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        action->setCheckable(checkable);
        return action;
    };
    showConfidenceAction = makeAction(tr("Show confidence"), "showConfidenceAction", true);
    showIndicatrixAction = makeAction(tr("Show indicatrix line"), "showIndicatrixAction", true);
    backgroundColorAction = makeAction(tr("Set background color"), "backgroundColorAction", false);
    textColorAction = makeAction(tr("Set text color"), "textColorAction", false);
    pointColorAction = makeAction(tr("Set point color"), "pointColorAction", false);
    clearErrorAction = makeAction(tr("Clear error"), "clearErrorAction", false);
    showErrorAction = makeAction(tr("Show error"), "showErrorAction", true);
    enableFilterAction = makeAction(tr("Enable filter"), "enableFilterAction", true);
    enableFilterAction->setChecked(true);

    connect(showConfidenceAction, &QAction::toggled, this, &LiMapView::setConfidenceEnabled);
    connect(showIndicatrixAction, &QAction::toggled, this, &LiMapView::setIndicatrixEnabled);
    connect(showErrorAction, &QAction::toggled, this, [this](bool shown) {
        state.errorShown = shown;
        scheduleRedraw();
    });
    connect(backgroundColorAction, &QAction::triggered, this, &LiMapView::chooseBackgroundColor);
    connect(textColorAction, &QAction::triggered, this, &LiMapView::chooseTextColor);
    connect(pointColorAction, &QAction::triggered, this, &LiMapView::choosePointColor);
    connect(enableFilterAction, &QAction::triggered, this, &LiMapView::filterSwitched);
    connect(clearErrorAction, &QAction::triggered, this, &LiMapView::clearErrorRequested);

    // Started only when something changed: nothing runs while the map
    // stays as it is.
    redrawTimer = new QTimer(this);
    redrawTimer->setObjectName(QStringLiteral("redrawTimer"));
    redrawTimer->setTimerType(Qt::PreciseTimer);
    connect(redrawTimer, &QTimer::timeout, this, &LiMapView::tick);
}

LiMapView::~LiMapView() = default;

// --- Sources and settings from the main window -------------------------------

void LiMapView::setDecoderKind(Edition::DecoderKind kind)
{
    state.decoderKind = kind;
    scheduleRedraw();
}

void LiMapView::setScale(double value)
{
    state.scale = value;
    scheduleRedraw();
}

void LiMapView::setOffset(const QPoint &value)
{
    state.offset = value;
    scheduleRedraw();
}

void LiMapView::setSelectedAngle(double angle)
{
    state.selectedAngle = angle;
    scheduleRedraw();
}

void LiMapView::resetView(bool unused)
{
    Q_UNUSED(unused);
    state.offset = MapViewState::defaultOffset();
    state.scale = MapViewState::defaultScale;
    replot();
}

void LiMapView::setConfidenceEnabled(bool enabled)
{
    state.confidenceEnabled = enabled;
    showConfidenceAction->setChecked(enabled);
    scheduleRedraw();
}

void LiMapView::setIndicatrixEnabled(bool enabled)
{
    state.indicatrixEnabled = enabled;
    showIndicatrixAction->setChecked(enabled);
    scheduleRedraw();
}

void LiMapView::showScan(const SensorScan &scan)
{
    if (frozen_)
        renderer.showFigures(scan);
    else
        renderer.showScan(scan);
    scheduleRedraw();
}

void LiMapView::showFigures(const SensorScan &scan)
{
    renderer.showFigures(scan);
    scheduleRedraw();
}

void LiMapView::setStreamCounters(double speed, int errors)
{
    // They come with every frame of the stream, and mostly say the same.
    if (renderer.setStreamCounters(speed, errors))
        scheduleRedraw();
}

void LiMapView::loadSettings(QSettings &settings)
{
    // A value that is not a usable colour leaves the colour as it is, just
    // as a cancelled colour dialog does.
    auto loadColor = [&settings](const char *key, QColor &target) {
        const QVariant value = settings.value(QLatin1String(key));
        if (value.isNull())
            return;
        const QColor color = value.value<QColor>();
        if (color.isValid())
            target = color;
    };
    loadColor(textColorKey, state.textColor);
    loadColor(backgroundColorKey, state.backgroundColor);
    loadColor(pointColorKey, state.pointColor);
    setIndicatrixEnabled(settings.value(QLatin1String(indicatrixKey), false).toBool());
    setConfidenceEnabled(settings.value(QLatin1String(confidenceKey), false).toBool());
    scheduleRedraw();
}

void LiMapView::saveSettings(QSettings &settings) const
{
    settings.setValue(QLatin1String(textColorKey), state.textColor);
    settings.setValue(QLatin1String(backgroundColorKey), state.backgroundColor);
    settings.setValue(QLatin1String(pointColorKey), state.pointColor);
    settings.setValue(QLatin1String(indicatrixKey), state.indicatrixEnabled);
    settings.setValue(QLatin1String(confidenceKey), state.confidenceEnabled);
}

// --- Drawing ----------------------------------------------------------------

MapViewState LiMapView::viewState() const
{
    MapViewState current = state;
    // A view without a parent uses its own rectangle.
    current.geometry = isWindow() ? rect() : geometry();
    current.devicePixelRatio = devicePixelRatioF();
    return current;
}

void LiMapView::setClock(std::function<qint64()> msecs)
{
    clock = std::move(msecs);
}

void LiMapView::scheduleRedraw()
{
    changed = true;
    if (redrawTimer->isActive())
        return; // the next tick draws it
    // The first change after a quiet spell is drawn on the next pass of the
    // event loop when the last redraw is a whole interval ago; the tick that
    // starts with it draws what comes in the interval after, and stops at
    // the first interval with nothing new.
    if (clock() - lastRedraw >= replotInterval && !redrawQueued) {
        redrawQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                redrawQueued = false;
                if (changed)
                    replot();
            },
            Qt::QueuedConnection);
    }
    redrawTimer->start(replotInterval);
}

void LiMapView::tick()
{
    if (!changed) {
        redrawTimer->stop();
        return;
    }
    replot();
}

void LiMapView::replot()
{
    redraw(QRegion());
}

void LiMapView::redraw(const QRegion &painting)
{
    changed = false;
    // A hidden widget gets its resize event only when it is shown; the
    // renderer's canvas follows the size anyway.
    if (!renderer.render(viewState()))
        return;
    lastRedraw = clock();
    // What a paint under way covers needs no second paint.
    update(renderer.changedArea() - painting);
    emit redrawn();
}

void LiMapView::paintEvent(QPaintEvent *event)
{
    // A new size or screen: the picture for it now, not a stretched or
    // blank one until the next redraw.
    if (!renderer.hasPicture(viewState()))
        redraw(event->region());
    // An opaque picture covers the whole view: nothing behind it needs
    // painting first.
    setAttribute(Qt::WA_OpaquePaintEvent, state.backgroundColor.alpha() == 255);
    QPainter painter(this);
    renderer.paint(painter, event->region());
    emit painted();
}

void LiMapView::resizeEvent(QResizeEvent *event)
{
    renderer.resetCanvas(event->size(), devicePixelRatioF());
    scheduleRedraw();
}

// --- Mouse, wheel and menu --------------------------------------------------

QPoint LiMapView::centred(const QPoint &pos) const
{
    return QPoint(height() / 2 - pos.y(), pos.x() - width() / 2);
}

void LiMapView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        // The angle of the click around the origin as drawn, 0 up and
        // growing clockwise, in [0, 360).
        const QPoint origin = drawingOrigin();
        const int up = origin.y() - event->pos().y();
        const int right = event->pos().x() - origin.x();
        double angle;
        if (up != 0) {
            angle = qRadiansToDegrees(std::atan(double(right) / double(up)));
            angle += up > 0 ? 360.0 : 180.0;
            if (angle >= 360.0)
                angle -= 360.0;
        } else {
            angle = right < 0 ? 270.0 : 90.0;
        }
        state.selectedAngle = angle;
        scheduleRedraw();
        return;
    }
    pressPos = centred(event->pos());
    if (event->button() == Qt::RightButton) {
        rightButtonDown = true;
        menuPending = false;
    }
}

void LiMapView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton)
        return;
    rightButtonDown = false;
    releasePos = centred(event->pos());
    state.offset += releasePos - pressPos;
    qCDebug(lcView) << state.offset;
    scheduleRedraw();
    if (menuPending) {
        menuPending = false;
        if (pressPos == releasePos)
            showMenu();
    }
}

void LiMapView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    emit doubleClicked();
}

void LiMapView::wheelEvent(QWheelEvent *event)
{
    const QPoint angleDelta = event->angleDelta();
    const int delta = qAbs(angleDelta.x()) > qAbs(angleDelta.y()) ? angleDelta.x() : angleDelta.y();
    const double notches = delta / 120.0;
    if (notches == 1.0)
        state.scale *= 1.25;
    else if (notches == -1.0 && state.scale > 0.25)
        state.scale *= 0.8;
    event->accept();
    scheduleRedraw();
}

void LiMapView::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    if (event->reason() != QContextMenuEvent::Mouse) {
        showMenu();
        return;
    }
    // Where the request comes with the press, wait for the release to know
    // whether this click dragged.
    if (rightButtonDown) {
        menuPending = true;
        return;
    }
    if (pressPos == releasePos)
        showMenu();
}

void LiMapView::showMenu()
{
    menu->clear();
    menu->addAction(textColorAction);
    menu->addAction(backgroundColorAction);
    menu->addAction(pointColorAction);
    menu->addAction(enableFilterAction);
    menu->addAction(showConfidenceAction);
    menu->addAction(showIndicatrixAction);
    menu->addSeparator();
    menu->addAction(showErrorAction);
    menu->addAction(clearErrorAction);
    menu->exec(QCursor::pos());
}

QColor LiMapView::askColor(const QColor &current)
{
    const QColor chosen = QColorDialog::getColor(Qt::white, this, tr("select color"));
    return chosen.isValid() ? chosen : current;
}

void LiMapView::choosePointColor()
{
    state.pointColor = askColor(state.pointColor);
    scheduleRedraw();
}

void LiMapView::chooseTextColor()
{
    state.textColor = askColor(state.textColor);
    scheduleRedraw();
}

void LiMapView::chooseBackgroundColor()
{
    state.backgroundColor = askColor(state.backgroundColor);
    scheduleRedraw();
}
