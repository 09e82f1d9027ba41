#include "maprenderer.h"

#include "confidencepalette.h"
#include "editions/edition.h"
#include "points/pointsearch.h"

#include <QCoreApplication>
#include <QPainter>
#include <QSemaphore>
#include <QTextLayout>
#include <QThread>
#include <QThreadPool>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace {

// Distances beyond this are not plausible; such points are drawn at the origin.
constexpr uint16_t maxDistance = 13000;

// What a text or a stroke may cover beyond its box, in logical pixels:
// glyph overhang and antialiasing, and half the width of the point pen
// (2 pixels) with its antialiased edge.
constexpr int textMargin = 4;
constexpr int penMargin = 3;

// Rows of the canvas copied onto the screen at a time.
constexpr int paintBandRows = 64;

// Side of the square tiles, in logical pixels, by which the points' area is
// told. A scan of a room lies along its walls: the tiles they cross are a
// small part of the box around them, and only those are put back under the
// next scan and sent to the screen.
constexpr int pointTile = 32;

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

// Runs `work` on a thread of the global pool and waits for it; `work` tells
// whether it could paint. Under Qt 6 the raster engine splits a fill of many
// spans among the pool's threads unless it already runs on one of them. A
// grid's rings and spokes make many such fills, and handing each over and
// waiting for it cost more than the fill; on a pool thread the grid is drawn
// in one go, with one handover. The pixels are the same. A platform that
// cannot paint pixmaps off the window's thread gets it drawn here.
template <typename Work> void onPoolThread(Work &&work)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QThreadPool *pool = QThreadPool::globalInstance();
    if (!pool->contains(QThread::currentThread())) {
        QSemaphore done;
        bool painted = false;
        pool->start([&] {
            painted = work();
            done.release();
        });
        done.acquire();
        if (painted)
            return;
    }
#endif
    work();
}

} // namespace

MapRenderer::MapRenderer()
    : gridFont(QStringLiteral("Times"), 12, 0, false),
      statusFont(QStringLiteral("Times"), 18, 0, false),
      labelFont(QStringLiteral("Times"), 24, 0, false)
{
}

// --- The scan ----------------------------------------------------------------

void MapRenderer::showScan(const SensorScan &scan)
{
    points = scan.points;
    // Drawn at the origin, and what a pick far from every point lands on.
    if (scan.streaming())
        points.append(endOfScanMarker());
    ++scanGeneration;
    showFigures(scan);
}

void MapRenderer::showFigures(const SensorScan &scan)
{
    SensorScan &figures = scan.streaming() ? streamFigures : frameFigures;
    figures = scan;
    // Let go of the points rather than clear them: clearing a list that is
    // shared with the scan copies it under Qt 5, and allocates a new one of
    // the same size under Qt 6.
    figures.points = PointList();
}

bool MapRenderer::setStreamCounters(double speed, int errors)
{
    if (streamFigures.speed == speed && streamFigures.errors == errors)
        return false;
    streamFigures.speed = speed;
    streamFigures.errors = errors;
    return true;
}

PointList MapRenderer::scan() const
{
    PointList shown = points;
    for (PointData &p : shown)
        p.distance = plausible(p.distance);
    return shown;
}

// --- Model-dependent choices ------------------------------------------------

int MapRenderer::statusLeft(const MapViewState &state)
{
    return state.geometry.width() - Edition::statusBlockInset;
}

// The figures of the family the decoder kind chooses; the error line shows
// the streaming decoder's count whatever the model.
SensorScan MapRenderer::figuresInForce(Edition::DecoderKind kind) const
{
    if (!Edition::usesCommandProtocol(kind))
        return streamFigures;
    SensorScan figures = frameFigures;
    figures.errors = streamFigures.errors;
    return figures;
}

QVector<MapRenderer::StatusLine> MapRenderer::statusLines(const MapViewState &state) const
{
    return StatusBlock(figuresInForce(state.decoderKind), state.decoderKind, state.errorShown)
        .lines();
}

