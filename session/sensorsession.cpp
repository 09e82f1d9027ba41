#include "sensorsession.h"

#include "debugpkg/debugpkg.h"
#include "editions/edition.h"
#include "lipkg/lipkg.h"
#include "sessionport.h"
#include "trnet/qtrnet.h"

QString versionTextOf(const LidarInfoTypedef &info)
{
    const uint32_t w0 = info.firmwareVersion;
    return QStringLiteral("v%1.%2.%3 hw:%4")
        .arg(w0 >> 24)
        .arg((w0 >> 16) & 0xFF)
        .arg(w0 & 0xFFFF)
        .arg(info.hardwareVersion, 0, 16);
}

SensorSession::SensorSession(QObject *parent)
    : QObject(parent), serial(new SessionPort(this)), pkg(new LiPkg(this)),
      trNet(new QTRNet(serial)), debug(new DebugPkg(serial))
{
    serial->setObjectName(QStringLiteral("serial"));
    pkg->setObjectName(QStringLiteral("pkg"));
    trNet->setObjectName(QStringLiteral("trNet"));
    debug->setObjectName(QStringLiteral("debugPkg"));
    serial->onWritten = [this](const QByteArray &chunk) { emit written(chunk, clock()); };

    connect(serial, &QSerialPort::readyRead, this, &SensorSession::readPort);
    connect(serial, &QSerialPort::errorOccurred, this, &SensorSession::handleError);
    connect(pkg, &LiPkg::pkgReady, this, [this] { ++frames; });
    connect(pkg, &LiPkg::mapReady, this, &SensorSession::publishStreamScan);
    connect(trNet, &QTRNet::dataReady, this, &SensorSession::frameDecoded);
    connect(trNet, &QTRNet::mapReady, this, &SensorSession::publishFrameScan);
    connect(trNet, &QTRNet::errorMessage, this, &SensorSession::handshakeFailed);
    connect(debug, &DebugPkg::lidarInfoReady, this,
            [this](const LidarInfoTypedef &info) { emit versionText(versionTextOf(info)); });
}

SensorSession::~SensorSession()
{
    // Closing on destruction reports errors nobody should act on.
    destroying = true;
    serial->onWritten = nullptr;
    serial->disconnect(this);
}

QSerialPort *SensorSession::port() const
{
    return serial;
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

void SensorSession::setSelectionProvider(std::function<QString()> provider)
{
    selection = std::move(provider);
}

bool SensorSession::commandProtocolSelected() const
{
    if (Edition::protocolFromSelectorText && selection)
        return Edition::usesCommandProtocol(Edition::modelChoice(selection()).decoderKind);
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

bool SensorSession::open(const QString &portName, int baudrate)
{
    // Reopening in the middle of a handshake would pull the port from under it.
    if (opening)
        return false;
    opening = true;
    if (serial->isOpen())
        serial->close();
    serial->setPortName(portName);
    serial->setBaudRate(baudrate, QSerialPort::AllDirections);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);

    if (!serial->open(QIODevice::ReadWrite)) {
        opening = false;
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
    serial->setDataTerminalReady(true);
    if (commandProtocolSelected()) {
        starting = true;
        trNet->startLidar();
        starting = false;
    }
    // The handshake may have been stopped, or lost the device, while it waited.
    const bool stillOpen = serial->isOpen();
    if (stillOpen)
        debug->sendRequest(DebugPkg::Information, 0);
    opening = false;
    return stillOpen;
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
    if (serial->isOpen()) {
        if (commandProtocolSelected())
            trNet->sendCommand(1, QTRNet::Stop, 1);
        // Inside another command's pause the stop command is still queued;
        // closing would drop it. A lost device takes nothing more.
        if (!lost)
            serial->flush();
        serial->close();
    }
    if (starting)
        trNet->cancelStart();
    closing = false;
    emit stateChanged(State::Disconnected, tr("Disconnected"));
}

void SensorSession::handleError(QSerialPort::SerialPortError error)
{
    // A device that vanished while open shows up as a resource error, or on
    // Linux often as read errors at end-of-file that would repeat forever.
    const bool lost = error == QSerialPort::ResourceError ||
                      (error == QSerialPort::ReadError && serial->isOpen());
    if (!lost || destroying)
        return;
    if (closing)
        return;
    emit deviceLost();
    closeAndReport(true);
}

void SensorSession::readPort()
{
    const QByteArray data = serial->readAll();
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
    emit scanReady(scan);
}

void SensorSession::publishFrameScan(const QList<PointData> &points)
{
    SensorScan scan;
    scan.family = SensorScan::Family::CommandProtocol;
    scan.points = points;
    scan.rate = trNet->scanRate();
    scan.valid = trNet->validCount();
    scan.total = trNet->pointTotal();
    scan.pixelSum = trNet->pixelSum();
    scan.time = clock();
    emit scanReady(scan);
}

void SensorSession::frameDecoded(TRData *frame)
{
    ++frames;
    if (!calibrateFromStream || calibrated || frame->command != QTRNet::Calibration)
        return;
    // A capture's first calibration reply stands for the one the handshake
    // would copy.
    calibrated = trNet->applyCalibrationReply(*frame);
    if (calibrated)
        trNet->enterStartedMode();
}
