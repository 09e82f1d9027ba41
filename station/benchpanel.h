#ifndef VANTOSCOPE_STATION_BENCHPANEL_H
#define VANTOSCOPE_STATION_BENCHPANEL_H

#include "check/livehealth.h"
#include "stationrun.h"

#include <QWidget>

class BenchStation;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// The Bench panel: the unit under test, who tests it and against what, the
// Check and Cancel buttons with the run's progress, the stream's live health
// and today's units. Everything it does goes through the station.
class BenchPanel : public QWidget
{
    Q_OBJECT
public:
    explicit BenchPanel(BenchStation *station, QWidget *parent = nullptr);

    // Focuses the unit field with its text selected, so that the next
    // scanned label replaces it.
    void focusUnit();
    // Shows the station's settings in the fields.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void check();
    void phaseChanged();
    void showProgress(double elapsed, double total);
    void showMessage(const QString &text, bool problem);
    void showHealth(const QVector<HealthFigure> &figures);
    void showToday();
    void profileChosen(int index);
    void showSettings();
    void fillProfiles();

    BenchStation *station;
    QLineEdit *unitEdit;
    QLineEdit *operatorEdit;
    QLineEdit *lotEdit;
    QComboBox *profileBox;
    QDoubleSpinBox *durationBox;
    QCheckBox *soundBox;
    QPushButton *checkButton;
    QPushButton *cancelButton;
    QProgressBar *progressBar;
    QLabel *messageLabel;
    QVector<QLabel *> healthValues;
    QVector<QLabel *> healthNames;
    QLabel *summaryLabel;
    QTreeWidget *todayList;
    QPushButton *historyButton;
};

#endif
