#include "mainwindow.h"

#include "appsetup.h"
#include "edition.h"
#include "limapview.h"
#include "lipkg.h"
#include "mainwindowform.h"
#include "modelrules.h"
#include "qtrnet.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopWidget>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <cmath>

namespace {

// Qt rounds halves away from zero; sizes are positive, so that is "halves up".
int roundHalfUp(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}

} // namespace

MainWindow::MainWindow(PortEnumerator ports)
    : QMainWindow(nullptr), ui(std::make_unique<MainWindowForm>()),
      settingsFile(QStringLiteral("Vantoscope.ini")), portEnumerator(std::move(ports))
{
    initApplicationResources();

    deviceBox = new QComboBox(this);
    deviceBox->setObjectName(QStringLiteral("deviceBox"));
    portBox = new QComboBox(this);
    portBox->setObjectName(QStringLiteral("portBox"));
    baudBox = new QComboBox(this);
    baudBox->setObjectName(QStringLiteral("baudBox"));
    serial = new QSerialPort(this);
    serial->setObjectName(QStringLiteral("serial"));
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));

    pkg = new LiPkg(this);
    pkg->setObjectName(QStringLiteral("pkg"));
    trNet = new QTRNet(serial);
    trNet->setObjectName(QStringLiteral("trNet"));
    debugPkg = new DebugPkg(serial);
    debugPkg->setObjectName(QStringLiteral("debugPkg"));
    mapView = new LiMapView(this);
    mapView->setObjectName(QStringLiteral("mapView"));

    ui->setupUi(this);
    menuBar()->hide();
    mapView->setPkg(pkg);
    mapView->setNet(trNet);
    setCentralWidget(mapView);
    // The earlier edition fills the device selector before the toolbar.
    if constexpr (Edition::classic)
        fillDeviceBox();

    portBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    buildToolBar();
    restoreWindowSettings();

    statusBar()->addWidget(statusLabel, 0);
    auto *versionLabel = new QLabel(QString::fromLatin1(Edition::versionText), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    statusBar()->addPermanentWidget(versionLabel, 0);

    fillPortBox();
    for (int rate : Edition::baudRates())
        baudBox->addItem(QString::number(rate), rate);
    if constexpr (Edition::full)
        fillDeviceBox();
    baudBox->setEnabled(false);

    connect(deviceBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { deviceChanged(deviceBox->itemText(index)); });
    connect(serial, &QSerialPort::errorOccurred, this, &MainWindow::handleError);
    connect(trNet, &QTRNet::mapReady, mapView, qOverload<QList<PointData>>(&LiMapView::updateMap));

    portTimer = new QTimer(this);
    portTimer->setObjectName(QStringLiteral("portTimer"));
    connect(portTimer, &QTimer::timeout, this, &MainWindow::refreshPorts);
    portTimer->start(1000);

    auto *escape = new QShortcut(QKeySequence(QStringLiteral("Esc")), this);
    escape->setObjectName(QStringLiteral("escapeShortcut"));
    connect(escape, &QShortcut::activated, this, &MainWindow::leaveFullScreen);
    connect(ui->actionFullScreen, &QAction::triggered, this, &MainWindow::enterFullScreen);

    connect(debugPkg, &DebugPkg::lidarInfoReady, this, &MainWindow::versionDisplay);

    deviceChanged(deviceBox->itemText(0));
}

MainWindow::~MainWindow()
{
    closing = true;
}

void MainWindow::buildToolBar()
{
    toolBar = addToolBar(tr("tool bar"));
    toolBar->setObjectName(QStringLiteral("ToolBar"));

    const std::pair<const char *, QComboBox *> selectors[] = {
        {QT_TR_NOOP("Device"), deviceBox},
        {QT_TR_NOOP("Port"), portBox},
        {QT_TR_NOOP("Baudrate"), baudBox},
    };
    for (const auto &[word, box] : selectors) {
        auto *label = new QLabel(tr(word) + QStringLiteral(" : "), toolBar);
        label->setObjectName(QString::fromLatin1(word).toLower() + QStringLiteral("Label"));
        toolBar->addWidget(label);
        toolBar->addWidget(box);
    }
    toolBar->addSeparator();
    toolBar->addAction(ui->actionStart);
    toolBar->addAction(ui->actionStop);
    toolBar->addAction(ui->actionFullScreen);
    toolBar->addAction(ui->actionHelp);

    connect(ui->actionExit, &QAction::triggered, this, &QWidget::close);
    connect(ui->actionStart, &QAction::triggered, this, &MainWindow::openSerialPort);
    connect(ui->actionStop, &QAction::triggered, this, &MainWindow::closeSerialPort);
    connect(ui->actionHelp, &QAction::triggered, this, &MainWindow::showHelp);
}

