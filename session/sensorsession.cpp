#include "sensorsession.h"

#include "debugpkg/debugpkg.h"
#include "editions/edition.h"
#include "lipkg/lipkg.h"
#include "trnet/qtrnet.h"

#include <QDateTime>

#include <algorithm>

QString versionTextOf(const LidarInfoTypedef &info)
{
    const uint32_t w0 = info.firmwareVersion;
    return QStringLiteral("v%1.%2.%3 hw:%4")
        .arg(w0 >> 24)
        .arg((w0 >> 16) & 0xFF)
        .arg(w0 & 0xFFFF)
        .arg(info.hardwareVersion, 0, 16);
}

namespace {

constexpr int pauseMs = 50;
// Counted from the stop command that opens the handshake.
constexpr int stopSettleMs = 200;
constexpr int handshakeTimeoutMs = 1000;
// Maple's columns command keeps the line for this long after its pause.
constexpr int columnsSettleMs = 200;

} // namespace

SensorSession::SensorSession(QObject *parent)
    : QObject(parent), serial(new QSerialPort(this)), pkg(new LiPkg(this)), trNet(new QTRNet(this)),
      debug(new DebugPkg(this))
{
    // Pauses are lower bounds: a coarse timer may fire early.
    for (QTimer *timer : {&stepTimer, &commandPause, &requestPause}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }

    connect(serial, &QSerialPort::readyRead, this, &SensorSession::readPort);
    connect(serial, &QSerialPort::errorOccurred, this, &SensorSession::handleError);
    connect(pkg, &LiPkg::pkgReady, this, [this] {
        ++frames;
        publishStreamCounters();
    });
    connect(pkg, &LiPkg::errorIncrease, this, &SensorSession::publishStreamCounters);
    connect(pkg, &LiPkg::mapReady, this, &SensorSession::publishStreamScan);
    connect(trNet, &QTRNet::dataReady, this, &SensorSession::frameDecoded);
    connect(trNet, &QTRNet::mapReady, this, &SensorSession::publishFrameScan);
    connect(debug, &DebugPkg::lidarInfoReady, this,
            [this](const LidarInfoTypedef &info) { emit versionText(versionTextOf(info)); });
    connect(&stepTimer, &QTimer::timeout, this, &SensorSession::advance);
    connect(&commandPause, &QTimer::timeout, this, [this] {
        if (step != Step::AwaitCalibration)
            return;
        // A reply left from an earlier connection satisfies the wait as well.
        if (!replied && trNet->lastDecodedFrame().command == QTRNet::Calibration)
            replied = trNet->applyCalibrationReply(trNet->lastDecodedFrame());
        if (replied)
            stepTimer.start(0);
    });

    chooseModel(Edition::modelNames().constFirst());
}

SensorSession::~SensorSession()
{
    // Closing on destruction reports errors nobody should act on.
    serial->disconnect(this);
}

Edition::ModelChoice SensorSession::chooseModel(const QString &name)
{
    const Edition::ModelChoice choice = Edition::modelChoice(name);
    decoderKind = choice.decoderKind;
    if (choice.modelType) {
        if constexpr (Edition::commandProtocolTakesTypeCode)
            trNet->setModelType(*choice.modelType);
        pkg->setModelType(*choice.modelType);
    }
    if (choice.filterVariant)
        pkg->setFilterVariant(*choice.filterVariant);
    return choice;
}

int SensorSession::modelType() const
{
    return pkg->modelType();
}

int SensorSession::filterVariant() const
{
    return pkg->filterVariant();
}

bool SensorSession::commandProtocolSelected() const
{
    if (Edition::protocolFromSelectorText && !selectedName.isNull())
        return Edition::usesCommandProtocol(Edition::modelChoice(selectedName).decoderKind);
    return Edition::usesCommandProtocol(decoderKind);
}

void SensorSession::setTimeSource(TimeSource source)
{
    clock = source ? std::move(source) : TimeSource(monotonicNanoseconds);
    pkg->setTimeSource(clock);
}

bool SensorSession::isOpen() const
{
    return serial->isOpen();
}

