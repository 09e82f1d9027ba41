#include "mainwindow.h"

#include "appsetup.h"
#include "edition.h"
#include "limapview.h"
#include "lipkg.h"
#include "mainwindowform.h"
#include "modelrules.h"
#include "portwatch.h"
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
      settingsFile(QStringLiteral("Vantoscope.ini")),
      portEnumerator(ports ? ports : PortEnumerator(systemPorts))
{
    const bool watchingSystemPorts = !ports;
    initApplicationResources();

    deviceBox = new QComboBox(this);
    deviceBox->setObjectName(QStringLiteral("deviceBox"));
    portBox = new QComboBox(this);
    portBox->setObjectName(QStringLiteral("portBox"));
    baudBox = new QComboBox(this);
    baudBox->setObjectName(QStringLiteral("baudBox"));
    session = new SensorSession(this);
    session->setObjectName(QStringLiteral("session"));
    // The earlier edition reads the selector whenever it routes, starts or stops.
    session->setSelectionProvider([this] { return deviceBox->currentText(); });
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));

    mapView = new LiMapView(this);
    mapView->setObjectName(QStringLiteral("mapView"));

    ui->setupUi(this);
    menuBar()->hide();
    mapView->setPkg(session->liPkg());
    mapView->setNet(session->qtrNet());
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
    connect(session->qtrNet(), &QTRNet::mapReady, mapView,
            qOverload<QList<PointData>>(&LiMapView::updateMap));
    connect(session, &SensorSession::stateChanged, this,
            [this](SensorSession::State state, const QString &text) {
                setStatus(text,
                          state == SensorSession::State::Disconnected ? Qt::darkRed : Qt::darkBlue);
                if (state == SensorSession::State::Disconnected)
                    setSelectorsEnabled(true);
            });
    connect(session, &SensorSession::openFailed, this, [this](const QString &error) {
        QMessageBox::critical(this, tr("Error"), error, QMessageBox::Ok);
    });
    connect(session, &SensorSession::handshakeFailed, this, &MainWindow::showTrNetError);
    connect(session, &SensorSession::versionText, statusLabel, &QLabel::setText);

    // The system's ports are listed again when their folders change; any
    // other enumerator cannot be watched and is asked every second.
    const QStringList watched =
        watchingSystemPorts
            ? PortWatch::deviceFolders(qEnvironmentVariable("VANTOSCOPE_EXTRA_PORTS"))
            : QStringList();
    portWatch = new PortWatch(watched, this);
    portWatch->setObjectName(QStringLiteral("portWatch"));
    connect(portWatch, &PortWatch::mayHaveChanged, this, &MainWindow::refreshPorts);

    auto *escape = new QShortcut(QKeySequence(QStringLiteral("Esc")), this);
    escape->setObjectName(QStringLiteral("escapeShortcut"));
    connect(escape, &QShortcut::activated, this, &MainWindow::leaveFullScreen);
    connect(ui->actionFullScreen, &QAction::triggered, this, &MainWindow::enterFullScreen);

    deviceChanged(deviceBox->itemText(0));
}

MainWindow::~MainWindow()
{
    // The widgets the session reports to go first.
    session->blockSignals(true);
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
    if (!portBox->isEnabled()) {
        // A watched change is not seen again: catch up once the list is free.
        portsChangedWhileBusy = portWatch->watching();
        return;
    }
    portsChangedWhileBusy = false;
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
    const Edition::ModelChoice choice = session->chooseModel(name);
    baudBox->setCurrentIndex(baudBox->findText(QString::number(choice.baudrate)));
    if constexpr (Edition::classic)
        mapView->setModelName(name);
    else
        mapView->setDecoderKind(choice.decoderKind);
    mapView->resetView(true);
    mapView->setScale(Edition::mapScaleFor(choice.decoderKind));
    setWindowTitle(QStringLiteral("Tarsel ") + name + QStringLiteral(" Tool"));
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
    if (enabled && portsChangedWhileBusy)
        refreshPorts();
}

void MainWindow::showTrNetError(const QString &message)
{
    QMessageBox::warning(this, tr("error"), message, QMessageBox::Ok);
}

void MainWindow::openSerialPort()
{
    // The handshake processes events: nothing may start another open or
    // change the model until this one has finished (a disabled action can
    // still be triggered from code).
    if (session->isOpening())
        return;
    setSelectorsEnabled(false);
    if (!session->open(portBox->currentText(), baudBox->currentData().toInt()))
        setSelectorsEnabled(true);
}

void MainWindow::closeSerialPort()
{
    session->close();
}

// --- Full screen -----------------------------------------------------------

void MainWindow::enterFullScreen()
{
    if (isFullScreen())
        return;
    setWindowState(windowState() ^ Qt::WindowFullScreen);
    statusBar()->hide();
    toolBar->hide();
    if (!session->isOpen())
        mapView->setOffset(QPoint(0, 5));
}

void MainWindow::leaveFullScreen()
{
    if (!isFullScreen())
        return;
    setWindowState(windowState() ^ Qt::WindowFullScreen);
    statusBar()->show();
    toolBar->show();
    if (!session->isOpen())
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