void MainWindow::fillDeviceBox()
{
    deviceBox->addItems(Edition::modelNames());
    setWindowTitle(QStringLiteral("Tarsel ") + deviceBox->currentText() + QStringLiteral(" Tool"));
}

// --- Port list -------------------------------------------------------------

void MainWindow::fillPortBox()
{
    portBox->addItems(bridgePortNames(portEnumerator()));
}

void MainWindow::refreshPorts()
{
    if (!portBox->isEnabled())
        return;
    const QStringList names = bridgePortNames(portEnumerator());
    if (names.isEmpty()) {
        portBox->clear();
        return;
    }
    for (int i = portBox->count() - 1; i >= 0; --i)
        if (!names.contains(portBox->itemText(i)))
            portBox->removeItem(i);
    for (const QString &name : names)
        if (portBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            portBox->addItem(name);
}

// --- Model choice ----------------------------------------------------------

void MainWindow::deviceChanged(const QString &name)
{
    const Edition::ModelChoice choice = Edition::modelChoice(name);
    decoderKind = choice.decoderKind;
    baudBox->setCurrentIndex(baudBox->findText(QString::number(choice.baudrate)));
    if (choice.modelType) {
        if constexpr (Edition::commandProtocolTakesTypeCode)
            trNet->setModelType(*choice.modelType);
        pkg->setModelType(*choice.modelType);
    }
    if (choice.filterVariant)
        pkg->setFilterVariant(*choice.filterVariant);
    if constexpr (Edition::classic)
        mapView->setModelName(name);
    else
        mapView->setDecoderKind(choice.decoderKind);
    mapView->resetView(true);
    mapView->setScale(Edition::mapScaleFor(choice.decoderKind));
    setWindowTitle(QStringLiteral("Tarsel ") + name + QStringLiteral(" Tool"));
}

// Whether the stream goes to QTRNet: the full edition remembers the kind of
// the model chosen last, the earlier edition reads the selector at the
// moment of use.
bool MainWindow::commandProtocolSelected() const
{
    if constexpr (Edition::classic)
        return Edition::usesCommandProtocol(
            Edition::modelChoice(deviceBox->currentText()).decoderKind);
    return Edition::usesCommandProtocol(decoderKind);
}

// --- Serial connection -----------------------------------------------------

void MainWindow::setStatus(const QString &text, Qt::GlobalColor color)
{
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    statusLabel->setPalette(palette);
    statusLabel->setText(text);
}

void MainWindow::setSelectorsEnabled(bool enabled)
{
    deviceBox->setEnabled(enabled);
    portBox->setEnabled(enabled);
    ui->actionStart->setEnabled(enabled);
}

void MainWindow::showTrNetError(const QString &message)
{
    QMessageBox::warning(this, tr("error"), message, QMessageBox::Ok);
}

void MainWindow::openSerialPort()
{
    if (serial->isOpen()) {
        disconnect(readConnection);
        serial->close();
    }
    const QString portName = portBox->currentText();
    const int speed = baudBox->currentData().toInt();
    serial->setPortName(portName);
    serial->setBaudRate(speed, QSerialPort::AllDirections);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);

    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::darkBlue, Qt::SolidPattern));
    statusLabel->setPalette(palette);

    if (!serial->open(QIODevice::ReadWrite)) {
        QMessageBox::critical(this, tr("Error"), serial->errorString(), QMessageBox::Ok);
        statusLabel->setText(tr("Open error"));
        return;
    }

    statusLabel->setText(tr("Connected to %1 : %2, %3, %4, %5, %6")
                             .arg(portName)
                             .arg(speed)
                             .arg(8)
                             .arg(0)
                             .arg(1)
                             .arg(0));
    serial->setDataTerminalReady(true);
    readConnection =
        connect(serial, &QSerialPort::readyRead, this, &MainWindow::readData, Qt::UniqueConnection);
    if (commandProtocolSelected()) {
        if (!trNetErrorConnection)
            trNetErrorConnection =
                connect(trNet, &QTRNet::errorMessage, this, &MainWindow::showTrNetError);
        trNet->startLidar();
    }
    // The handshake may have lost the device while it waited.
    if (!serial->isOpen())
        return;
    setSelectorsEnabled(false);
    debugPkg->sendRequest(127, 0);
}