int SensorSession::baudRate() const
{
    return static_cast<int>(serial->baudRate());
}

void SensorSession::setFilterEnabled(bool enabled)
{
    pkg->setFilterEnabled(enabled);
}

bool SensorSession::filterEnabled() const
{
    return pkg->filterEnabled();
}

void SensorSession::clearErrorCount()
{
    pkg->clearPkgErrorCount();
    publishStreamCounters();
}

double SensorSession::rotationSpeed() const
{
    return pkg->rotationSpeed();
}

int SensorSession::streamErrorCount() const
{
    return pkg->errorCount();
}

void SensorSession::publishStreamCounters()
{
    emit streamCountersChanged(pkg->rotationSpeed(), pkg->errorCount());
}

bool SensorSession::open(const QString &portName, int baudrate)
{
    // Reopening in the middle of a sequence would pull the port from under it.
    if (step != Step::Idle)
        return false;
    if (serial->isOpen())
        serial->close();
    beginSource();
    lineName = portName;
    serial->setPortName(portName);
    serial->setBaudRate(baudrate, QSerialPort::AllDirections);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);

    if (!serial->open(QIODevice::ReadWrite)) {
        emit openFailed(serial->errorString());
        emit stateChanged(State::OpenError, tr("Open error"));
        return false;
    }
    emit stateChanged(State::Connected, tr("Connected to %1 : %2, %3, %4, %5, %6")
                                            .arg(portName)
                                            .arg(baudrate)
                                            .arg(8)
                                            .arg(0)
                                            .arg(1)
                                            .arg(0));
    if (!serial->isOpen())
        return false;
    serial->setDataTerminalReady(true);
    sequenceClock.start();
    if (commandProtocolSelected()) {
        step = Step::StopSettle;
        replied = false;
        sendCommand(QTRNet::commandBytes(1, QTRNet::Stop, 1), pauseMs);
        stepTimer.start(stopSettleMs);
    } else {
        askInformation();
    }
    return true;
}

void SensorSession::write(const QByteArray &bytes)
{
    const qint64 accepted = serial->write(bytes);
    if (accepted > 0)
        emit written(bytes.left(static_cast<int>(accepted)), clock());
}

bool SensorSession::sendCommand(const QByteArray &frame, int pause)
{
    if (commandPause.isActive() || !serial->isOpen())
        return false;
    write(frame);
    commandPause.start(pause);
    return true;
}

void SensorSession::advance()
{
    switch (step) {
    case Step::Idle:
        return;
    case Step::StopSettle:
        if (Edition::commandProtocolTakesTypeCode && trNet->modelType() == QTRNet::mapleModelType) {
            step = Step::ColumnsSettle;
            sendCommand(QTRNet::commandBytes(1, QTRNet::Columns, 1), pauseMs + columnsSettleMs);
            stepTimer.start(pauseMs + columnsSettleMs);
            return;
        }
        Q_FALLTHROUGH();
    case Step::ColumnsSettle: {
        step = Step::AwaitCalibration;
        sendCommand(QTRNet::commandBytes(1, QTRNet::Calibration, 1), pauseMs);
        const qint64 left = handshakeTimeoutMs - sequenceClock.elapsed();
        stepTimer.start(static_cast<int>(std::max<qint64>(left, pauseMs)));
        return;
    }
    case Step::AwaitCalibration:
        if (replied) {
            calibrationAnswered();
            return;
        }
        emit handshakeFailed(tr("connect failed"));
        // A slot may have closed the port meanwhile.
        if (step == Step::AwaitCalibration && serial->isOpen())
            askInformation();
        return;
    case Step::StartPause:
        askInformation();
        return;
    case Step::InformationPause:
        step = Step::Idle;
        emit handshakeFinished();
        return;
    }
}

void SensorSession::calibrationAnswered()
{
    step = Step::StartPause;
    sendCommand(QTRNet::shortCommandBytes(1, QTRNet::MeasuredSamples, 1), pauseMs);
    trNet->enterStartedMode();
    stepTimer.start(pauseMs);
}

