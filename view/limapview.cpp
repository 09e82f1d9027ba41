#include "limapview.h"

#include "confidencepalette.h"
#include "editions/edition.h"
#include "editions/modelrules.h"
#include "points/pointsearch.h"
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
#include <cmath>

namespace {

const QPoint defaultOffset(40, 5);
constexpr double defaultScale = 1.9;
constexpr int replotInterval = 33;
// Distances beyond this are not plausible; such points are drawn at the origin.
constexpr uint16_t maxDistance = 13000;

const char textColorKey[] = "Map/TextColor";
const char backgroundColorKey[] = "Map/BackgroundColor";
const char pointColorKey[] = "Map/PointColor";
const char indicatrixKey[] = "Map/IndicatrixEnable";
const char confidenceKey[] = "Map/ConfidenceEnable";

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

uint16_t plausible(uint16_t distance)
{
    return distance > maxDistance ? 0 : distance;
}

// Drawing radius of a distance: 10000 mm is the outer ring's radius.
double drawingLength(uint16_t distance, int outerRingDiameter)
{
    return distance * outerRingDiameter * 0.5 / 10000;
}

} // namespace

LiMapView::LiMapView(QWidget *parent) : QWidget(parent)
{
    registerPointDataMetaType();

    gridFont = QFont(QStringLiteral("Times"), 12, 0, false);
    statusFont = QFont(QStringLiteral("Times"), 18, 0, false);
    labelFont = QFont(QStringLiteral("Times"), 24, 0, false);

    canvas = blankCanvas(size());

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

    connect(showConfidenceAction, &QAction::toggled, this, &LiMapView::setConfidenceEnable);
    connect(showIndicatrixAction, &QAction::toggled, this, &LiMapView::setIndicatrixEnable);
    connect(backgroundColorAction, &QAction::triggered, this, &LiMapView::setBackgroundColor);
    connect(textColorAction, &QAction::triggered, this, &LiMapView::setTextColor);
    connect(pointColorAction, &QAction::triggered, this, &LiMapView::setPointColor);
    connect(enableFilterAction, &QAction::triggered, this, &LiMapView::filterSwitched);
    connect(clearErrorAction, &QAction::triggered, this, &LiMapView::clearErrorRequested);

    replotTimer = new QTimer(this);
    replotTimer->setObjectName(QStringLiteral("replotTimer"));
    connect(replotTimer, &QTimer::timeout, this, &LiMapView::replot);
    replotTimer->start(replotInterval);
}

LiMapView::~LiMapView() = default;

// --- Sources and settings from the main window -------------------------------

void LiMapView::setDecoderKind(Edition::DecoderKind kind)
{
    decoderKind = kind;
}

void LiMapView::setScale(double value)
{
    scale = value;
}

void LiMapView::setOffset(const QPoint &value)
{
    offset = value;
}

void LiMapView::setSelectedAngle(double angle)
{
    selectedAngle = angle;
}

void LiMapView::resetView(bool unused)
{
    Q_UNUSED(unused);
    offset = defaultOffset;
    scale = defaultScale;
    replot();
}

void LiMapView::setConfidenceEnable(bool enable)
{
    confidenceEnable = enable;
    showConfidenceAction->setChecked(enable);
}

void LiMapView::setIndicatrixEnable(bool enable)
{
    indicatrixEnable = enable;
    showIndicatrixAction->setChecked(enable);
}

void LiMapView::showScan(const SensorScan &scan)
{
    points = scan.points;
    // Drawn at the origin, and what a pick far from every point lands on.
    if (scan.streaming())
        points.append(endOfScanMarker());
    ++scanGeneration;
    showFigures(scan);
}

void LiMapView::showFigures(const SensorScan &scan)
{
    SensorScan &figures = scan.streaming() ? streamFigures : frameFigures;
    figures = scan;
    figures.points.clear();
}

void LiMapView::setStreamCounters(double speed, int errors)
{
    streamFigures.speed = speed;
    streamFigures.errors = errors;
}

