#include "ptydevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        master = -1;
        return;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
    // Keeping one slave descriptor open keeps the master readable even
    // between the program's open and close of the port.
    slaveKeepAlive = slave;
}

Pty::~Pty()
{
    closeMaster();
    if (slaveKeepAlive >= 0)
        ::close(slaveKeepAlive);
}

bool Pty::write(const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    QElapsedTimer timer;
    timer.start();
    while (left > 0 && master >= 0) {
        const ssize_t n = ::write(master, p, static_cast<size_t>(left));
        if (n > 0) {
            p += n;
            left -= n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            if (timer.elapsed() > 5000)
                return false;
            QCoreApplication::processEvents();
            QThread::usleep(200);
        }
    }
    return left == 0;
}

QByteArray Pty::readAvailable()
{
    QByteArray out;
    char buf[4096];
    while (master >= 0) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<int>(n));
    }
    return out;
}

QByteArray Pty::readThrough(const QByteArray &sentinel, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains(sentinel) && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        out += readAvailable();
    }
    return out;
}

bool Pty::writeAsProgram(const QByteArray &data)
{
    return slaveKeepAlive >= 0 && ::write(slaveKeepAlive, data.constData(),
                                          static_cast<size_t>(data.size())) == data.size();
}

void Pty::closeMaster()
{
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
}
