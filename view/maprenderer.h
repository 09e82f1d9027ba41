#ifndef VANTOSCOPE_MAPRENDERER_H
#define VANTOSCOPE_MAPRENDERER_H

#include "editions/modelrules.h"
#include "points/pointdata.h"
#include "points/sensorscan.h"
#include "statusblock.h"

#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QVector>

#include <vector>

class QPainter;

// How the map is looked at: everything the picture depends on besides the
// scan. The defaults are those of a new map view.
//
// Centred positions (QPoint) are stored as (up, right): up = h/2 - y,
// right = x - w/2 of a view position. The drawing offset uses the same
// order.
struct MapViewState
{
    static constexpr double defaultScale = 1.9;
    static QPoint defaultOffset() { return QPoint(40, 5); }

    // The view's rectangle in its parent's coordinates (a view placed below
    // a tool bar draws its origin that much lower); its size is the canvas's
    // in logical pixels.
    QRect geometry;
    qreal devicePixelRatio = 1.0;
    double scale = defaultScale;
    QPoint offset = defaultOffset();
    // The picked angle, in degrees.
    double selectedAngle = 0.0;
    QColor pointColor{255, 255, 255, 255};
    QColor textColor{0, 255, 0, 255};
    // Opaque black: the white points and grid would be lost on the light
    // window behind a transparent canvas.
    QColor backgroundColor{0, 0, 0, 255};
    Edition::DecoderKind decoderKind = Edition::DecoderKind::Stream;
    bool confidenceEnabled = false;
    bool indicatrixEnabled = false;
    bool errorShown = false;
};

// Draws the polar point map (the grid, the latest scan and the status block
// of the decoder in force) into a canvas at the state's device pixel ratio.
// No widget: it keeps the scan it was given and redraws when the scan or the
// state changed since the last picture.
class MapRenderer
{
public:
    using StatusLine = StatusBlock::Line;

    MapRenderer();

    // A scan as the session publishes it: its points are drawn, its figures
    // are those of its decoder family from now on.
    void showScan(const SensorScan &scan);
    // Only the figures of a scan, for its family; the points drawn stay.
    void showFigures(const SensorScan &scan);
    // The streaming decoder's speed and packet error count, which move
    // between scans; false when they are those already shown.
    bool setStreamCounters(double speed, int errors);

    // The points drawn: distances beyond the plausible range read 0.
    PointList scan() const;
    bool hasScan() const { return !points.isEmpty(); }

    // The status block as the next picture draws it (when a scan is shown).
    QVector<StatusLine> statusLines(const MapViewState &state) const;
    // Index in scan() of the point the indicatrix and the label show.
    int selectedIndex(double selectedAngle) const;
    // Text of the selected-point label as the next picture draws it; empty
    // while the indicatrix is off or there is no scan.
    QString selectedPointLabel(const MapViewState &state) const;
    // Left edge of the status block, in logical pixels.
    static int statusLeft(const MapViewState &state);
    // Where a point at distance 0 is drawn, in logical pixels.
    static QPoint drawingOrigin(const MapViewState &state);

    // A blank (transparent) canvas of this logical size and ratio, drawn
    // over on the next render.
    void resetCanvas(const QSize &logicalSize, qreal ratio);
    // Whether the canvas holds a picture at the state's size and ratio.
    bool hasPicture(const MapViewState &state) const { return drawnValid && canvasFits(state); }
    // Brings the canvas up to date with the scan and `state`; false when
    // nothing changed since the last picture, which is then kept.
    bool render(const MapViewState &state);
    const QPixmap &canvas() const { return canvas_; }
    // The picture at the canvas's resolution: the logical size times the
    // device pixel ratio.
    QImage image() const { return canvas_.toImage(); }
    // Where the last render that drew changed the picture, in logical
    // pixels: all of it after a new grid, else where the previous and the
    // new scan, status block and label are.
    const QRegion &changedArea() const { return changed_; }
    // Copies `area` (logical pixels) of the canvas onto `painter`, whose
    // origin is the canvas's.
    void paint(QPainter &painter, const QRegion &area) const;

private:
    // Geometry of one picture: the view's rectangle and the values derived
    // from it.
    struct Frame
    {
        QRect geometry;
        int width = 0;
        int height = 0;
        QPoint centre;
        int outerRingDiameter = 0; // the 10000 mm ring, in drawing units
    };
    // Everything the picture depends on; a render whose state equals the
    // previous one draws nothing.
    struct PictureState
    {
        QSize canvasSize;
        QRect geometry;
        double scale = 0.0;
        QPoint offset;
        QColor backgroundColor;
        quint64 scanGeneration = 0;
        bool hasScan = false;
        Edition::DecoderKind decoderKind = Edition::DecoderKind::CommandProtocol;
        bool confidenceEnabled = false;
        bool indicatrixEnabled = false;
        QColor pointColor;
        QColor textColor;
        double selectedAngle = 0.0;
        int selectedIndex = 0;
        QVector<StatusLine> status;
        bool operator==(const PictureState &o) const;
    };
    // What a grid depends on.
    struct GridKey
    {
        QSize size;
        qreal ratio = 0.0;
        QRect geometry;
        double scale = 0.0;
        QPoint offset;
        QColor background;
        bool operator==(const GridKey &o) const;
    };

