#ifndef VANTOSCOPE_LIMAPVIEW_H
#define VANTOSCOPE_LIMAPVIEW_H

#include "editions/modelrules.h"
#include "points/pointdata.h"
#include "points/sensorscan.h"
#include "statusblock.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

class QSettings;
class QAction;
class QMenu;
class QPainter;
class QTimer;

// The central polar point map: draws the latest published scan, the grid
// and the status figures of the decoder in force into an off-screen canvas
// that a 33 ms timer refreshes; the paint event only copies that canvas. It
// only consumes: scans and figures come in as values, and the menu's
// decoder commands go out as signals.
//
// Centred positions (QPoint) are stored as (up, right): up = h/2 - y,
// right = x - w/2 of a widget position. The drawing offset uses the same
// order.
class LiMapView : public QWidget
{
    Q_OBJECT
public:
    explicit LiMapView(QWidget *parent = nullptr);
    ~LiMapView() override;

    // What the chosen model's scans mean for the view: which figures the
    // status block shows and how confidences are coloured.
    void setDecoderKind(Edition::DecoderKind kind);
    void setScale(double value);
    void setOffset(const QPoint &value);
    // Picks an angle (degrees) as a left click does.
    void setSelectedAngle(double angle);

    void loadSettings(QSettings &settings);
    void saveSettings(QSettings &settings) const;

    // Read-only state, for the main window's tests and for diagnostics.
    Edition::DecoderKind decoderKindValue() const { return decoderKind; }
    double scaleValue() const { return scale; }
    QPoint offsetValue() const { return offset; }
    double selectedAngleValue() const { return selectedAngle; }
    QColor pointColorValue() const { return pointColor; }
    QColor textColorValue() const { return textColor; }
    QColor backgroundColorValue() const { return backgroundColor; }
    bool confidenceEnabled() const { return confidenceEnable; }
    bool indicatrixEnabled() const { return indicatrixEnable; }
    // The points shown, as drawn: distances beyond the plausible range read 0.
    QList<PointData> scan() const;
    // The picture at the screen's resolution: its size is the view's times
    // its device pixel ratio, which is the view's.
    QImage canvasImage() const { return canvas.toImage(); }

    // One status line: its text and its baseline in the view's (logical) pixels.
    using StatusLine = StatusBlock::Line;
    // The status block as the next redraw draws it (when a scan is shown).
    QVector<StatusLine> statusLines() const;
    // Index in scan() of the point the indicatrix and the label show.
    int selectedIndex() const;
    // Text of the selected-point label as the next redraw draws it; empty
    // while the indicatrix is off or there is no scan.
    QString selectedPointLabel() const;
    // Left edge of the status block, in logical pixels.
    int statusLeft() const;
    // Position of the drawing origin in logical pixels, i.e. where a point
    // at distance 0 is drawn.
    QPoint drawingOrigin() const;

public slots:
    void replot();
    void resetView(bool unused = true);
    void setConfidenceEnable(bool enable);
    void setIndicatrixEnable(bool enable);

    // A scan as the session publishes it: its points are shown, its figures
    // are those of its decoder family from now on.
    void showScan(const SensorScan &scan);
    // Only the figures of a scan, for its family; the points shown stay.
    void showFigures(const SensorScan &scan);
    // The streaming decoder's speed and packet error count, which move
    // between scans (every frame, every damaged packet, a clear).
    void setStreamCounters(double speed, int errors);

signals:
    void doubleClicked();
    // The menu's decoder commands, for the window to pass on.
    void filterSwitched(bool enabled);
    void clearErrorRequested();

private slots:
    void setPointColor();
    void setTextColor();
    void setBackgroundColor();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Geometry of one redraw: the view's rectangle and the values derived
    // from it.
    struct Frame
    {
        QRect geometry;
        int width = 0;
        int height = 0;
        QPoint centre;
        int outerRingDiameter = 0; // the 10000 mm ring, in drawing units
    };
    // Everything the picture depends on; a tick whose state equals the
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
        bool confidenceEnable = false;
        bool indicatrixEnable = false;
        QColor pointColor;
        QColor textColor;
        double selectedAngle = 0.0;
        int selectedIndex = 0;
        QVector<StatusLine> status;
        bool operator==(const PictureState &o) const;
    };

    Frame frame() const;
    void enterDrawingFrame(QPainter &painter, const Frame &f) const;
    QColor gridColor(int alpha) const;
    PictureState pictureState(const Frame &f) const;
    void updateGridLayer(const Frame &f);
    void drawGrid(QPainter &painter, const Frame &f) const;
    void drawScan(const Frame &f, const PictureState &state);
    void drawStatus(QPainter &painter, const Frame &f, const QVector<StatusLine> &lines) const;
    int statusLeft(const Frame &f) const;
    void drawPoints(QPainter &painter, const Frame &f);
    SensorScan figuresInForce() const;
    QColor askColor(const QColor &current);
    QString labelText(const PointData &picked) const;
    void showMenu();
    QPoint centred(const QPoint &pos) const;
    QPixmap blankCanvas(const QSize &logicalSize) const;
    bool canvasFitsView() const;

    Edition::DecoderKind decoderKind = Edition::DecoderKind::Stream;
    bool confidenceEnable = false;
    bool indicatrixEnable = false;
    QColor pointColor{255, 255, 255, 255};
    QPixmap canvas;
    double scale = 1.9;
    QPoint pressPos{0, 0};
    QPoint releasePos{0, 0};
    QPoint offset{40, 5};
    double selectedAngle = 0.0;
    // Opaque black: the white points and grid would be lost on the light
    // window behind a transparent canvas.
    QColor backgroundColor{0, 0, 0, 255};
    QColor textColor{0, 255, 0, 255};
    QList<PointData> points;
    // The figures of the last scan of each decoder family (without points).
    SensorScan streamFigures;
    SensorScan frameFigures;
    QMenu *menu = nullptr;
    QAction *showConfidenceAction = nullptr;
    QAction *showIndicatrixAction = nullptr;
    QAction *backgroundColorAction = nullptr;
    QAction *textColorAction = nullptr;
    QAction *pointColorAction = nullptr;
    QAction *clearErrorAction = nullptr;
    QAction *showErrorAction = nullptr;
    QAction *enableFilterAction = nullptr;
    QTimer *replotTimer = nullptr;

    // Background plus grid, kept until size, zoom, offset or background
    // change.
    QPixmap gridLayer;
    QSize gridSize;
    qreal gridRatio = 0.0;
    QRect gridGeometry;
    double gridScale = 0.0;
    QPoint gridOffset;
    QColor gridBackground;
    bool gridValid = false;

    quint64 scanGeneration = 0;
    PictureState drawn;
    bool drawnValid = false;

    // Batch buffer for the points of one colour run.
    QVector<QPointF> pointBatch;

    // The context menu of a right click opens on the release, once it is
    // known that the click did not drag.
    bool rightButtonDown = false;
    bool menuPending = false;

    QFont gridFont;
    QFont statusFont;
    QFont labelFont;
};

#endif
