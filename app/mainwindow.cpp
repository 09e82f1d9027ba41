#include "mainwindow.h"

#include "appsetup.h"
#include "bridge/livebridge.h"
#include "capturerecorder.h"
#include "editions/edition.h"
#include "editions/modelrules.h"
#include "editions/modeltable.h"
#include "history/historydialog.h"
#include "mcapexport.h"
#include "portwatch.h"
#include "reconnector.h"
#include "replaybar.h"
#include "replaycontroller.h"
#include "scanexport/scanexport.h"
#include "station/benchpanel.h"
#include "station/benchstation.h"
#include "station/resultskeeper.h"
#include "station/verdictbanner.h"
#include "trnet/qtrnet.h"
#include "view/limapview.h"
#include "windowactions.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <cmath>

namespace {

// Qt rounds halves away from zero; sizes are positive, so that is "halves up".
int roundHalfUp(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}

bool writePng(const QString &path, const QImage &image, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        *error = writer.errorString();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

// The first local file among dropped URLs.
QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return QString();
}

} // namespace

MainWindow::MainWindow(PortEnumerator ports)
    : QMainWindow(nullptr), settingsFile(QStringLiteral("Vantoscope.ini")),
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
    reconnector = new Reconnector(session, portEnumerator, this);
    reconnector->setObjectName(QStringLiteral("reconnector"));
    // The earlier edition routes, starts and stops by the selector's text.
    connect(deviceBox, &QComboBox::currentTextChanged, session, &SensorSession::setSelectedModel);
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));

    mapView = new LiMapView(this);
    mapView->setObjectName(QStringLiteral("mapView"));

    windowActions = std::make_unique<WindowActions>(this);
    menuBar()->hide();
    setCentralWidget(mapView);
    replayBar = new ReplayBar(this);
    addToolBar(Qt::BottomToolBarArea, replayBar);
    replayBar->hide();
    setAcceptDrops(true);
    // The earlier edition fills the device selector before the toolbar.
    if constexpr (Edition::fillsDeviceBoxFirst)
        fillDeviceBox();

    portBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    buildToolBar();
    buildBenchStation();
    restoreWindowSettings();

    statusBar()->addWidget(statusLabel, 0);
    auto *versionLabel = new QLabel(QString::fromLatin1(Edition::versionText), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    statusBar()->addPermanentWidget(versionLabel, 0);

    fillPortBox();
    for (int rate : Edition::baudRates())
        baudBox->addItem(QString::number(rate), rate);
    if constexpr (!Edition::fillsDeviceBoxFirst)
        fillDeviceBox();
    baudBox->setEnabled(false);

    connect(deviceBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { deviceChanged(deviceBox->itemText(index)); });
    wireMapView();
    connect(session, &SensorSession::stateChanged, this, &MainWindow::sessionStateChanged);
    connect(session, &SensorSession::openFailed, this, [this](const QString &error) {
        // While the adapter is away, a port that is not ready yet is no news.
        if (!reconnector->waiting())
            QMessageBox::critical(this, tr("Error"), error, QMessageBox::Ok);
    });
    connect(session, &SensorSession::handshakeFailed, this, &MainWindow::showTrNetError);
    connect(session, &SensorSession::versionText, statusLabel, &QLabel::setText);

    recorder = new CaptureRecorder(this);
    recorder->setObjectName(QStringLiteral("recorder"));
    recordLabel = new QLabel(this);
    recordLabel->setObjectName(QStringLiteral("recordLabel"));
    statusBar()->addPermanentWidget(recordLabel, 0);
    recordLabel->hide();
    connect(recorder, &CaptureRecorder::statusChanged, recordLabel, [this](const QString &text) {
        recordLabel->setText(text);
        recordLabel->setVisible(!text.isEmpty());
    });
    connect(recorder, &CaptureRecorder::failed, this, &MainWindow::recordingFailed);
    connect(windowActions->record, &QAction::toggled, this, &MainWindow::recordToggled);
    connect(session, &SensorSession::received, recorder, [this](const QByteArray &chunk) {
        recorder->append(CaptureDirection::Inbound, chunk);
    });
    connect(session, &SensorSession::written, recorder, [this](const QByteArray &chunk) {
        recorder->append(CaptureDirection::Outbound, chunk);
    });
    connect(session, &SensorSession::versionText, recorder, &CaptureRecorder::setVersionText);
    replayer = new ReplayController(session, replayBar, this);
    replayer->setObjectName(QStringLiteral("replayer"));
    connect(replayer, &ReplayController::frozenChanged, this, &MainWindow::setMapFrozen);
    connect(replayer, &ReplayController::ended, this, &MainWindow::replayEnded);
    connect(this, &MainWindow::captureChosen, this, &MainWindow::replayCapture);
    connect(session, &SensorSession::scanReady, this, &MainWindow::scanPublished);
    wireSharing();
    connect(mapView, &LiMapView::redrawn, this, &MainWindow::mapRedrawn);
    connect(mapView, &LiMapView::painted, this, &MainWindow::mapPainted);
    windowActions->saveScan->setEnabled(false);
    connect(session, &SensorSession::scanReady, windowActions->saveScan,
            [this] { windowActions->saveScan->setEnabled(true); });

    // The system's ports are listed again when their folders change; any
    // other enumerator cannot be watched and is asked every second.
    const QStringList watched =
        watchingSystemPorts
            ? PortWatch::deviceFolders(qEnvironmentVariable("VANTOSCOPE_EXTRA_PORTS"))
            : QStringList();
    portWatch = new PortWatch(watched, this);
    portWatch->setObjectName(QStringLiteral("portWatch"));
    connect(portWatch, &PortWatch::mayHaveChanged, this, &MainWindow::refreshPorts);
    connect(portWatch, &PortWatch::mayHaveChanged, reconnector, &Reconnector::portsMayHaveChanged);
    connect(windowActions->reconnect, &QAction::toggled, reconnector, &Reconnector::setEnabled);
    reconnector->setEnabled(windowActions->reconnect->isChecked());

    auto *escape = new QShortcut(QKeySequence(QStringLiteral("Esc")), this);
    escape->setObjectName(QStringLiteral("escapeShortcut"));
    connect(escape, &QShortcut::activated, this, &MainWindow::leaveFullScreen);
    connect(escape, &QShortcut::activated, station, &BenchStation::cancel);
    connect(windowActions->fullScreen, &QAction::triggered, this, &MainWindow::enterFullScreen);

    deviceChanged(deviceBox->itemText(0));
}

