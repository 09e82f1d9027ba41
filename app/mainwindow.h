#ifndef VANTOSCOPE_MAINWINDOW_H
#define VANTOSCOPE_MAINWINDOW_H

#include "debugpkg.h"
#include "portenumerator.h"

#include <QMainWindow>
#include <QSerialPort>
#include <memory>

class QComboBox;
class QLabel;
class QTimer;
class QToolBar;
class LiPkg;
class LiMapView;
class QTRNet;
struct MainWindowForm;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `ports` lists the serial ports the system has; by default the real ones.
    explicit MainWindow(PortEnumerator ports = systemPorts);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void readData();
    void openSerialPort();
    void closeSerialPort();
    void handleError(QSerialPort::SerialPortError error);
    void deviceChanged(const QString &name);
    void versionDisplay(LidarInfoTypedef lidarInfo);
    void refreshPorts();

private:
    void buildToolBar();
    void restoreWindowSettings();
    void fillPortBox();
    void fillDeviceBox();
    bool commandProtocolSelected() const;
    void enterFullScreen();
    void leaveFullScreen();
    void showHelp();
    void showTrNetError(const QString &message);
    void setStatus(const QString &text, Qt::GlobalColor color);
    void setSelectorsEnabled(bool enabled);

    std::unique_ptr<MainWindowForm> ui;
    QString settingsFile;
    QComboBox *deviceBox = nullptr;
    QComboBox *portBox = nullptr;
    QComboBox *baudBox = nullptr;
    QSerialPort *serial = nullptr;
    QLabel *statusLabel = nullptr;
    LiPkg *pkg = nullptr;
    QTRNet *trNet = nullptr;
    DebugPkg *debugPkg = nullptr;
    LiMapView *mapView = nullptr;
    QTimer *portTimer = nullptr;
    QToolBar *toolBar = nullptr;
    // Decoder kind of the model chosen last (see Edition::ModelChoice); the
    // earlier edition decides by the selector's text instead.
    int decoderKind = 0;

    PortEnumerator portEnumerator;
    QMetaObject::Connection readConnection;
    QMetaObject::Connection trNetErrorConnection;
    bool closing = false;
};

#endif
