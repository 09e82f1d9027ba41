#ifndef VANTOSCOPE_TEST_PTY_H
#define VANTOSCOPE_TEST_PTY_H

#include <QByteArray>
#include <QString>

// A pseudo-terminal for tests: the program under test opens slavePath() with
// a real QSerialPort, the test plays the sensor on the master side.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return master >= 0; }
    QString slavePath() const { return path; }

    // Writes all of `data` to the master side; returns false on error.
    bool write(const QByteArray &data);
    // Everything the program wrote so far that is readable now (non-blocking).
    QByteArray readAvailable();
    // Reads until `sentinel` arrived and returns everything read, sentinel
    // included (what was read by `timeoutMs` if it never came). Written by
    // the program after the bytes under test, the sentinel proves that those
    // bytes had their chance to arrive, without waiting a fixed time.
    QByteArray readThrough(const QByteArray &sentinel, int timeoutMs = 10000);
    // Writes `data` on the program's side of the line, where it reaches the
    // master after everything the program wrote before: a sentinel for code
    // under test that should write nothing at all.
    bool writeAsProgram(const QByteArray &data);
    // Closes the master side: for the program the device is gone.
    void closeMaster();

private:
    int master = -1;
    int slaveKeepAlive = -1;
    QString path;
};

#endif