MainWindow::~MainWindow()
{
    recorder->finish();
    replayer->pauseForShutdown();
    // The widgets the session reports to go first.
    session->blockSignals(true);
}

// The view draws what the session publishes, with the stream decoder's
// counters as they move between scans; its menu's decoder commands go to the
// session.
void MainWindow::wireMapView()
{
    connect(session, &SensorSession::scanReady, mapView, &LiMapView::showScan);
    connect(session, &SensorSession::streamCountersChanged, mapView, &LiMapView::setStreamCounters);
    connect(mapView, &LiMapView::filterSwitched, session, &SensorSession::setFilterEnabled);
    connect(mapView, &LiMapView::clearErrorRequested, session, &SensorSession::clearErrorCount);
}

// Share live serves what the map shows: a seek's scans, replayed unseen,
// are not shared either. Export → MCAP runs while a capture replays.
void MainWindow::wireSharing()
{
    bridge = new LiveBridge(this);
    bridge->setObjectName(QStringLiteral("bridge"));
    shareLabel = new QLabel(this);
    shareLabel->setObjectName(QStringLiteral("shareLabel"));
    statusBar()->addPermanentWidget(shareLabel, 0);
    shareLabel->hide();
    connect(bridge, &LiveBridge::clientCountChanged, this, &MainWindow::showShareStatus);
    connect(windowActions->shareLive, &QAction::toggled, this, &MainWindow::shareToggled);
    connect(session, &SensorSession::scanReady, bridge, [this](const SensorScan &scan) {
        if (!replayer->frozen())
            bridge->publish(scan);
    });

    mcapExport = new McapExport(this);
    mcapExport->setObjectName(QStringLiteral("mcapExport"));
    windowActions->exportMcap->setEnabled(false);
    connect(windowActions->exportMcap, &QAction::triggered, this, &MainWindow::chooseMcapFile);
    connect(mcapExport, &McapExport::finished, this,
            [this](const McapExport::Job &job, const McapExport::Result &result) {
                windowActions->exportMcap->setEnabled(replayer->running());
                const QString shown = QDir::toNativeSeparators(job.target);
                if (result.ok)
                    statusBar()->showMessage(
                        tr("Exported %1 scans to %2").arg(result.scans).arg(shown), 10000);
                else
                    QMessageBox::warning(this, tr("Export MCAP"),
                                         tr("Cannot export to %1:\n%2").arg(shown, result.error));
                emit mcapExported(job.target, result.scans, result.ok ? QString() : result.error);
            });
}