QList<PointData> LiMapView::scan() const
{
    QList<PointData> drawn = points;
    for (PointData &p : drawn)
        p.distance = plausible(p.distance);
    return drawn;
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
    loadColor(textColorKey, textColor);
    loadColor(backgroundColorKey, backgroundColor);
    loadColor(pointColorKey, pointColor);
    setIndicatrixEnable(settings.value(QLatin1String(indicatrixKey), false).toBool());
    setConfidenceEnable(settings.value(QLatin1String(confidenceKey), false).toBool());
}

void LiMapView::saveSettings(QSettings &settings) const
{
    settings.setValue(QLatin1String(textColorKey), textColor);
    settings.setValue(QLatin1String(backgroundColorKey), backgroundColor);
    settings.setValue(QLatin1String(pointColorKey), pointColor);
    settings.setValue(QLatin1String(indicatrixKey), indicatrixEnable);
    settings.setValue(QLatin1String(confidenceKey), confidenceEnable);
}

// --- Model-dependent choices ------------------------------------------------

int LiMapView::statusLeft() const
{
    return statusLeft(frame());
}

int LiMapView::statusLeft(const Frame &f) const
{
    return f.width - Edition::statusBlockInset;
}

// The figures of the family the decoder kind chooses; the error line shows
// the streaming decoder's count whatever the model.
SensorScan LiMapView::figuresInForce() const
{
    if (!Edition::usesCommandProtocol(decoderKind))
        return streamFigures;
    SensorScan figures = frameFigures;
    figures.errors = streamFigures.errors;
    return figures;
}

QVector<LiMapView::StatusLine> LiMapView::statusLines() const
{
    return StatusBlock(figuresInForce(), decoderKind, showErrorAction->isChecked()).lines();
}

// Picks among the points shown exactly as the decoders' own lookup picks in
// the scan they published.
int LiMapView::selectedIndex() const
{
    int index = findNearestPoint(points, static_cast<float>(selectedAngle));
    if (index < 0 || index >= points.size())
        index = 0;
    return index;
}

QString LiMapView::labelText(const PointData &picked) const
{
    // The end-of-scan marker stands for the picked angle itself.
    const double angle = isEndOfScanMarker(picked) ? selectedAngle : picked.angle;
    const uint16_t distance = plausible(picked.distance);
    const QString angleText = QString::number(angle, 'f', 1);
    if (confidenceEnable)
        return tr("%1,%2,%3")
            .arg(angleText, QString::number(distance), QString::number(picked.confidence));
    return tr("%1\u00b0,%2mm").arg(angleText, QString::number(distance));
}

QString LiMapView::selectedPointLabel() const
{
    if (!indicatrixEnable || points.isEmpty())
        return QString();
    return labelText(points.at(selectedIndex()));
}

// --- Drawing ----------------------------------------------------------------

LiMapView::Frame LiMapView::frame() const
{
    Frame f;
    // The view's rectangle in its parent's coordinates, so a view placed
    // below a tool bar draws its origin that much lower; a view without a
    // parent uses its own rectangle.
    f.geometry = isWindow() ? rect() : geometry();
    f.width = f.geometry.width();
    f.height = f.geometry.height();
    f.centre = f.geometry.center();
    f.outerRingDiameter = f.height / 2 - 10;
    return f;
}

QPoint LiMapView::drawingOrigin() const
{
    const Frame f = frame();
    return QPoint(f.centre.x() + offset.y(), f.centre.y() - offset.x());
}

// Logical x points up the screen, logical y to the left, one unit is
// `scale` pixels, and the origin sits `offset` away from the centre.
void LiMapView::enterDrawingFrame(QPainter &painter, const Frame &f) const
{
    painter.rotate(-90);
    // The viewport in the canvas's logical pixels, whatever its ratio.
    painter.setViewport(0, 0, f.width, f.height);
    painter.setWindow(-f.centre.x(), -f.centre.y(), f.width, f.height);
    painter.translate(offset.x(), offset.y());
    painter.scale(scale, -scale);
}

QColor LiMapView::gridColor(int alpha) const
{
    return QColor(255 - backgroundColor.red(), 255 - backgroundColor.green(),
                  255 - backgroundColor.blue(), alpha);
}

