#ifndef VANTOSCOPE_REPLAYCONTROLLER_H
#define VANTOSCOPE_REPLAYCONTROLLER_H

#include "points/sensorscan.h"

#include <QObject>
#include <QString>
#include <memory>

class ReplayBar;
class ReplayEngine;
class SensorSession;

// Plays one capture at a time into the session in place of the line: owns
// the replay engine, keeps the bar and the engine in step, and says when the
// map should keep its scan (a seek replays to its position unseen).
class ReplayController : public QObject
{
    Q_OBJECT
public:
    ReplayController(SensorSession *session, ReplayBar *bar, QObject *parent = nullptr);
    ~ReplayController() override;

    // Opens a capture for the next start(), in place of any opened before;
    // a raw file is read at `rawBaudrate`. False with errorString() when it
    // cannot be replayed.
    bool load(const QString &path, int rawBaudrate);
    QString errorString() const { return error; }
    // The model the loaded capture was recorded from; empty when it does
    // not say (a raw file).
    QString loadedModel() const;
    void discardLoaded();

    // Ends any running replay, then plays the loaded capture into the
    // session, which decodes it as the model chosen by now;
    // `calibrateFromStream` for the models whose decoders time their scans
    // from the stream.
    void start(bool calibrateFromStream);
    // Stops the running replay and gives the session its own clock back.
    void end();
    // Stops feeding the session without ending (the window is closing).
    void pauseForShutdown();

    bool running() const { return engine != nullptr; }
    // Whether the running capture was cut off or damaged.
    bool truncated() const;
    bool damaged() const;
    // Set while a seek replays up to its position.
    bool frozen() const { return frozen_; }
    // The last scan the session published of the family it decodes now.
    SensorScan lastScan() const;

signals:
    void frozenChanged(bool frozen);
    // A running replay ended (by end(), the bar's end button or start()).
    void ended();

private:
    void setFrozen(bool frozen);

    SensorSession *session;
    ReplayBar *bar;
    std::unique_ptr<ReplayEngine> loaded;
    ReplayEngine *engine = nullptr;
    QString error;
    double speed = 1.0;
    bool loops = false;
    bool frozen_ = false;
    SensorScan lastStreamScan;
    SensorScan lastFrameScan;
};

#endif