// Picks among the points shown exactly as the decoders' own lookup picks in
// the scan they published.
int MapRenderer::selectedIndex(double selectedAngle) const
{
    int index = findNearestPoint(points, static_cast<float>(selectedAngle));
    if (index < 0 || index >= points.size())
        index = 0;
    return index;
}

QString MapRenderer::labelText(const PointData &picked, const MapViewState &state)
{
    // The end-of-scan marker stands for the picked angle itself.
    const double angle = isEndOfScanMarker(picked) ? state.selectedAngle : picked.angle;
    const uint16_t distance = plausible(picked.distance);
    const QString angleText = QString::number(angle, 'f', 1);
    if (state.confidenceEnabled)
        return QCoreApplication::translate("LiMapView", "%1,%2,%3")
            .arg(angleText, QString::number(distance), QString::number(picked.confidence));
    return QCoreApplication::translate("LiMapView", "%1\u00b0,%2mm")
        .arg(angleText, QString::number(distance));
}

QString MapRenderer::selectedPointLabel(const MapViewState &state) const
{
    if (!state.indicatrixEnabled || points.isEmpty())
        return QString();
    return labelText(points.at(selectedIndex(state.selectedAngle)), state);
}

// --- Drawing ----------------------------------------------------------------

MapRenderer::Frame MapRenderer::frame(const MapViewState &state)
{
    Frame f;
    f.geometry = state.geometry;
    f.width = f.geometry.width();
    f.height = f.geometry.height();
    f.centre = f.geometry.center();
    f.outerRingDiameter = f.height / 2 - 10;
    return f;
}

QPoint MapRenderer::drawingOrigin(const MapViewState &state)
{
    const Frame f = frame(state);
    return QPoint(f.centre.x() + state.offset.y(), f.centre.y() - state.offset.x());
}

// Logical x points up the screen, logical y to the left, one unit is
// `scale` pixels, and the origin sits `offset` away from the centre.
void MapRenderer::enterDrawingFrame(QPainter &painter, const Frame &f, const MapViewState &state)
{
    painter.rotate(-90);
    // The viewport in the canvas's logical pixels, whatever its ratio.
    painter.setViewport(0, 0, f.width, f.height);
    painter.setWindow(-f.centre.x(), -f.centre.y(), f.width, f.height);
    painter.translate(state.offset.x(), state.offset.y());
    painter.scale(state.scale, -state.scale);
}

QColor MapRenderer::gridColor(const MapViewState &state, int alpha)
{
    const QColor &background = state.backgroundColor;
    return QColor(255 - background.red(), 255 - background.green(), 255 - background.blue(), alpha);
}

bool MapRenderer::PictureState::operator==(const PictureState &o) const
{
    return canvasSize == o.canvasSize && geometry == o.geometry && scale == o.scale &&
           offset == o.offset && backgroundColor == o.backgroundColor &&
           scanGeneration == o.scanGeneration && hasScan == o.hasScan &&
           decoderKind == o.decoderKind && confidenceEnabled == o.confidenceEnabled &&
           indicatrixEnabled == o.indicatrixEnabled && pointColor == o.pointColor &&
           textColor == o.textColor && selectedAngle == o.selectedAngle &&
           selectedIndex == o.selectedIndex && status == o.status;
}

MapRenderer::PictureState MapRenderer::pictureState(const MapViewState &state) const
{
    PictureState picture;
    picture.canvasSize = canvas_.size();
    picture.geometry = state.geometry;
    picture.scale = state.scale;
    picture.offset = state.offset;
    picture.backgroundColor = state.backgroundColor;
    picture.hasScan = !points.isEmpty();
    if (picture.hasScan) {
        picture.scanGeneration = scanGeneration;
        picture.decoderKind = state.decoderKind;
        picture.confidenceEnabled = state.confidenceEnabled;
        picture.indicatrixEnabled = state.indicatrixEnabled;
        picture.pointColor = state.pointColor;
        picture.textColor = state.textColor;
        picture.selectedAngle = state.selectedAngle;
        picture.selectedIndex = selectedIndex(state.selectedAngle);
        picture.status = statusLines(state);
    }
    return picture;
}