void MainWindow::passStreamCounters()
{
    mapView->setStreamCounters(session->rotationSpeed(), session->streamErrorCount());
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
    toolBar->addAction(windowActions->start);
    toolBar->addAction(windowActions->stop);
    toolBar->addAction(windowActions->fullScreen);
    toolBar->addAction(windowActions->help);
    toolBar->addAction(windowActions->record);
    toolBar->addAction(windowActions->openCapture);
    toolBar->addAction(windowActions->bench);
    // The menu bar is hidden and the toolbar may be: the window's own copies
    // keep the shortcuts working.
    addAction(windowActions->saveScan);
    addAction(windowActions->openCapture);
    addAction(windowActions->bench);

    connect(windowActions->exit, &QAction::triggered, this, &QWidget::close);
    connect(windowActions->start, &QAction::triggered, this, &MainWindow::openSerialPort);
    connect(windowActions->stop, &QAction::triggered, this, &MainWindow::closeSerialPort);
    connect(windowActions->help, &QAction::triggered, this, &MainWindow::showHelp);
    connect(windowActions->saveScan, &QAction::triggered, this, &MainWindow::chooseSaveFile);
    connect(windowActions->openCapture, &QAction::triggered, this, &MainWindow::chooseCapture);
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
    mapView->setDecoderKind(choice.decoderKind);
    mapView->resetView(true);
    mapView->setScale(Edition::mapScaleFor(choice.decoderKind));
    station->setModel(name);
    if (const Models::Record *model = Models::find(name, Qt::CaseSensitive))
        bridge->setGrid(Robotics::ScanGrid::forModel(*model));
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
    windowActions->start->setEnabled(enabled);
    if (enabled && portsChangedWhileBusy)
        refreshPorts();
}

void MainWindow::sessionStateChanged(SensorSession::State state, const QString &text)
{
    if (reconnector->waiting() && state != SensorSession::State::Connected) {
        // The selectors stay as while connected, and so does the recording.
        if (state == SensorSession::State::Disconnected)
            recorder->noteLineLost();
        setStatus(tr("Reconnecting to %1…").arg(reconnector->lostPortName()), Qt::darkBlue);
        return;
    }
    setStatus(text, state == SensorSession::State::Disconnected ? Qt::darkRed : Qt::darkBlue);
    if (state == SensorSession::State::Connected && windowActions->record->isChecked())
        startRecording();
    if (state == SensorSession::State::Disconnected) {
        stopRecording();
        setSelectorsEnabled(true);
    }
}

void MainWindow::showTrNetError(const QString &message)
{
    QMessageBox::warning(this, tr("error"), message, QMessageBox::Ok);
}

void MainWindow::openSerialPort()
{
    setSelectorsEnabled(false);
    // Refused while the session is still connecting: that connection holds.
    if (!session->open(portBox->currentText(), baudBox->currentData().toInt()) &&
        !session->isOpen())
        setSelectorsEnabled(true);
}

void MainWindow::closeSerialPort()
{
    if (replayer->running()) {
        replayer->end();
        return;
    }
    reconnector->cancel();
    session->close();
}

// --- Scan export and captures ---------------------------------------------

void MainWindow::chooseSaveFile()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save scan"), QString(), tr("Points (*.csv);;Map picture (*.png);;All files (*)"));
    if (!path.isEmpty())
        saveScan(path);
}