void SensorSession::askInformation()
{
    step = Step::InformationPause;
    if (!requestPause.isActive()) {
        write(DebugPkg::requestBytes(DebugPkg::Information, 0));
        requestPause.start(pauseMs);
    }
    stepTimer.start(pauseMs);
}

void SensorSession::endSequence()
{
    step = Step::Idle;
    stepTimer.stop();
}

void SensorSession::close()
{
    closeAndReport(false);
}

void SensorSession::closeAndReport(bool lost)
{
    // Writing to a vanished device raises further errors, which land here
    // again while the port is still open.
    if (closing)
        return;
    closing = true;
    endSequence();
    if (serial->isOpen()) {
        if (commandProtocolSelected())
            sendCommand(QTRNet::commandBytes(1, QTRNet::Stop, 1), pauseMs);
        // The stop command is still queued; closing would drop it. A lost
        // device takes nothing more.
        if (!lost)
            serial->flush();
        serial->close();
    }
    commandPause.stop();
    requestPause.stop();
    closing = false;
    emit stateChanged(State::Disconnected, tr("Disconnected"));
}

void SensorSession::handleError(QSerialPort::SerialPortError error)
{
    // A device that vanished while open shows up as a resource error, or on
    // Linux often as read errors at end-of-file that would repeat forever.
    const bool lost = error == QSerialPort::ResourceError ||
                      (error == QSerialPort::ReadError && serial->isOpen());
    if (!lost || closing)
        return;
    emit deviceLost();
    closeAndReport(true);
}

void SensorSession::readPort()
{
    // What the port holds, taken in one allocation; readAll grows its
    // result chunk by chunk, hundreds of times a second at full line rate.
    const QByteArray data = serial->read(serial->bytesAvailable());
    emit received(data, clock());
    push(data);
}

void SensorSession::push(const QByteArray &chunk)
{
    debug->pushData(chunk);
    if (commandProtocolSelected())
        trNet->pushData(chunk);
    else
        pkg->pushData(chunk);
}

void SensorSession::beginSource()
{
    pkg->resetReceiveState();
    trNet->resetReceiveState();
    debug->resetReceiveState();
    calibrated = false;
    publishStreamCounters();
}

qint64 SensorSession::utcNow() const
{
    switch (wallClock) {
    case WallClock::AtPublish:
        return QDateTime::currentMSecsSinceEpoch() * 1000000;
    case WallClock::FromTimeSource:
        return recordedClock ? recordedClock() : clock();
    case WallClock::Unknown:
        break;
    }
    return 0;
}

void SensorSession::publishStreamScan()
{
    SensorScan scan;
    scan.family = SensorScan::Family::Streaming;
    scan.points = withoutEndOfScanMarker(pkg->currentScan());
    scan.speed = pkg->rotationSpeed();
    scan.rate = pkg->scanRate();
    scan.valid = pkg->validCount();
    scan.total = pkg->pointTotal();
    scan.errors = pkg->errorCount();
    scan.time = clock();
    scan.utcNs = utcNow();
    emit scanReady(scan);
}

void SensorSession::publishFrameScan(const PointList &points)
{
    SensorScan scan;
    scan.family = SensorScan::Family::CommandProtocol;
    scan.points = points;
    scan.rate = trNet->scanRate();
    scan.valid = trNet->validCount();
    scan.total = trNet->pointTotal();
    scan.pixelSum = trNet->pixelSum();
    scan.time = clock();
    scan.utcNs = utcNow();
    emit scanReady(scan);
}

void SensorSession::frameDecoded(TRData *frame)
{
    ++frames;
    if (step == Step::AwaitCalibration && !replied && frame->command == QTRNet::Calibration) {
        replied = trNet->applyCalibrationReply(*frame);
        // The reply is taken once the request's pause is over.
        if (!commandPause.isActive())
            stepTimer.start(0);
    }
    if (!calibrateFromStream || calibrated || frame->command != QTRNet::Calibration)
        return;
    // A capture's first calibration reply stands for the one the handshake
    // would copy.
    calibrated = trNet->applyCalibrationReply(*frame);
    if (calibrated)
        trNet->enterStartedMode();
}