bool MapRenderer::render(const MapViewState &state)
{
    // The canvas follows the state's size even before anything resized it,
    // so that it can be drawn off screen.
    if (!canvasFits(state)) {
        canvas_ = blankCanvas(state.geometry.size(), state.devicePixelRatio);
        drawnValid = false;
    }
    const Frame f = frame(state);
    const PictureState picture = pictureState(state);
    if (drawnValid && picture == drawn)
        return false;

    const QRect whole(QPoint(0, 0), state.geometry.size());
    const GridKey grid = gridKey(f, state);
    const bool newGrid = !drawnValid || !(canvasGrid == grid);
    if (newGrid) {
        // A new grid: the whole picture is new, drawn straight into the
        // canvas. The grid layer, which only a redraw of the same grid
        // needs, follows when one comes; a pan or a zoom makes none.
        drawGridInto(canvas_, f, state);
        canvasGrid = grid;
        changed_ = QRegion(whole);
    } else {
        // The same grid: only where the last scan was drawn needs its grid
        // back, and the canvas keeps its memory.
        if (!(layerGrid == grid)) {
            drawGridInto(gridLayer, f, state);
            layerGrid = grid;
        }
        changed_ = overlay;
    }
    overlay = QRegion();
    if (!canvas_.isNull()) {
        // One painter for both: a redraw at Fir's rate is short enough for
        // beginning a painter to count.
        QPainter painter(&canvas_);
        if (!newGrid)
            restoreGrid(painter, changed_);
        if (picture.hasScan)
            overlay = drawScan(painter, f, state, picture) & whole;
    }
    changed_ |= overlay;
    drawn = picture;
    drawnValid = true;
    return true;
}

void MapRenderer::restoreGrid(QPainter &painter, const QRegion &area) const
{
    if (area.isEmpty() || !painter.isActive())
        return;
    // In the canvas's own pixels, so that a rectangle at a fractional ratio
    // is copied whole and nothing is scaled.
    painter.save();
    const qreal ratio = canvas_.devicePixelRatio();
    painter.setWorldTransform(QTransform::fromScale(1.0 / ratio, 1.0 / ratio));
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect &logical : area) {
        const QRect pixels = devicePixels(logical, ratio);
        painter.drawPixmap(pixels, gridLayer, pixels);
    }
    painter.restore();
}

QRect MapRenderer::devicePixels(const QRect &logical, qreal ratio)
{
    const QRectF scaled(logical.x() * ratio, logical.y() * ratio, logical.width() * ratio,
                        logical.height() * ratio);
    return scaled.toAlignedRect();
}

MapRenderer::GridKey MapRenderer::gridKey(const Frame &f, const MapViewState &state) const
{
    return {canvas_.size(), canvas_.devicePixelRatio(), f.geometry, state.scale,
            state.offset,   state.backgroundColor};
}

bool MapRenderer::GridKey::operator==(const GridKey &o) const
{
    return size == o.size && ratio == o.ratio && geometry == o.geometry && scale == o.scale &&
           offset == o.offset && background == o.background;
}

void MapRenderer::drawGridInto(QPixmap &target, const Frame &f, const MapViewState &state) const
{
    // The target's memory is kept while its size and kind stay; its kind is
    // that of a new pixmap filled with the background: opaque for an opaque
    // background. The target may be the canvas itself, so the canvas's size
    // and ratio are taken before it is made anew.
    const bool opaque = state.backgroundColor.alpha() == 255;
    const QSize size = canvas_.size();
    const qreal ratio = canvas_.devicePixelRatio();
    if (target.isNull() || target.size() != size || target.devicePixelRatio() != ratio ||
        target.hasAlphaChannel() == opaque) {
        target = QPixmap(size);
        target.setDevicePixelRatio(ratio);
    }
    target.fill(state.backgroundColor);
    if (target.isNull())
        return;
    onPoolThread([&] {
        QPainter painter(&target);
        if (!painter.isActive())
            return false;
        drawGrid(painter, f, state);
        return true;
    });
}

