#include "scriptedsensor.h"

ScriptedSensor::ScriptedSensor(Pty &device) : pty(device)
{
    connect(&poll, &QTimer::timeout, this, [this] { readCommands(); });
    poll.start(2);
}

void ScriptedSensor::answer(uint8_t command, const QByteArray &reply, int delayMs)
{
    replies[command] = {reply, delayMs};
}

void ScriptedSensor::readCommands()
{
    static const QByteArray header("\xAA\xAA\xAA\xAA", 4);
    pending += pty.readAvailable();
    for (;;) {
        const int start = pending.indexOf(header);
        if (start < 0) {
            pending = pending.right(3);
            return;
        }
        pending.remove(0, start);
        if (pending.size() < 11)
            return;
        const int n = uint8_t(pending[8]) | (uint8_t(pending[9]) << 8);
        if (pending.size() < 11 + n)
            return;
        const QByteArray frame = pending.left(11 + n);
        pending.remove(0, 11 + n);
        frames.append(frame);
        const auto command = static_cast<uint8_t>(frame[5]);
        commands.append(command);
        if (!replies.contains(command))
            continue;
        const auto reply = replies.value(command);
        QTimer::singleShot(reply.second, this, [this, bytes = reply.first] { pty.write(bytes); });
    }
}