    static Frame frame(const MapViewState &state);
    static void enterDrawingFrame(QPainter &painter, const Frame &f, const MapViewState &state);
    static QColor gridColor(const MapViewState &state, int alpha);
    PictureState pictureState(const MapViewState &state) const;
    GridKey gridKey(const Frame &f, const MapViewState &state) const;
    // Background and grid into `target`, made anew only when its size or
    // kind does not fit.
    void drawGridInto(QPixmap &target, const Frame &f, const MapViewState &state) const;
    void restoreGrid(QPainter &painter, const QRegion &area) const;
    static QRect devicePixels(const QRect &logical, qreal ratio);
    void drawGrid(QPainter &painter, const Frame &f, const MapViewState &state) const;
    // Each returns where it drew, in logical pixels of the canvas.
    QRegion drawScan(QPainter &painter, const Frame &f, const MapViewState &state,
                     const PictureState &picture);
    QRect drawStatus(QPainter &painter, const MapViewState &state,
                     const QVector<StatusLine> &lines) const;
    // A line of text in the painter's font, shaped: its glyphs placed from
    // the start of its baseline, and its bounding box there.
    struct ShapedText
    {
        QList<QGlyphRun> runs;
        QRect bounds;
    };
    const ShapedText &shapedStatusLine(QPainter &painter, const QString &text) const;
    // Draws the points; returns the tiles of the canvas they touch.
    QRegion drawPoints(QPainter &painter, const Frame &f, const MapViewState &state);
    SensorScan figuresInForce(Edition::DecoderKind kind) const;
    static QString labelText(const PointData &picked, const MapViewState &state);
    static QPixmap blankCanvas(const QSize &logicalSize, qreal ratio);
    bool canvasFits(const MapViewState &state) const;

    // Kept from scan to scan: a new scan puts the grid back where the last
    // one was drawn (`overlay`) and draws over it.
    QPixmap canvas_;
    QRegion overlay;
    QRegion changed_;
    PointList points;
    // The figures of the last scan of each decoder family (without points).
    SensorScan streamFigures;
    SensorScan frameFigures;
    quint64 scanGeneration = 0;
    PictureState drawn;
    bool drawnValid = false;

    // Background plus grid of the same grid as the canvas, for putting the
    // grid back under a scan; drawn when a redraw with an unchanged grid
    // first needs it.
    QPixmap gridLayer;
    GridKey canvasGrid;
    GridKey layerGrid;

    // Batch buffer for the points of one colour run.
    QVector<QPointF> pointBatch;
    // Which tiles of the canvas the points drawn touch, row by row, and the
    // region they make.
    std::vector<bool> pointTiles;
    QVector<QRect> tileRects;

    // The order the grid's angle labels were last drawn in.
    mutable bool labelsBackwards = false;

    // Status lines as shaped in the status font, for the resolution they
    // were shaped at; emptied when full, as their figures wander.
    static constexpr int maxShapedLines = 256;
    mutable QHash<QString, ShapedText> shapedStatus;
    mutable int shapedDpi = 0;

    QFont gridFont;
    QFont statusFont;
    QFont labelFont;
};

#endif