void MapRenderer::drawGrid(QPainter &painter, const Frame &f, const MapViewState &state) const
{
    const double scale = state.scale;
    painter.setRenderHint(QPainter::Antialiasing, true);
    enterDrawingFrame(painter, f, state);

    const int diameter = f.outerRingDiameter;
    const int half = diameter / 2;
    QPen pen(gridColor(state, 80));
    pen.setWidthF(1.0 / scale);
    // Above a ratio of 1 the grid is drawn with hairlines, one screen pixel
    // wide: a dotted ring in a wider pen is stroked dash by dash, which took
    // some 30 ms a grid at a ratio of 2, so every pan and zoom stuttered.
    if (state.devicePixelRatio > 1.0) {
        pen.setWidth(0);
        pen.setCosmetic(true);
    }
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
    pen.setColor(gridColor(state, 90));
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
    pen.setColor(gridColor(state, 200));
    painter.setPen(pen);
    painter.save();
    const int labelDistance = static_cast<int>(half * scale + 10);
    // Twelve labels, each in its own rotation. The font engine keeps the
    // glyphs of its last ten rotations, so drawing them in the same order
    // every time would render every glyph anew; every other grid goes the
    // other way round and finds ten of them kept. Each label keeps the very
    // transformation it had when they were drawn in one sweep.
    QTransform labelTransforms[12];
    for (QTransform &t : labelTransforms) {
        t = painter.transform();
        painter.rotate(30);
    }
    labelsBackwards = !labelsBackwards;
    for (int i = 0; i < 12; ++i) {
        const int k = labelsBackwards ? 11 - i : i;
        painter.setTransform(labelTransforms[k]);
        painter.drawText(labelDistance, 0, QString::number(30 * k));
    }
    painter.restore();
}

QRect MapRenderer::drawStatus(QPainter &painter, const MapViewState &state,
                              const QVector<StatusLine> &lines) const
{
    const int left = statusLeft(state);
    painter.setFont(statusFont);
    painter.setPen(state.textColor);
    QRect bounds;
    for (const StatusLine &line : lines) {
        const ShapedText &shaped = shapedStatusLine(painter, line.text);
        const QPointF origin(left, line.baseline);
        for (const QGlyphRun &run : shaped.runs)
            painter.drawGlyphRun(origin, run);
        bounds |= shaped.bounds.translated(left, line.baseline);
    }
    return bounds.adjusted(-textMargin, -textMargin, textMargin, textMargin);
}

// The status block shows a few lines that mostly repeat from one redraw to
// the next, up to 30 times a second; shaping them anew each time was most of
// the cost of drawing them. A line is laid out once, as the painter would lay
// it out, and its glyphs are kept with their positions from the baseline.
const MapRenderer::ShapedText &MapRenderer::shapedStatusLine(QPainter &painter,
                                                             const QString &text) const
{
    const int dpi = painter.device()->logicalDpiY();
    if (dpi != shapedDpi || shapedStatus.size() >= maxShapedLines) {
        shapedStatus.clear();
        shapedDpi = dpi;
    }
    auto found = shapedStatus.find(text);
    if (found != shapedStatus.end())
        return found.value();

    ShapedText shaped;
    QTextLayout layout(text, painter.font(), painter.device());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    shaped.runs = layout.glyphRuns();
    // Glyph positions are from the layout's top; the line is drawn on its
    // baseline.
    for (QGlyphRun &run : shaped.runs) {
        QVector<QPointF> positions = run.positions();
        for (QPointF &position : positions)
            position.ry() -= line.ascent();
        run.setPositions(positions);
    }
    shaped.bounds = painter.fontMetrics().boundingRect(text);
    return shapedStatus.insert(text, shaped).value();
}

