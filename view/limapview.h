#ifndef VANTOSCOPE_LIMAPVIEW_H
#define VANTOSCOPE_LIMAPVIEW_H

#include "editions/modelrules.h"
#include "points/pointdata.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>
#include <array>

class LiPkg;
class QTRNet;
class QSettings;
class QAction;
class QMenu;
class QPainter;
class QTimer;

// The central polar point map: draws the latest scan, the grid and the
// status figures of the selected decoder into an off-screen canvas that a
// 33 ms timer refreshes; the paint event only copies that canvas.
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

    void setPkg(LiPkg *value);
    void setNet(QTRNet *value);
    // What the scan's model means for the view: the full edition's window
    // gives the decoder kind, the earlier edition's the model name.
    void setDecoderKind(Edition::DecoderKind kind);
    void setModelName(const QString &name);
    void setScale(double value);
    void setOffset(const QPoint &value);
    // Picks an angle (degrees) as a left click does.
    void setSelectedAngle(double angle);

    void loadSettings(QSettings &settings);
    void saveSettings(QSettings &settings) const;

    // Read-only state, for the main window's tests and for diagnostics.
    Edition::DecoderKind decoderKindValue() const { return decoderKind; }
    QString modelNameValue() const { return modelName; }
    double scaleValue() const { return scale; }
    QPoint offsetValue() const { return offset; }
    double selectedAngleValue() const { return selectedAngle; }
    QColor pointColorValue() const { return pointColor; }
    QColor textColorValue() const { return textColor; }
    QColor backgroundColorValue() const { return backgroundColor; }
    bool confidenceEnabled() const { return confidenceEnable; }
    bool indicatrixEnabled() const { return indicatrixEnable; }
    QList<PointData> scan() const { return points; }
    QImage canvasImage() const { return canvas.toImage(); }

    // One status line: its text and its baseline in canvas pixels.
    struct StatusLine
    {
        QString text;
        int baseline = 0;
        bool operator==(const StatusLine &o) const
        {
            return baseline == o.baseline && text == o.text;
        }
    };
    // The status block as the next redraw draws it (when a scan is shown).
    QVector<StatusLine> statusLines() const;
    // Text of the selected-point label as the next redraw draws it; empty
    // while the indicatrix is off or there is no scan.
    QString selectedPointLabel() const;
    // Left edge of the status block, in canvas pixels.
    int statusLeft() const;
    // Canvas position of the drawing origin, i.e. where a point at
    // distance 0 is drawn.
    QPoint drawingOrigin() const;

    static QColor intensityColor(int confidence);

public slots:
    void replot();
    void resetView(bool unused = true);
    void setConfidenceEnable(bool enable);
    void setIndicatrixEnable(bool enable);

    void updateMap();
    void updateMap(QList<PointData> map);

signals:
    void doubleClicked();

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
    bool usesNetSource() const;
    int selectedIndex() const;
    QColor confidenceColor(uint8_t confidence) const;
    QColor gridColor(int alpha) const;
    PictureState pictureState(const Frame &f) const;
    void updateGridLayer(const Frame &f);
    void drawGrid(QPainter &painter, const Frame &f) const;
    void drawScan(const Frame &f, const PictureState &state);
    void drawStatus(QPainter &painter, const Frame &f, const QVector<StatusLine> &lines) const;
    int statusLeft(const Frame &f) const;
    void drawPoints(QPainter &painter, const Frame &f);
    QColor askColor(const QColor &current);
    QString labelText(const PointData &picked) const;
    void showMenu();
    QPoint centred(const QPoint &pos) const;

    Edition::DecoderKind decoderKind = Edition::DecoderKind::Stream;
    QString modelName;
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
    QPointer<LiPkg> pkg;
    QPointer<QTRNet> trNet;
    QList<PointData> points;
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
