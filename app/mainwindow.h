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
class ReplayEngine;
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

public slots:
    // Takes a capture to replay: from the file dialog, a dropped file or the
    // command line. A path that is missing or unreadable is reported in a
    // box; a readable file is handed on as captureChosen.
    void openCapture(const QString &path);

signals:
    void captureChosen(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
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
    void endReplay();
    void setMapFrozen(bool frozen);

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
    ReplayEngine *replay = nullptr;
    double replaySpeed = 1.0;
    bool replayLoops = false;
    bool mapFrozen = false;
    // The last scan the session published of each decoder family.
    SensorScan lastStreamScan;
    SensorScan lastFrameScan;

    PortEnumerator portEnumerator;
};

#endif