bool LiMapView::PictureState::operator==(const PictureState &o) const
{
    return canvasSize == o.canvasSize && geometry == o.geometry && scale == o.scale &&
           offset == o.offset && backgroundColor == o.backgroundColor &&
           scanGeneration == o.scanGeneration && hasScan == o.hasScan &&
           decoderKind == o.decoderKind && confidenceEnable == o.confidenceEnable &&
           indicatrixEnable == o.indicatrixEnable && pointColor == o.pointColor &&
           textColor == o.textColor && selectedAngle == o.selectedAngle &&
           selectedIndex == o.selectedIndex && status == o.status;
}

LiMapView::PictureState LiMapView::pictureState(const Frame &f) const
{
    PictureState state;
    state.canvasSize = canvas.size();
    state.geometry = f.geometry;
    state.scale = scale;
    state.offset = offset;
    state.backgroundColor = backgroundColor;
    state.hasScan = !points.isEmpty();
    if (state.hasScan) {
        state.scanGeneration = scanGeneration;
        state.decoderKind = decoderKind;
        state.confidenceEnable = confidenceEnable;
        state.indicatrixEnable = indicatrixEnable;
        state.pointColor = pointColor;
        state.textColor = textColor;
        state.selectedAngle = selectedAngle;
        state.selectedIndex = selectedIndex();
        state.status = statusLines();
    }
    return state;
}

void LiMapView::replot()
{
    // A hidden widget gets its resize event only when it is shown; the
    // canvas follows the size anyway so that it can be drawn off screen.
    if (!canvasFitsView()) {
        canvas = blankCanvas(size());
        drawnValid = false;
    }
    const Frame f = frame();
    const PictureState state = pictureState(f);
    if (drawnValid && state == drawn)
        return;

    updateGridLayer(f);
    canvas = gridLayer;
    if (state.hasScan)
        drawScan(f, state);
    drawn = state;
    drawnValid = true;
    update();
}

void LiMapView::updateGridLayer(const Frame &f)
{
    if (gridValid && gridSize == canvas.size() && gridRatio == canvas.devicePixelRatio() &&
        gridGeometry == f.geometry && gridScale == scale && gridOffset == offset &&
        gridBackground == backgroundColor)
        return;
    gridLayer = QPixmap(canvas.size());
    gridLayer.setDevicePixelRatio(canvas.devicePixelRatio());
    gridLayer.fill(backgroundColor);
    if (!gridLayer.isNull()) {
        QPainter painter(&gridLayer);
        if (painter.isActive())
            drawGrid(painter, f);
    }
    gridSize = canvas.size();
    gridRatio = canvas.devicePixelRatio();
    gridGeometry = f.geometry;
    gridScale = scale;
    gridOffset = offset;
    gridBackground = backgroundColor;
    gridValid = true;
}

void LiMapView::drawGrid(QPainter &painter, const Frame &f) const
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    enterDrawingFrame(painter, f);

    const int diameter = f.outerRingDiameter;
    const int half = diameter / 2;
    QPen pen(gridColor(80));
    pen.setWidthF(1.0 / scale);
    painter.setPen(pen);
    painter.drawEllipse(-half, -half, diameter, diameter);

    // A ring every 1000 mm inside the outer one.
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    const int ringStep = diameter / 10;
    const int ringCorner = -half / 10;
    for (int k = 1; k <= 9; ++k)
        painter.drawEllipse(k * ringCorner, k * ringCorner, k * ringStep, k * ringStep);

    // Twelve spokes, one every 30 degrees.
    pen.setColor(gridColor(90));
    painter.setPen(pen);
    painter.save();
    for (int i = 0; i < 3; ++i) {
        painter.drawLine(-half, 0, half, 0);
        painter.drawLine(0, -half, 0, half);
        painter.rotate(30);
    }
    painter.restore();

    // Angle labels 10 pixels outside the outer ring at any zoom.
    painter.setFont(gridFont);
    painter.scale(1.0 / scale, -1.0 / scale);
    pen.setColor(gridColor(200));
    painter.setPen(pen);
    painter.save();
    const int labelDistance = static_cast<int>(half * scale + 10);
    for (int angle = 0; angle < 360; angle += 30) {
        painter.drawText(labelDistance, 0, QString::number(angle));
        painter.rotate(30);
    }
    painter.restore();
}

