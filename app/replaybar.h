#ifndef VANTOSCOPE_REPLAYBAR_H
#define VANTOSCOPE_REPLAYBAR_H

#include <QToolBar>

class QAction;
class QComboBox;
class QLabel;
class QSlider;

// The controls of a capture replay. The bar only reports what the user asks
// for; whoever runs the replay reports back through the setters, which never
// echo a request. Its shortcuts (Space plays or pauses, Right steps) work
// only while the bar is shown.
class ReplayBar : public QToolBar
{
    Q_OBJECT
public:
    explicit ReplayBar(QWidget *parent = nullptr);

    // Speed factors of the selector, slowest first; 0 replays as fast as
    // the scans can be decoded.
    static QList<double> speeds();
    // A replay time as minutes, seconds and tenths ("02:05.3").
    static QString timeText(qint64 ns);

    void setDuration(qint64 ns);
    void setPosition(qint64 ns);
    void setPlaying(bool playing);

    qint64 duration() const { return durationNs; }
    qint64 position() const { return positionNs; }
    bool playing() const;

signals:
    void playToggled(bool playing);
    void stepRequested();
    void speedChanged(double factor);
    void loopChanged(bool loop);
    void seekRequested(qint64 ns);
    void endRequested();

private:
    void showPlaying(bool playing);
    void showPosition(qint64 ns);
    void sliderChanged(int value);

    QAction *playAction;
    QAction *stepAction;
    QComboBox *speedBox;
    QAction *loopAction;
    QLabel *elapsedLabel;
    QSlider *positionSlider;
    QLabel *totalLabel;
    QAction *endAction;
    qint64 durationNs = 0;
    qint64 positionNs = 0;
};

#endif
