#include "debugpkg.h"

#include <QSerialPort>
#include <stdexcept>

DebugPkg::DebugPkg(QSerialPort *serialPort) : QObject(serialPort), port(serialPort)
{
    if (!serialPort)
        throw std::invalid_argument("SerialPort is NULL");
    qRegisterMetaType<LidarInfoTypedef>("LidarInfoTypedef");
}

void DebugPkg::pushData(const QByteArray &data) { Q_UNUSED(data); }

bool DebugPkg::sendRequest(uint8_t command, uint16_t value)
{
    Q_UNUSED(command);
    Q_UNUSED(value);
    return !busy && port->isOpen();
}