QRegion MapRenderer::drawPoints(QPainter &painter, const Frame &f, const MapViewState &state)
{
    QPen pen(state.pointColor, 2.0 / state.scale, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    painter.setPen(pen);

    // Consecutive points of one opaque colour are drawn in one call; the
    // pixels are those of drawing them one by one. Translucent points are
    // drawn singly so that overlaps blend as they would one by one.
    pointBatch.clear();
    QColor batchColor = state.pointColor;
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

    // A point's pixels lie within penMargin of its place on the canvas, in
    // logical pixels.
    const qreal ratio = canvas_.devicePixelRatio();
    const QTransform toCanvas =
        painter.combinedTransform() * QTransform::fromScale(1.0 / ratio, 1.0 / ratio);
    const int columns = (f.width + pointTile - 1) / pointTile;
    const int rows = (f.height + pointTile - 1) / pointTile;
    pointTiles.assign(size_t(columns) * size_t(rows), false);
    const auto cover = [&](const QPointF &at) {
        // QTransform::map, without its dispatch on the kind of transformation.
        const double x = toCanvas.m11() * at.x() + toCanvas.m21() * at.y() + toCanvas.dx();
        const double y = toCanvas.m12() * at.x() + toCanvas.m22() * at.y() + toCanvas.dy();
        const double left = x - penMargin, right = x + penMargin;
        const double top = y - penMargin, bottom = y + penMargin;
        if (right < 0 || bottom < 0 || left >= f.width || top >= f.height)
            return;
        const int c0 = std::max(0, int(left) / pointTile);
        const int c1 = std::min(columns - 1, int(right) / pointTile);
        const int r0 = std::max(0, int(top) / pointTile);
        const int r1 = std::min(rows - 1, int(bottom) / pointTile);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c)
                pointTiles[size_t(r) * size_t(columns) + size_t(c)] = true;
    };

    for (const PointData &point : qAsConst(points)) {
        const QColor color = state.confidenceEnabled
                                 ? ConfidencePalette::colorFor(point.confidence, state.decoderKind)
                                 : state.pointColor;
        if (color != batchColor || color.alpha() != 255) {
            flush();
            batchColor = color;
        }
        const double length = drawingLength(plausible(point.distance), f.outerRingDiameter);
        const double theta = radians(point.angle);
        const QPointF at(length * std::cos(theta), -length * std::sin(theta));
        cover(at);
        pointBatch.append(at);
    }
    flush();

    // Runs of touched tiles, row by row: the bands a region is made of.
    tileRects.clear();
    for (int r = 0; r < rows; ++r) {
        const auto row = pointTiles.begin() + r * columns;
        for (int c = 0; c < columns;) {
            if (!row[c]) {
                ++c;
                continue;
            }
            const int first = c;
            while (c < columns && row[c])
                ++c;
            const QRect run(first * pointTile, r * pointTile, (c - first) * pointTile, pointTile);
            tileRects.append(run & QRect(0, 0, f.width, f.height));
        }
    }
    QRegion tiles;
    tiles.setRects(tileRects.constData(), tileRects.size());
    return tiles;
}

