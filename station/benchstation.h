#ifndef VANTOSCOPE_STATION_BENCHSTATION_H
#define VANTOSCOPE_STATION_BENCHSTATION_H

#include "attemptcounter.h"
#include "check/benchprofile.h"
#include "check/livehealth.h"
#include "stationrun.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class CaptureWriter;
class EndSound;
class QSettings;
class QThread;
class ScanStatistics;
class SensorSession;
class SessionCheck;
struct CapturedCheck;

// How the station reaches the window's line: the window fills these in.
struct StationLine
{
    // Opens the selected port with the selected model, as Start does; true
    // when it is open (or opening).
    std::function<bool()> open;
    // Closes it, as Stop does.
    std::function<void()> close;
    // The lost adapter is awaited and will be opened again when it is back.
    std::function<bool()> willReturn;
    // The capture being replayed; empty when none is.
    std::function<QString()> replaying;
};

// The bench station: one unit after another through the same check engine
// as the check tool, fed by the window's session while the map goes on
// drawing it. A run opens the line afresh (so that its capture holds the
// whole conversation), records the capture beside its reports, and leaves
// the line as it found it. A replaying capture is checked as a whole, as
// fast as it reads. Between runs it keeps the stream's live health.
class BenchStation : public QObject
{
    Q_OBJECT
public:
    enum class Phase
    {
        Idle,
        Running,         // a live run
        CheckingCapture, // a capture being checked
    };
    Q_ENUM(Phase)

    explicit BenchStation(SensorSession *session, QObject *parent = nullptr);
    ~BenchStation() override;

    void setLine(StationLine line) { this->line = std::move(line); }
    // Takes over counting attempts (a results store may do it).
    void setAttemptCounter(std::unique_ptr<AttemptCounter> counter);
    const AttemptCounter &attempts() const { return *counter; }

    // [Bench] in the settings; the reports go into `defaultFolder` unless
    // [Bench] Folder names another.
    void loadSettings(const QSettings &settings, const QString &defaultFolder);
    void saveSettings(QSettings &settings) const;

    // The model the window decodes now; its built-in limits are the profile's base.
    void setModel(const QString &name);
    QString model() const { return modelName; }
    // A profile JSON file over the built-in limits; empty for the built-in
    // ones. False (and the built-in limits) when it cannot be read; the
    // problem is in profileError().
    bool setProfileFile(const QString &path);
    QString profileFile() const { return profilePath; }
    QString profileError() const { return profileProblem; }
    void setDuration(double seconds);
    double duration() const { return seconds; }
    void setOperatorName(const QString &name) { operatorName = name; }
    QString operatorNameText() const { return operatorName; }
    void setLot(const QString &text) { lot = text; }
    QString lotText() const { return lot; }
    void setSoundEnabled(bool on);
    bool soundEnabled() const { return sound; }
    // How long a verdict stays; 0 until the next unit.
    void setVerdictSeconds(int seconds) { verdictSeconds = std::max(0, seconds); }
    int verdictShownSeconds() const { return verdictSeconds; }
    void setReportFolder(const QString &folder) { reportFolder = folder; }
    QString reportFolderPath() const { return reportFolder; }

    // Starts a run of `unit` (as the Check button and Enter do); false with
    // a message when it cannot start.
    bool start(const QString &unit);
    // Ends the run without a verdict, reports or capture.
    void cancel();
    // A new unit is being entered: the verdict on screen goes.
    void unitEdited();
    Phase phase() const { return state; }
    // Seconds left of a live run.
    double secondsLeft() const;

    // The runs of this session that reached a verdict, oldest first.
    const QVector<StationRun> &today() const { return runs; }
    // A results history counted run `runId` (the id in its report) as
    // `attempt` of its unit: the list and the next retest follow it.
    void attemptStored(const QString &runId, int attempt);
    // A problem from outside the run (the results history), for the panel.
    void reportProblem(const QString &text) { emit message(text, true); }
    // The health figures are kept only while someone looks at them.
    void setHealthShown(bool shown);
    QVector<HealthFigure> health() const { return liveHealth.figures(); }

signals:
    void phaseChanged(BenchStation::Phase phase);
    // Of a live run, about four times a second.
    void progress(double elapsed, double total);
    void message(const QString &text, bool problem);
    void verdictShown(const StationRun &run);
    void verdictCleared();
    // After a run's reports are written: what a results store keeps.
    void runCompleted(const StationRun &run);
    // Run `index` of today() changed after its verdict (its attempt).
    void runUpdated(int index);
    // Once a second while shown, and when the stream ends.
    void healthChanged(const QVector<HealthFigure> &figures);
    void historyRequested();
    // The duration, profile or sound changed from elsewhere than the panel.
    void settingsChanged();
    void reportOpenRequested(const QString &htmlPath);

private:
    struct Run;

    BenchProfile profileNow(QString *error) const;
    bool startLive(Run &run);
    bool startCaptureCheck(Run &run, const QString &capture);
    void tick();
    void finishLive();
    void finishCaptureCheck();
    void conclude(CheckReport report, const ScanStatistics &stats);
    void setPhase(Phase phase);
    void clearVerdict();
    void healthTick();

    SensorSession *session;
    StationLine line;
    std::unique_ptr<AttemptCounter> counter;
    QString modelName;
    QString profilePath;
    QString profileProblem;
    double seconds = 30;
    QString operatorName, lot;
    bool sound = true;
    int verdictSeconds = 0;
    QString reportFolder;
    Phase state = Phase::Idle;
    std::unique_ptr<Run> run;
    QTimer ticker;
    QTimer verdictTimer;
    QVector<StationRun> runs;
    EndSound *endSound = nullptr;

    LiveHealth liveHealth;
    bool healthShown = false;
    QTimer healthTimer;
    int quietTicks = 0;
    long long scansSinceTick = 0;
};

#endif
