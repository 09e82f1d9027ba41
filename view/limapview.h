#ifndef VANTOSCOPE_LIMAPVIEW_H
#define VANTOSCOPE_LIMAPVIEW_H

#include "editions/modelrules.h"
#include "maprenderer.h"
#include "points/pointdata.h"
#include "points/sensorscan.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

class QSettings;
class QAction;
class QMenu;
class QTimer;

// The central polar point map as a widget: a MapRenderer draws the latest
// published scan into its canvas when something changed, at most once per
// 33 ms, and the paint event copies the part of that canvas that changed; the widget holds how the
// map is looked at and turns mouse, wheel and menu into changes of it. It only consumes: scans and
// figures come in as values, and the menu's decoder commands go out as
// signals.
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

    Edition::DecoderKind decoderKind() const { return state.decoderKind; }
    double scale() const { return state.scale; }
    QPoint offset() const { return state.offset; }
    double selectedAngle() const { return state.selectedAngle; }
    QColor pointColor() const { return state.pointColor; }
    QColor textColor() const { return state.textColor; }
    QColor backgroundColor() const { return state.backgroundColor; }
    bool confidenceEnabled() const { return state.confidenceEnabled; }
    bool indicatrixEnabled() const { return state.indicatrixEnabled; }
    bool isFrozen() const { return frozen_; }
    // The state the next redraw draws: the above with the view's place and
    // device pixel ratio.
    MapViewState viewState() const;

    // The points shown, as drawn: distances beyond the plausible range read 0.
    PointList scan() const { return renderer.scan(); }
    // The picture at the screen's resolution: its size is the view's times
    // its device pixel ratio, which is the view's.
    QImage canvasImage() const { return renderer.image(); }

    using StatusLine = MapRenderer::StatusLine;
    // The status block as the next redraw draws it (when a scan is shown).
    QVector<StatusLine> statusLines() const { return renderer.statusLines(state); }
    // Index in scan() of the point the indicatrix and the label show.
    int selectedIndex() const { return renderer.selectedIndex(state.selectedAngle); }
    // Text of the selected-point label as the next redraw draws it; empty
    // while the indicatrix is off or there is no scan.
    QString selectedPointLabel() const { return renderer.selectedPointLabel(state); }
    // Left edge of the status block, in logical pixels.
    int statusLeft() const { return MapRenderer::statusLeft(viewState()); }
    // Position of the drawing origin in logical pixels, i.e. where a point
    // at distance 0 is drawn.
    QPoint drawingOrigin() const { return MapRenderer::drawingOrigin(viewState()); }

    // The clock the redraws are spaced by (milliseconds, monotonic); for
    // tests.
    void setClock(std::function<qint64()> msecs);

public slots:
    void replot();
    void resetView(bool unused = true);
    void setConfidenceEnabled(bool enabled);
    void setIndicatrixEnabled(bool enabled);

    // A scan as the session publishes it: its points are shown (unless the
    // view is frozen), its figures are those of its decoder family from now on.
    void showScan(const SensorScan &scan);
    // While frozen the points shown stay; scans change only the figures.
    void setFrozen(bool frozen) { frozen_ = frozen; }
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
    // A replot drew a new picture into the canvas (a changed scan or state).
    void redrawn();
    // A paint event put (part of) the canvas on screen.
    void painted();

private slots:
    void choosePointColor();
    void chooseTextColor();
    void chooseBackgroundColor();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QColor askColor(const QColor &current);
    void showMenu();
    QPoint centred(const QPoint &pos) const;
    // A redraw as soon as the interval since the last one allows.
    void scheduleRedraw();
    void tick();
    // The latest picture into the canvas; what a paint under way covers
    // (painting) is not asked to be painted again.
    void redraw(const QRegion &painting);

    MapViewState state;
    MapRenderer renderer;
    QPoint pressPos{0, 0};
    QPoint releasePos{0, 0};
    QMenu *menu = nullptr;
    QAction *showConfidenceAction = nullptr;
    QAction *showIndicatrixAction = nullptr;
    QAction *backgroundColorAction = nullptr;
    QAction *textColorAction = nullptr;
    QAction *pointColorAction = nullptr;
    QAction *clearErrorAction = nullptr;
    QAction *showErrorAction = nullptr;
    QAction *enableFilterAction = nullptr;
    QTimer *redrawTimer = nullptr;
    std::function<qint64()> clock;
    qint64 lastRedraw;
    bool changed = false;
    bool redrawQueued = false;
    bool frozen_ = false;

    // The context menu of a right click opens on the release, once it is
    // known that the click did not drag.
    bool rightButtonDown = false;
    bool menuPending = false;
};

#endif
