#include "qtrnet.h"

#include <QSerialPort>
#include <stdexcept>

QTRNet::QTRNet(QSerialPort *serialPort) : QObject(serialPort), port(serialPort)
{
    if (!serialPort)
        throw std::invalid_argument("SerialPort is NULL");
    registerPointDataMetaType();
}

void QTRNet::setModelType(int type) { modelType_ = type; }

void QTRNet::pushData(const QByteArray &data) { Q_UNUSED(data); }

bool QTRNet::sendCommand(uint8_t address, uint8_t command, uint32_t value)
{
    Q_UNUSED(address);
    Q_UNUSED(command);
    Q_UNUSED(value);
    return !busy && port->isOpen();
}

bool QTRNet::sendShortCommand(uint8_t address, uint8_t command, uint16_t value)
{
    Q_UNUSED(address);
    Q_UNUSED(command);
    Q_UNUSED(value);
    return !busy && port->isOpen();
}

void QTRNet::startLidar() {}

int QTRNet::validCount() const
{
    int n = 0;
    for (const PointData &p : scanList)
        if (p.distance != 0)
            ++n;
    return n;
}

int QTRNet::nearestPointIndex(double angle) const
{
    Q_UNUSED(angle);
    return scanList.isEmpty() ? -1 : 0;
}
