#ifndef VANTOSCOPE_STATION_ENDSOUND_H
#define VANTOSCOPE_STATION_ENDSOUND_H

#include <QObject>

class QSoundEffect;

// The short sound at the end of a run: a rising pair of tones for a pass, a
// low double buzz for a fail. The sounds are loaded on first use, so that a
// window that never ends a run never touches the audio system; without a
// sound device they stay silent.
class EndSound : public QObject
{
    Q_OBJECT
public:
    explicit EndSound(QObject *parent = nullptr);
    void play(bool passed);

private:
    QSoundEffect *pass = nullptr;
    QSoundEffect *fail = nullptr;
};

#endif