bool MainWindow::saveScan(const QString &path)
{
    // The canvas follows the scan on the view's next redraw; bring it up to
    // date so that the picture and the points are the same scan. The points
    // are the scan as published: the view clamps what lies beyond its range.
    mapView->replot();
    QString error;
    const bool written = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)
                             ? writePng(path, mapView->canvasImage(), &error)
                             : writeScanCsv(path, replayer->lastScan(), &error);
    if (!written)
        QMessageBox::warning(this, tr("Save scan"),
                             tr("Cannot write %1:\n%2").arg(QDir::toNativeSeparators(path), error));
    return written;
}

// --- What the tools drive -------------------------------------------------

bool MainWindow::chooseModel(const QString &name)
{
    const int index = deviceBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return false;
    deviceBox->setCurrentIndex(index);
    return true;
}

bool MainWindow::start()
{
    windowActions->start->trigger();
    // The selectors stay off while the port is open or opening.
    return !windowActions->start->isEnabled();
}

void MainWindow::stop()
{
    windowActions->stop->trigger();
}

QString MainWindow::statusText() const
{
    return statusLabel->text();
}

QString MainWindow::resultsDatabase() const
{
    return QSettings(settingsFile, QSettings::IniFormat)
        .value(QStringLiteral("Results/Database"))
        .toString();
}

// --- Recording -------------------------------------------------------------

QString MainWindow::captureFolder() const
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    const QString folder = settings.value(QStringLiteral("Capture/Folder")).toString();
    if (!folder.isEmpty())
        return folder;
    return QFileInfo(settings.fileName()).absoluteDir().filePath(QStringLiteral("captures"));
}

void MainWindow::recordToggled(bool on)
{
    if (!on)
        stopRecording();
    else if (session->isOpen())
        startRecording();
    // Otherwise the next Start begins the file.
}

void MainWindow::startRecording()
{
    if (recorder->recording())
        return;
    CaptureMetadata metadata;
    metadata.application =
        QStringLiteral("Vantoscope ") + QString::fromLatin1(Edition::versionText);
    metadata.edition = QString::fromLatin1(Edition::name);
    metadata.model = deviceBox->currentText();
    metadata.portName = portBox->currentText();
    metadata.baudrate = static_cast<int>(session->baudRate());
    if (!recorder->start(captureFolder(), metadata))
        recordingFailed(recorder->path(), recorder->errorString());
}

void MainWindow::stopRecording()
{
    recorder->finish();
}

void MainWindow::recordingFailed(const QString &path, const QString &reason)
{
    {
        // Unchecking finishes what is left of the recording.
        const QSignalBlocker blocker(windowActions->record);
        windowActions->record->setChecked(false);
    }
    recorder->finish();
    QMessageBox::warning(
        this, tr("Record"),
        tr("Cannot record to %1:\n%2").arg(QDir::toNativeSeparators(path), reason));
}

// --- Replay ----------------------------------------------------------------

