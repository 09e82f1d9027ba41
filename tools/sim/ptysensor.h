#ifndef VANTOSCOPE_SIM_PTYSENSOR_H
#define VANTOSCOPE_SIM_PTYSENSOR_H

#include "sensorsim.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;
class ReplayEngine;

// Puts a SensorSim (or a recorded capture) at the far end of a
// pseudo-terminal, paced in real time.
class PtySensor : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        double disconnectAfter = 0.0; // seconds; 0: never
        double replyDelay = 0.0;      // seconds before each answer to a command
        QByteArray replay;            // play these bytes instead of simulating
        QString replayCapture;        // or this pcapng capture, at its recorded pace
        double replaySpeed = 1.0;
        bool loop = false;
        bool reportScans = false;     // print each completed scan with its send time
        bool reportStretches = false; // print each fault-free stretch (needs a fault period)
    };

    PtySensor(const SimModel &model, SensorSim sim, const Options &options);
    ~PtySensor() override;

    // Opens the pseudo-terminal and prints its path; false with a message on failure.
    bool start(QString *error);

private:
    bool replaying() const { return !options.replay.isEmpty() || capture; }
    bool startCapture(QString *error);
    void tick();
    void readCommands();
    void send(const QByteArray &bytes);
    void disconnectLine();
    void reportStretches();
    double now() const { return clock.nsecsElapsed() / 1e9; }

    SimModel model;
    SensorSim sim;
    Options options;
    int master = -1;
    int slave = -1;
    QElapsedTimer clock;
    QTimer ticker;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<ReplayEngine> capture;
    int replayPos = 0;
    double replayCredit = 0.0;
    double lastTick = 0.0;
    int reportedCommands = 0;
    int reportedScans = 0;
    // Send times of the scans a clean stretch may still begin or end with.
    QMap<int, qint64> scanSentAt;
};

#endif
