#include "limapview.h"

#include "editions/edition.h"
#include "editions/modelrules.h"
#include "lipkg/lipkg.h"
#include "points/pointsearch.h"
#include "trnet/qtrnet.h"
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
constexpr int statusLineSpacing = 25;
constexpr int firstStatusBaseline = 30;

const char textColorKey[] = "Map/TextColor";
const char backgroundColorKey[] = "Map/BackgroundColor";
const char pointColorKey[] = "Map/PointColor";
const char indicatrixKey[] = "Map/IndicatrixEnable";
const char confidenceKey[] = "Map/ConfidenceEnable";

// Confidence palette of the command-protocol models: near-black through
// blue-violet, magenta-red and orange to pale yellow. The anchors are exact;
// the entries between them are interpolated linearly.
struct PaletteAnchor
{
    int index;
    int red, green, blue;
};
constexpr PaletteAnchor paletteAnchors[] = {
    {0, 16, 0, 2},        {16, 27, 7, 73},     {32, 43, 17, 163},   {48, 60, 32, 214},
    {64, 76, 53, 217},    {80, 93, 76, 217},   {96, 113, 93, 217},  {112, 149, 92, 199},
    {128, 199, 68, 151},  {144, 233, 64, 112}, {160, 248, 88, 84},  {176, 255, 120, 63},
    {192, 255, 147, 46},  {208, 255, 177, 40}, {224, 255, 204, 40}, {240, 255, 234, 124},
    {255, 255, 254, 251},
};

std::array<QRgb, 256> buildIntensityPalette()
{
    std::array<QRgb, 256> table{};
    const int anchors = int(sizeof(paletteAnchors) / sizeof(paletteAnchors[0]));
    for (int a = 0; a + 1 < anchors; ++a) {
        const PaletteAnchor &lo = paletteAnchors[a];
        const PaletteAnchor &hi = paletteAnchors[a + 1];
        const int span = hi.index - lo.index;
        for (int i = lo.index; i <= hi.index; ++i) {
            const int t = i - lo.index;
            auto mix = [&](int from, int to) {
                return int(std::lround(from + double(to - from) * t / span));
            };
            table[size_t(i)] =
                qRgb(mix(lo.red, hi.red), mix(lo.green, hi.green), mix(lo.blue, hi.blue));
        }
    }
    return table;
}

const std::array<QRgb, 256> &intensityPalette()
{
    static const std::array<QRgb, 256> table = buildIntensityPalette();
    return table;
}

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
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

    canvas = QPixmap(size());

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

    replotTimer = new QTimer(this);
    replotTimer->setObjectName(QStringLiteral("replotTimer"));
    connect(replotTimer, &QTimer::timeout, this, &LiMapView::replot);
    replotTimer->start(replotInterval);
}

LiMapView::~LiMapView() = default;

// --- Sources and settings from the main window -------------------------------

void LiMapView::setPkg(LiPkg *value)
{
    if (pkg) {
        pkg->disconnect(this);
        clearErrorAction->disconnect(pkg);
        enableFilterAction->disconnect(pkg);
    }
    pkg = value;
    if (!pkg)
        return;
    connect(pkg, &LiPkg::mapReady, this, qOverload<>(&LiMapView::updateMap));
    connect(clearErrorAction, &QAction::triggered, pkg, &LiPkg::clearPkgErrorCount);
    connect(enableFilterAction, &QAction::triggered, pkg, &LiPkg::setEnableFilter);
}

void LiMapView::setNet(QTRNet *value)
{
    trNet = value;
}

void LiMapView::setDecoderKind(Edition::DecoderKind kind)
{
    decoderKind = kind;
}