void MainWindow::replayCapture(const QString &path)
{
    const QString rawModel = deviceBox->currentText();
    const QString shown = QDir::toNativeSeparators(path);
    if (!replayer->load(path, Edition::modelChoice(rawModel).baudrate)) {
        QMessageBox::warning(this, tr("Open capture"),
                             tr("Cannot replay %1:\n%2").arg(shown, replayer->errorString()));
        return;
    }
    QString model = replayer->loadedModel();
    if (model.isEmpty())
        model = rawModel;
    const int modelIndex = deviceBox->findText(model, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (modelIndex < 0) {
        replayer->discardLoaded();
        QMessageBox::warning(
            this, tr("Open capture"),
            tr("%1 was recorded from a %2, a model this program does not know.").arg(shown, model));
        return;
    }

    // The capture takes the decoders from the live line or the last replay.
    if (reconnector->cancel())
        stopRecording();
    replayer->end();
    if (session->isOpen())
        session->close();

    if (modelIndex != deviceBox->currentIndex())
        deviceBox->setCurrentIndex(modelIndex);
    else
        deviceChanged(model);
    replayer->start(Edition::usesCommandProtocol(Edition::modelChoice(model).decoderKind));
    replayPath = path;
    windowActions->exportMcap->setEnabled(!mcapExport->running());

    setSelectorsEnabled(false);
    QString status = tr("Replaying %1").arg(QFileInfo(path).fileName());
    if (replayer->truncated())
        status += tr(" (truncated: replayed to the last whole record)");
    else if (replayer->damaged())
        status += tr(" (damaged: replayed up to the damage)");
    setStatus(status, Qt::darkBlue);
    // The sensor's version text takes the left of the status bar as it does
    // live; what is replaying, and whether the file was whole, stays here.
    recordLabel->setText(status);
    recordLabel->show();
}

void MainWindow::replayEnded()
{
    replayPath.clear();
    windowActions->exportMcap->setEnabled(false);
    recordLabel->clear();
    recordLabel->hide();
    setSelectorsEnabled(true);
    setStatus(tr("Disconnected"), Qt::darkRed);
}

// While a seek replays the capture up to a position, the map keeps the scan
// it had (its figures go on); the last one decoded is drawn when the seek is
// done.
void MainWindow::setMapFrozen(bool frozen)
{
    mapView->setFrozen(frozen);
    if (frozen)
        return;
    mapView->showScan(replayer->lastScan());
    passStreamCounters();
}

bool MainWindow::replaying() const
{
    return replayer->running();
}

void MainWindow::chooseCapture()
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open capture"), QString(), tr("Captures (*.pcapng *.bin);;All files (*)"));
    if (!path.isEmpty())
        openCapture(path);
}

void MainWindow::openCapture(const QString &path)
{
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    QString problem;
    if (!info.exists()) {
        problem = tr("%1 does not exist.").arg(shown);
    } else if (info.isDir()) {
        problem = tr("%1 is a folder, not a capture.").arg(shown);
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            problem = tr("Cannot read %1:\n%2").arg(shown, file.errorString());
    }
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("Open capture"), problem);
        return;
    }
    emit captureChosen(info.absoluteFilePath());
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // A box must not open while the drag source still waits for the drop.
    QTimer::singleShot(0, this, [this, path] { openCapture(path); });
}

// --- Bench station ---------------------------------------------------------

// The Bench panel in a dock on the right, its verdict over the map; the
// station runs its checks on the window's session and reaches the line as
// Start and Stop do.
void MainWindow::buildBenchStation()
{
    station = new BenchStation(session, this);
    station->setObjectName(QStringLiteral("benchStation"));
    StationLine line;
    line.open = [this] {
        reconnector->cancel();
        openSerialPort();
        return session->isOpen() || session->isOpening();
    };
    line.close = [this] { closeSerialPort(); };
    line.willReturn = [this] { return reconnector->waiting(); };
    line.replaying = [this] { return replayer->running() ? replayPath : QString(); };
    station->setLine(line);

    benchDock = new QDockWidget(tr("Bench"), this);
    benchDock->setObjectName(QStringLiteral("benchDock"));
    benchDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    benchPanel = new BenchPanel(station, benchDock);
    benchDock->setWidget(benchPanel);
    addDockWidget(Qt::RightDockWidgetArea, benchDock);
    benchDock->hide();
    connect(windowActions->bench, &QAction::toggled, benchDock, &QDockWidget::setVisible);
    connect(benchDock->toggleViewAction(), &QAction::toggled, windowActions->bench,
            &QAction::setChecked);

    banner = new VerdictBanner(this);
    banner->attachTo(mapView);
    connect(station, &BenchStation::verdictShown, banner, &VerdictBanner::showVerdict);
    connect(station, &BenchStation::verdictCleared, banner, &VerdictBanner::clearVerdict);
    connect(station, &BenchStation::reportOpenRequested, this,
            [](const QString &path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });

    resultsKeeper = new ResultsKeeper(station, resultsDatabase(), this);
    connect(station, &BenchStation::historyRequested, this, &MainWindow::showHistory);
}

void MainWindow::showHistory()
{
    if (!history) {
        history = new HistoryDialog(resultsDatabase(), this);
        history->setObjectName(QStringLiteral("historyDialog"));
        connect(history, &HistoryDialog::replayRequested, this, &MainWindow::openCapture);
    }
    history->refresh();
    history->show();
    history->raise();
    history->activateWindow();
}

