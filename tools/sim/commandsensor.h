#ifndef VANTOSCOPE_SIM_COMMANDSENSOR_H
#define VANTOSCOPE_SIM_COMMANDSENSOR_H

#include "simhead.h"

#include <QByteArray>
#include <cstdint>

// A command-protocol sensor (Fir, Maple): answers the calibration and
// columns requests and sends sample frames between a start and a stop
// command.
class CommandSensor
{
public:
    // `silentHandshake`: never answer the calibration request.
    explicit CommandSensor(bool silentHandshake) : silentHandshake(silentHandshake) {}

    bool streaming() const { return streaming_; }
    // Handles one command received at time `t`; appends its replies.
    void handleCommand(uint8_t command, QByteArray &replies, double t, SimHead &head);
    void startStreaming(double t, SimHead &head);
    // The sample frames due between the previous call and time `t`.
    QByteArray advance(double t, SimHead &head);

    QByteArray calibrationReply(const SimModel &model) const;
    QByteArray columnsReply() const;
    // Answers the columns request: Maple then samples every second of its
    // 320 columns; Fir does not answer.
    QByteArray takeColumnsRequest(const SimModel &model);

private:
    QByteArray sampleFrame(double t, SimHead &head);

    bool silentHandshake;
    bool streaming_ = false;
    // When streaming started and frames sent since.
    double streamStart = 0.0;
    int64_t framesSent = 0;
    double nextFrameAt = 0.0; // with speed jitter
    int columns = 320;
};

#endif
