#ifndef VANTOSCOPE_MAINWINDOW_H
#define VANTOSCOPE_MAINWINDOW_H

#include "portenumerator.h"
#include "session/sensorsession.h"

#include <QMainWindow>
#include <QSerialPort>
#include <memory>

class QComboBox;
class QLabel;
class QTimer;
class QToolBar;
class LiMapView;
class PortWatch;
class CaptureRecorder;
class ReplayBar;
class ReplayController;
class Reconnector;
class BenchStation;
class BenchPanel;
class QDockWidget;
class VerdictBanner;
class ResultsKeeper;
class HistoryDialog;
class LiveBridge;
class McapExport;
struct WindowActions;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `ports` lists the serial ports the system has; by default the real
    // ones, which are listed again when the device folders change. Any other
    // enumerator is asked every second.
    explicit MainWindow(PortEnumerator ports = {});
    ~MainWindow() override;

    // Writes the scan on screen to `path`: the map picture when the name
    // ends in ".png" (any case), otherwise the points as CSV. A file that
    // cannot be written is reported in a box and changes nothing. True when
    // the file was written.
    bool saveScan(const QString &path);

    // For the tools that drive the window as a user would.
    // Chooses the model by its name in the selector; false when there is none.
    bool chooseModel(const QString &name);
    // Start as its button does; true when the port opened (or is opening).
    bool start();
    // Stop as its button does: closes the port or ends the replay.
    void stop();
    // The left of the status bar.
    QString statusText() const;
    bool replaying() const;
    // Where the station keeps its runs and the History dialog reads them:
    // Results/Database of the settings file, as --db takes it (empty: the
    // default SQLite file).
    QString resultsDatabase() const;
    // The bench station behind the Bench panel.
    BenchStation *benchStation() const { return station; }
    // Shows or hides the Bench panel, as its toolbar button does.
    void showBenchPanel(bool shown);
    // Opens the History dialog of the results history, as the panel's
    // History… button does.
    void showHistory();

    // Share live: serves the published scans to Foxglove WebSocket clients
    // on `address` ("[ADDRESS:]PORT", empty for 127.0.0.1:8765), as checking
    // the action does. A wrong address or a port in use is reported in a
    // box; false then.
    bool startSharing(const QString &address = QString());
    void stopSharing();
    // Export → MCAP of the capture replaying now, in the background; false
    // when nothing is replaying or an export is still running.
    bool exportMcap(const QString &path);

public slots:
    // Takes a capture to replay: from the file dialog, a dropped file or the
    // command line. A path that is missing or unreadable is reported in a
    // box; a readable file is handed on as captureChosen.
    void openCapture(const QString &path);

signals:
    void captureChosen(const QString &path);
    // Every scan the session publishes, live or replayed.
    void scanPublished(const SensorScan &scan);
    // The map drew a new picture (a new scan or a changed view).
    void mapRedrawn();
    // The map put a picture on screen.
    void mapPainted();
    // An Export → MCAP finished; `error` is empty when it succeeded.
    void mcapExported(const QString &path, int scans, const QString &error);

protected:
    void closeEvent(QCloseEvent *event) override;
    QMenu *createPopupMenu() override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void openSerialPort();
    void closeSerialPort();
    void deviceChanged(const QString &name);
    void refreshPorts();
    void chooseSaveFile();
    void chooseCapture();

private:
    void buildToolBar();
    void wireMapView();
    void wireSharing();
    void passStreamCounters();
    void restoreWindowSettings();
    void fillPortBox();
    void fillDeviceBox();
    void enterFullScreen();
    void leaveFullScreen();
    void showHelp();
    void showTrNetError(const QString &message);
    void setStatus(const QString &text, Qt::GlobalColor color);
    void setSelectorsEnabled(bool enabled);
    void sessionStateChanged(SensorSession::State state, const QString &text);
    void recordToggled(bool on);
    void startRecording();
    void stopRecording();
    void recordingFailed(const QString &path, const QString &reason);
    QString captureFolder() const;
    void replayCapture(const QString &path);
    void replayEnded();
    void setMapFrozen(bool frozen);
    void buildBenchStation();
    void shareToggled(bool on);
    void showShareStatus();
    void chooseMcapFile();

    std::unique_ptr<WindowActions> windowActions;
    QString settingsFile;
    QComboBox *deviceBox = nullptr;
    QComboBox *portBox = nullptr;
    QComboBox *baudBox = nullptr;
    SensorSession *session = nullptr;
    QLabel *statusLabel = nullptr;
    LiMapView *mapView = nullptr;
    PortWatch *portWatch = nullptr;
    bool portsChangedWhileBusy = false;
    QToolBar *toolBar = nullptr;
    ReplayBar *replayBar = nullptr;
    CaptureRecorder *recorder = nullptr;
    QLabel *recordLabel = nullptr;
    ReplayController *replayer = nullptr;
    Reconnector *reconnector = nullptr;
    BenchStation *station = nullptr;
    BenchPanel *benchPanel = nullptr;
    QDockWidget *benchDock = nullptr;
    VerdictBanner *banner = nullptr;
    ResultsKeeper *resultsKeeper = nullptr;
    HistoryDialog *history = nullptr;
    LiveBridge *bridge = nullptr;
    QLabel *shareLabel = nullptr;
    QString shareAddress;
    McapExport *mcapExport = nullptr;
    QString replayPath;

    PortEnumerator portEnumerator;
};

#endif
