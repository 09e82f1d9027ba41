#ifndef VANTOSCOPE_TEST_SCRIPTEDSENSOR_H
#define VANTOSCOPE_TEST_SCRIPTEDSENSOR_H

#include "ptydevice.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QTimer>
#include <QVector>

// Plays a command-protocol sensor on the master side of a pseudo-terminal:
// collects the command frames the program writes (other bytes, such as the
// information request, are skipped) and answers commands as scripted.
class ScriptedSensor : public QObject
{
public:
    explicit ScriptedSensor(Pty &pty);

    // Sends `reply` `delayMs` after every frame with command `command`.
    void answer(uint8_t command, const QByteArray &reply, int delayMs = 0);

    QVector<int> commands;
    QVector<QByteArray> frames;

private:
    void readCommands();

    Pty &pty;
    QTimer poll;
    QByteArray pending;
    QHash<uint8_t, QPair<QByteArray, int>> replies;
};

#endif