QRegion MapRenderer::drawScan(QPainter &painter, const Frame &f, const MapViewState &state,
                              const PictureState &picture)
{
    if (!painter.isActive())
        return QRegion();
    const QRectF reach =
        QRectF(0, 0, f.width, f.height)
            .adjusted(-4 * textMargin, -4 * textMargin, 4 * textMargin, 4 * textMargin);
    // What the current transformation draws inside `box`, in logical pixels
    // of the canvas, with a margin for pen width and antialiasing. The
    // painter's transformation ends in the canvas's own pixels.
    const qreal ratio = canvas_.devicePixelRatio();
    const auto onCanvas = [&painter, &reach, ratio](const QRectF &box, int margin) {
        const QRectF pixels = painter.combinedTransform().mapRect(box);
        const QRectF mapped = QRectF(pixels.x() / ratio, pixels.y() / ratio, pixels.width() / ratio,
                                     pixels.height() / ratio) &
                              reach;
        return mapped.isEmpty() ? QRect()
                                : mapped.toAlignedRect().adjusted(-margin, -margin, margin, margin);
    };

    QRegion drawnArea(drawStatus(painter, state, picture.status));

    enterDrawingFrame(painter, f, state);
    drawnArea |= drawPoints(painter, f, state);

    const double scale = state.scale;
    const PointData &picked = points.at(picture.selectedIndex);
    const double angle = isEndOfScanMarker(picked) ? state.selectedAngle : picked.angle;
    const double length = drawingLength(plausible(picked.distance), f.outerRingDiameter);
    const double theta = radians(angle);
    if (!state.indicatrixEnabled)
        return drawnArea;

    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen = painter.pen();
    pen.setStyle(Qt::DotLine);
    pen.setColor(gridColor(state, 255));
    painter.setPen(pen);
    const QPointF end(length * std::cos(theta), -length * std::sin(theta));
    painter.drawLine(end, QPointF(0, 0));
    drawnArea |= onCanvas(QRectF(end, QPointF(0, 0)).normalized(), penMargin);

    // Back to screen axes, origin still at the drawing origin.
    painter.scale(1.0 / scale, -1.0 / scale);
    painter.setFont(labelFont);
    pen.setColor(state.textColor);
    painter.setPen(pen);
    painter.rotate(90);
    const QPointF at(scale * length * std::sin(theta), -scale * length * std::cos(theta));
    const QString label = labelText(picked, state);
    painter.drawText(at, label);
    drawnArea |=
        onCanvas(painter.fontMetrics().boundingRect(label).translated(at.toPoint()), textMargin);
    return drawnArea;
}

// Copied in bands of a few rows of whole pixels: the raster engine splits a
// copy of more rows among the threads of its pool, and on a map redrawn up to
// 30 times a second waking those threads cost more than the copy itself.
void MapRenderer::paint(QPainter &painter, const QRegion &area) const
{
    const qreal ratio = canvas_.devicePixelRatio();
    for (const QRect &logical : area) {
        const QRect pixels = devicePixels(logical, ratio);
        for (int top = pixels.top(); top <= pixels.bottom(); top += paintBandRows) {
            const QRect band(pixels.left(), top, pixels.width(),
                             std::min(paintBandRows, pixels.bottom() + 1 - top));
            const QRectF target(band.x() / ratio, band.y() / ratio, band.width() / ratio,
                                band.height() / ratio);
            painter.drawPixmap(target, canvas_, band);
        }
    }
}

void MapRenderer::resetCanvas(const QSize &logicalSize, qreal ratio)
{
    canvas_ = blankCanvas(logicalSize, ratio);
    if (!canvas_.isNull())
        canvas_.fill(Qt::transparent);
    drawnValid = false;
}

// The canvas has the screen's resolution: the logical size times the device
// pixel ratio, so points, grid and text are sharp on a high-density screen.
// Painters on it work in logical pixels, so the layout, the status block and
// the picking are those of a ratio of 1.
QPixmap MapRenderer::blankCanvas(const QSize &logicalSize, qreal ratio)
{
    QPixmap pixmap(logicalSize * ratio);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

bool MapRenderer::canvasFits(const MapViewState &state) const
{
    const qreal ratio = state.devicePixelRatio;
    if (canvas_.size() != state.geometry.size() * ratio)
        return false;
    // A null pixmap keeps a ratio of 1; there is nothing to redraw.
    return canvas_.isNull() || canvas_.devicePixelRatio() == ratio;
}
