#ifndef VANTOSCOPE_MAINWINDOW_H
#define VANTOSCOPE_MAINWINDOW_H

#include "portenumerator.h"
#include "sensorsession.h"

#include <QMainWindow>
#include <QSerialPort>
#include <memory>

class QComboBox;
class QLabel;
class QTimer;
class QToolBar;
class LiMapView;
class PortWatch;
struct MainWindowForm;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `ports` lists the serial ports the system has; by default the real
    // ones, which are listed again when the device folders change. Any other
    // enumerator is asked every second.
    explicit MainWindow(PortEnumerator ports = {});
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void openSerialPort();
    void closeSerialPort();
    void deviceChanged(const QString &name);
    void refreshPorts();

private:
    void buildToolBar();
    void restoreWindowSettings();
    void fillPortBox();
    void fillDeviceBox();
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
    SensorSession *session = nullptr;
    QLabel *statusLabel = nullptr;
    LiMapView *mapView = nullptr;
    PortWatch *portWatch = nullptr;
    bool portsChangedWhileBusy = false;
    QToolBar *toolBar = nullptr;

    PortEnumerator portEnumerator;
};

#endif