void MainWindow::showBenchPanel(bool shown)
{
    windowActions->bench->setChecked(shown);
    benchDock->setVisible(shown);
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
    const QSize available = screen()->availableGeometry().size();
    const QSize quarter(roundHalfUp(available.width() * 0.25),
                        roundHalfUp(available.height() * 0.25));
    const QSize defaultSize(roundHalfUp(quarter.width() * 3.0),
                            roundHalfUp(quarter.height() * 3.0));
    resize(settings.value(QStringLiteral("Window/Size"), defaultSize).toSize());
    windowActions->reconnect->setChecked(
        settings.value(QStringLiteral("Connection/Reconnect"), true).toBool());
    mapView->loadSettings(settings);
    station->loadSettings(
        settings, QFileInfo(settings.fileName()).absoluteDir().filePath(QStringLiteral("reports")));
    benchPanel->refresh();
    showBenchPanel(settings.value(QStringLiteral("Bench/PanelOpen"), false).toBool());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A run cut short by closing has no verdict and leaves no files.
    station->cancel();
    stopRecording();
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Window/Size"), size());
    settings.setValue(QStringLiteral("Connection/Reconnect"),
                      windowActions->reconnect->isChecked());
    mapView->saveSettings(settings);
    station->saveSettings(settings);
    settings.setValue(QStringLiteral("Bench/PanelOpen"), windowActions->bench->isChecked());
    event->accept();
}

// The toolbar's context menu offers the connection settings too: the menu
// bar that holds them is hidden.
QMenu *MainWindow::createPopupMenu()
{
    QMenu *menu = QMainWindow::createPopupMenu();
    if (!menu)
        menu = new QMenu(this);
    menu->addSeparator();
    menu->addAction(windowActions->reconnect);
    menu->addAction(windowActions->shareLive);
    menu->addMenu(windowActions->exportMenu);
    return menu;
}

// --- Share live and Export -> MCAP ------------------------------------------

bool MainWindow::startSharing(const QString &address)
{
    ShareAddress where;
    QString error;
    const bool started =
        ShareAddress::parse(address, &where, &error) && bridge->start(where, &error);
    {
        const QSignalBlocker blocker(windowActions->shareLive);
        windowActions->shareLive->setChecked(started);
    }
    showShareStatus();
    if (!started) {
        // Not waited for: a caller (the command line, a tool) goes on.
        auto *box =
            new QMessageBox(QMessageBox::Warning, tr("Share live"),
                            tr("Cannot share on %1:\n%2")
                                .arg(address.isEmpty() ? where.url(where.port) : address, error),
                            QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("shareError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    shareAddress = address;
    return true;
}

void MainWindow::stopSharing()
{
    bridge->stop();
    const QSignalBlocker blocker(windowActions->shareLive);
    windowActions->shareLive->setChecked(false);
    showShareStatus();
}

void MainWindow::shareToggled(bool on)
{
    if (on)
        startSharing(shareAddress);
    else
        stopSharing();
}

void MainWindow::showShareStatus()
{
    shareLabel->setVisible(bridge->sharing());
    if (bridge->sharing())
        shareLabel->setText(
            tr("Sharing on %1 (%2)")
                .arg(bridge->url(), bridge->clientCount() == 1
                                        ? tr("1 client")
                                        : tr("%1 clients").arg(bridge->clientCount())));
}

void MainWindow::chooseMcapFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export MCAP"), QString(),
                                                      tr("MCAP (*.mcap);;All files (*)"));
    if (!path.isEmpty())
        exportMcap(path);
}

bool MainWindow::exportMcap(const QString &path)
{
    if (!replayer->running() || mcapExport->running())
        return false;
    McapExport::Job job;
    job.capture = replayPath;
    job.target = path;
    job.model = deviceBox->currentText();
    job.filter = session->filterEnabled();
    job.rawBaudrate = Edition::modelChoice(job.model).baudrate;
    windowActions->exportMcap->setEnabled(false);
    return mcapExport->start(job);
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
