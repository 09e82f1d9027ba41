#ifndef VANTOSCOPE_SESSIONPORT_H
#define VANTOSCOPE_SESSIONPORT_H

#include <QSerialPort>
#include <functional>

// The session's serial port. Every byte written to the sensor, by whichever
// decoder sends it, passes through writeData, so one hook sees all commands.
class SessionPort : public QSerialPort
{
    Q_OBJECT
public:
    explicit SessionPort(QObject *parent = nullptr) : QSerialPort(parent) {}

    // Called with each chunk the port accepted for writing.
    std::function<void(const QByteArray &)> onWritten;

protected:
    qint64 writeData(const char *data, qint64 size) override;
};

#endif
