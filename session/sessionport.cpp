#include "sessionport.h"

qint64 SessionPort::writeData(const char *data, qint64 size)
{
    const qint64 written = QSerialPort::writeData(data, size);
    if (written > 0 && onWritten)
        onWritten(QByteArray(data, static_cast<int>(written)));
    return written;
}
