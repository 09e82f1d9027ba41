#include "decodesession.h"

#include "debugpkg.h"
#include "lipkg.h"
#include "qtrnet.h"

#include <QSerialPort>
#include <algorithm>

QString versionText(const LidarInfoTypedef &info)
{
    const uint32_t w0 = info.firmwareVersion;
    return QStringLiteral("v%1.%2.%3 hw:%4")
        .arg(w0 >> 24)
        .arg((w0 >> 16) & 0xFF)
        .arg(w0 & 0xFFFF)
        .arg(info.hardwareVersion, 0, 16);
}

DecodeSession::DecodeSession(const QString &model, EventWriter &writer, QObject *parent)
    : QObject(parent), writer(writer), serial(new QSerialPort(this)), pkg(new LiPkg(this)),
      trNet(new QTRNet(serial)), debugPkg(new DebugPkg(serial))
{
    applied = ModelSetup::applyModel(model, *pkg, *trNet);
    connect(pkg, &LiPkg::mapReady, this, &DecodeSession::streamScanReady);
    connect(trNet, &QTRNet::mapReady, this, &DecodeSession::frameScanReady);
    connect(trNet, &QTRNet::dataReady, this, &DecodeSession::frameDecoded);
    connect(trNet, &QTRNet::errorMessage, this, &DecodeSession::sensorMessage);
    connect(debugPkg, &DebugPkg::lidarInfoReady, this,
            [this](const LidarInfoTypedef &info) { this->writer.info(versionText(info)); });
}

DecodeSession::~DecodeSession() = default;

void DecodeSession::setFilterEnabled(bool enabled)
{
    pkg->setEnableFilter(enabled);
}

void DecodeSession::useLineClock()
{
    // Ten bits a byte on the wire: start, eight data bits, stop.
    const qint64 nsPerByte = 10'000'000'000LL / std::max(1, applied.baudrate);
    pkg->setTimeSource([this, nsPerByte] { return byteCount * nsPerByte; });
}

void DecodeSession::push(const QByteArray &chunk)
{
    byteCount += chunk.size();
    debugPkg->pushData(chunk);
    if (applied.commandProtocol)
        trNet->pushData(chunk);
    else
        pkg->pushData(chunk);
}

void DecodeSession::startSensor()
{
    if (applied.commandProtocol)
        trNet->startLidar();
    if (serial->isOpen())
        debugPkg->sendRequest(DebugPkg::Information, 0);
}

void DecodeSession::stopSensor()
{
    if (applied.commandProtocol && serial->isOpen())
        trNet->sendCommand(1, QTRNet::Stop, 1);
}

int DecodeSession::errors() const
{
    return applied.commandProtocol ? 0 : pkg->errorCount();
}

bool DecodeSession::finish()
{
    writer.end(byteCount, scanCount, errors());
    return writer.flush();
}

void DecodeSession::streamScanReady()
{
    ScanFigures figures;
    figures.speed = pkg->rotationSpeed();
    figures.rate = pkg->scanRate();
    figures.valid = pkg->validCount();
    figures.total = pkg->pointTotal();
    figures.errors = pkg->errorCount();
    writer.scan(++scanCount, figures, pkg->currentScan());
}

void DecodeSession::frameScanReady(const QList<PointData> &points)
{
    ScanFigures figures;
    figures.streaming = false;
    figures.rate = trNet->scanRate();
    figures.valid = trNet->validCount();
    figures.total = trNet->pointTotal();
    writer.scan(++scanCount, figures, points);
}

// A capture has no handshake: its first calibration reply stands for the one
// the handshake would copy, and the sample mode is then set as a successful
// handshake sets it.
void DecodeSession::frameDecoded(TRData *frame)
{
    if (!calibrateFromStream || calibrated || frame->command != QTRNet::Calibration)
        return;
    calibrated = trNet->applyCalibrationReply(*frame);
    if (calibrated)
        trNet->enterStartedMode();
}
