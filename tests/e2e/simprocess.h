#ifndef VANTOSCOPE_TEST_SIMPROCESS_H
#define VANTOSCOPE_TEST_SIMPROCESS_H

#include <QProcess>
#include <QStringList>

// The simulator as a child process on a pseudo-terminal: starts it, waits
// for its port line and collects what it reports on standard output.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments);
    ~SimProcess();

    bool started() const { return !port_.isEmpty(); }
    QString port() const { return port_; }
    // Everything the simulator printed so far.
    QString output();
    // Waits (running the event loop) until the output holds `text`.
    bool waitForOutput(const QString &text, int timeoutMs);
    bool waitForExit(int timeoutMs);

private:
    QProcess process;
    QString port_;
    QString collected;
};

#endif