void MainWindow::closeSerialPort()
{
    if (serial->isOpen()) {
        if (commandProtocolSelected())
            trNet->sendCommand(1, 15, 1);
        serial->close();
    }
    disconnect(readConnection);
    setStatus(tr("Disconnected"), Qt::darkRed);
    setSelectorsEnabled(true);
}

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    // A device that vanished while open shows up as a resource error, or on
    // Linux often as read errors at end-of-file that would repeat forever.
    const bool deviceLost = error == QSerialPort::ResourceError ||
                            (error == QSerialPort::ReadError && serial->isOpen());
    if (!deviceLost || closing)
        return;
    closeSerialPort();
    setStatus(tr("Disconnected"), Qt::darkRed);
    setSelectorsEnabled(true);
}

void MainWindow::readData()
{
    const QByteArray data = serial->readAll();
    debugPkg->pushData(data);
    if (commandProtocolSelected())
        trNet->pushData(data);
    else
        pkg->pushData(data);
}

void MainWindow::versionDisplay(LidarInfoTypedef lidarInfo)
{
    const uint32_t w0 = lidarInfo.firmwareVersion;
    const uint32_t w1 = lidarInfo.hardwareVersion;
    statusLabel->setText(QStringLiteral("v%1.%2.%3 hw:%4")
                             .arg(w0 >> 24)
                             .arg((w0 >> 16) & 0xFF)
                             .arg(w0 & 0xFFFF)
                             .arg(w1, 0, 16));
}

// --- Full screen -----------------------------------------------------------

void MainWindow::enterFullScreen()
{
    if (isFullScreen())
        return;
    setWindowState(windowState() ^ Qt::WindowFullScreen);
    statusBar()->hide();
    toolBar->hide();
    if (!serial->isOpen())
        mapView->setOffset(QPoint(0, 5));
}

void MainWindow::leaveFullScreen()
{
    if (!isFullScreen())
        return;
    setWindowState(windowState() ^ Qt::WindowFullScreen);
    statusBar()->show();
    toolBar->show();
    if (!serial->isOpen())
        mapView->setOffset(QPoint(40, 5));
}

// --- Settings and help -----------------------------------------------------

void MainWindow::restoreWindowSettings()
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    const QSize available = QApplication::desktop()->availableGeometry(this).size();
    const QSize quarter(roundHalfUp(available.width() * 0.25),
                        roundHalfUp(available.height() * 0.25));
    const QSize defaultSize(roundHalfUp(quarter.width() * 3.0),
                            roundHalfUp(quarter.height() * 3.0));
    resize(settings.value(QStringLiteral("Window/Size"), defaultSize).toSize());
    mapView->loadSettings(settings);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Window/Size"), size());
    mapView->saveSettings(settings);
    event->accept();
}

void MainWindow::showHelp()
{
    QMessageBox::about(
        this, tr("How to use"),
        QStringLiteral(
            "<ul>1. Install cp2102 driver "
            "<a href=\"https://www.silabs.com/developers/usb-to-uart-bridge-vcp-drivers\">"
            "https://www.silabs.com/developers/usb-to-uart-bridge-vcp-drivers</a>.</ul>"
            "<ul>2. Select specified device and port.</ul>"
            "<ul>3. Click <b>Start</b> button.</ul>"));
}