// The earlier edition's window names the model; its kind, worked out once
// here by the edition's rules, decides the source, the colouring and the
// status block.
void LiMapView::setModelName(const QString &name)
{
    modelName = name;
    decoderKind = Edition::modelChoice(name).decoderKind;
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

void LiMapView::updateMap()
{
    if (!pkg)
        return;
    points = pkg->currentScan();
    ++scanGeneration;
}

void LiMapView::updateMap(QList<PointData> map)
{
    points = std::move(map);
    ++scanGeneration;
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

bool LiMapView::usesNetSource() const
{
    return Edition::usesCommandProtocol(decoderKind);
}

QColor LiMapView::intensityColor(int confidence)
{
    return QColor(intensityPalette()[size_t(qBound(0, confidence, 255))]);
}

QColor LiMapView::confidenceColor(uint8_t confidence) const
{
    if (usesNetSource())
        return intensityColor(confidence);
    if (decoderKind == Edition::DecoderKind::StreamFlagInConfidence) {
        if (confidence & 1)
            return QColor(Qt::red);
        const int grey = confidence & ~1;
        return QColor(grey, grey, grey, 255);
    }
    return QColor(confidence, confidence, confidence, 255);
}

int LiMapView::statusLeft() const
{
    return statusLeft(frame());
}

int LiMapView::statusLeft(const Frame &f) const
{
    return f.width - Edition::statusBlockInset;
}

QVector<LiMapView::StatusLine> LiMapView::statusLines() const
{
    QVector<StatusLine> lines;
    int baseline = firstStatusBaseline;
    auto add = [&](const QString &text) {
        lines.append(StatusLine{text, baseline});
        baseline += statusLineSpacing;
    };
    if (showErrorAction->isChecked())
        add(tr("Error:  %1").arg(pkg ? pkg->errorCount() : 0));
    if (usesNetSource()) {
        add(tr("Rate : %1 hz").arg(trNet ? trNet->scanRate() : 0.0, 0, 'f', 1));
        add(tr("Valid:  %1/%2")
                .arg(trNet ? trNet->validCount() : 0)
                .arg(trNet ? trNet->pointTotal() : 0));
        if constexpr (Edition::showsPixelSum)
            add(tr("PixSum:  %1").arg(trNet ? trNet->pixelSum() : 0));
    } else {
        add(tr("Speed:  %1").arg(pkg ? pkg->rotationSpeed() : 0.0, 0, 'f', 1));
        add(tr("Rate :  %1").arg(pkg ? pkg->scanRate() : 0.0, 0, 'f', 1));
        add(tr("Valid:  %1/%2").arg(pkg ? pkg->validCount() : 0).arg(pkg ? pkg->pointTotal() : 0));
    }
    return lines;
}

int LiMapView::selectedIndex() const
{
    const float angle = static_cast<float>(selectedAngle);
    int index;
    if (usesNetSource())
        index = trNet ? trNet->nearestPointIndex(angle) : findNearestPoint(points, angle);
    else
        index = pkg ? pkg->nearestPointIndex(angle) : findNearestPoint(points, angle);
    if (index < 0 || index >= points.size())
        index = 0;
    return index;
}

QString LiMapView::labelText(const PointData &picked) const
{
    // The end-of-scan marker stands for the picked angle itself.
    const double angle = picked.angle > 360.0 ? selectedAngle : picked.angle;
    const uint16_t distance = picked.distance > maxDistance ? 0 : picked.distance;
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
    if (canvas.size() != size()) {
        canvas = QPixmap(size());
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
    if (gridValid && gridSize == canvas.size() && gridGeometry == f.geometry &&
        gridScale == scale && gridOffset == offset && gridBackground == backgroundColor)
        return;
    gridLayer = QPixmap(canvas.size());
    gridLayer.fill(backgroundColor);
    if (!gridLayer.isNull()) {
        QPainter painter(&gridLayer);
        if (painter.isActive())
            drawGrid(painter, f);
    }
    gridSize = canvas.size();
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

    for (int i = 0; i < points.size(); ++i) {
        if (points.at(i).distance > maxDistance)
            points[i].distance = 0;
        const PointData &point = points.at(i);
        const QColor color = confidenceEnable ? confidenceColor(point.confidence) : pointColor;
        if (color != batchColor || color.alpha() != 255) {
            flush();
            batchColor = color;
        }
        const double length = drawingLength(point.distance, f.outerRingDiameter);
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
    const double angle = picked.angle > 360.0 ? selectedAngle : picked.angle;
    const double length = drawingLength(picked.distance, f.outerRingDiameter);
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
    canvas = QPixmap(event->size());
    if (!canvas.isNull())
        canvas.fill(Qt::transparent);
    drawnValid = false;
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
