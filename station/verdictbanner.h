#ifndef VANTOSCOPE_STATION_VERDICTBANNER_H
#define VANTOSCOPE_STATION_VERDICTBANNER_H

#include "stationrun.h"

#include <QStringList>
#include <QWidget>

// The verdict over the top of the map, to be read from across the bench:
// PASS on green, or FAIL on red with each failed check (name, value and
// limit). At least a quarter of the map's height; taller when the failed
// checks need it. The map under it stays live and takes the mouse.
class VerdictBanner : public QWidget
{
    Q_OBJECT
public:
    explicit VerdictBanner(QWidget *parent = nullptr);

    // Lies over the top of `map` from now on, following its size.
    void attachTo(QWidget *map);
    void showVerdict(const StationRun &run);
    void clearVerdict();

    bool passed() const { return pass; }
    // The lines under the verdict: the unit and attempt, then one line per
    // failed check (its name, a tab, its value and limit).
    QStringList lines() const { return detail; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void place();
    int wordPixels() const;
    int detailPixels() const;
    QFont wordFont() const;
    QFont detailFont() const;

    bool pass = true;
    QStringList detail;
};

#endif
