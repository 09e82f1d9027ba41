#ifndef VANTOSCOPE_HISTORY_HISTORYDIALOG_H
#define VANTOSCOPE_HISTORY_HISTORYDIALOG_H

#include "results/resultsclient.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The runs of the results history, newest first, with the filters of
// vantoscope-results (lot, unit, since, verdict). Opens the selected run's
// HTML report with the desktop's browser, and asks for its capture to be
// replayed (replayRequested) when it has one. The database is read on a
// thread of its own: a shared server that is gone shows as a message, not
// a frozen window.
class HistoryDialog : public QDialog
{
    Q_OBJECT
public:
    // `database` as --db and Results/Database take it; empty: the default
    // SQLite file.
    explicit HistoryDialog(const QString &database, QWidget *parent = nullptr);

    // The runs shown, in the table's order.
    const QVector<RunRecord> &runs() const { return shown; }

public slots:
    // Reads the runs again with the filters as they are.
    void refresh();

signals:
    // The user asked to replay the capture at `path`; the dialog closes.
    void replayRequested(const QString &path);

private:
    void showRuns(int request, const QString &error);
    void selectionChanged();
    const RunRecord *selectedRun() const;
    void openReport();
    void replay();

    ResultsClient client;
    QLineEdit *lot;
    QLineEdit *unit;
    QCheckBox *sinceEnabled;
    QDateEdit *since;
    QComboBox *verdict;
    QTableWidget *table;
    QPushButton *openButton;
    QPushButton *replayButton;
    QLabel *status;
    QVector<RunRecord> shown;
    int pending = 0;
};

#endif