void LiMapView::drawStatus(QPainter &painter, const Frame &f,
                           const QVector<StatusLine> &lines) const
{
    const int left = statusLeft(f);
    painter.setFont(statusFont);
    painter.setPen(textColor);
    for (const StatusLine &line : lines)
        painter.drawText(left, line.baseline, line.text);
}

void LiMapView::drawPoints(QPainter &painter, const Frame &f)
{
    QPen pen(pointColor, 2.0 / scale, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    painter.setPen(pen);

    // Consecutive points of one opaque colour are drawn in one call; the
    // pixels are those of drawing them one by one. Translucent points are
    // drawn singly so that overlaps blend as they would one by one.
    pointBatch.clear();
    QColor batchColor = pointColor;
    auto flush = [&]() {
        if (pointBatch.isEmpty())
            return;
        if (pen.color() != batchColor) {
            pen.setColor(batchColor);
            painter.setPen(pen);
        }
        painter.drawPoints(pointBatch.constData(), pointBatch.size());
        pointBatch.clear();
    };

    for (const PointData &point : qAsConst(points)) {
        const QColor color = confidenceEnable
                                 ? ConfidencePalette::colorFor(point.confidence, decoderKind)
                                 : pointColor;
        if (color != batchColor || color.alpha() != 255) {
            flush();
            batchColor = color;
        }
        const double length = drawingLength(plausible(point.distance), f.outerRingDiameter);
        const double theta = radians(point.angle);
        pointBatch.append(QPointF(length * std::cos(theta), -length * std::sin(theta)));
    }
    flush();
}

void LiMapView::drawScan(const Frame &f, const PictureState &state)
{
    QPainter painter(&canvas);
    if (!painter.isActive())
        return;

    drawStatus(painter, f, state.status);

    enterDrawingFrame(painter, f);
    drawPoints(painter, f);

    const PointData &picked = points.at(state.selectedIndex);
    const double angle = isEndOfScanMarker(picked) ? selectedAngle : picked.angle;
    const double length = drawingLength(plausible(picked.distance), f.outerRingDiameter);
    const double theta = radians(angle);

    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen = painter.pen();
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    if (indicatrixEnable) {
        pen.setColor(gridColor(255));
        painter.setPen(pen);
        painter.drawLine(QPointF(length * std::cos(theta), -length * std::sin(theta)),
                         QPointF(0, 0));
    }

    // Back to screen axes, origin still at the drawing origin.
    painter.scale(1.0 / scale, -1.0 / scale);
    painter.setFont(labelFont);
    pen.setColor(textColor);
    painter.setPen(pen);
    painter.rotate(90);
    if (indicatrixEnable)
        painter.drawText(
            QPointF(scale * length * std::sin(theta), -scale * length * std::cos(theta)),
            labelText(picked));
}

void LiMapView::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawPixmap(0, 0, canvas);
}

void LiMapView::resizeEvent(QResizeEvent *event)
{
    canvas = blankCanvas(event->size());
    if (!canvas.isNull())
        canvas.fill(Qt::transparent);
    drawnValid = false;
}

// The canvas has the screen's resolution: the view's logical size times the
// device pixel ratio, so points, grid and text are sharp on a high-density
// screen. Painters on it work in logical pixels, so the layout, the status
// block and the picking are those of a ratio of 1.
QPixmap LiMapView::blankCanvas(const QSize &logicalSize) const
{
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(logicalSize * ratio);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

bool LiMapView::canvasFitsView() const
{
    const qreal ratio = devicePixelRatioF();
    if (canvas.size() != size() * ratio)
        return false;
    // A null pixmap keeps a ratio of 1; there is nothing to redraw.
    return canvas.isNull() || canvas.devicePixelRatio() == ratio;
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
        selectedAngle = angle;
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
    offset += releasePos - pressPos;
    qCDebug(lcView) << offset;
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
        scale *= 1.25;
    else if (notches == -1.0 && scale > 0.25)
        scale *= 0.8;
    event->accept();
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

void LiMapView::setPointColor()
{
    pointColor = askColor(pointColor);
}

void LiMapView::setTextColor()
{
    textColor = askColor(textColor);
}

void LiMapView::setBackgroundColor()
{
    backgroundColor = askColor(backgroundColor);
}
