#include "ptysensor.h"

#include "capture/replayengine.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

const char *commandName(int command)
{
    switch (command) {
    case 2:
        return "start";
    case 15:
        return "stop";
    case 18:
        return "calibration request";
    case 21:
        return "columns request";
    case 127:
        return "information request";
    default:
        return "unknown";
    }
}

// CLOCK_MONOTONIC is shared by all processes, so a viewer can compare its own
// times with the ones printed here.
qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

} // namespace

PtySensor::PtySensor(const SimModel &simModel, SensorSim sensorSim, const Options &opts)
    : model(simModel), sim(std::move(sensorSim)), options(opts)
{
}

PtySensor::~PtySensor()
{
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
}

bool PtySensor::startCapture(QString *error)
{
    capture = std::make_unique<ReplayEngine>();
    if (!capture->open(options.replayCapture)) {
        *error = capture->errorString();
        return false;
    }
    capture->setSink([this](const QByteArray &bytes) { send(bytes); });
    capture->setSpeed(options.replaySpeed);
    capture->setLoop(options.loop);
    connect(capture.get(), &ReplayEngine::finished, this, [] {
        out() << "replay finished\n";
        out().flush();
    });
    return true;
}

bool PtySensor::start(QString *error)
{
    if (!options.replayCapture.isEmpty() && !startCapture(error))
        return false;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(strerror(errno));
        return false;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    out() << "port: " << name << "\n"
          << "model: " << model.name << " (" << model.baudrate << " baud)\n";
    if (capture)
        out() << "replay: " << capture->recordCount() << " records, " << capture->duration() / 1e9
              << " s\n";
    else if (options.replay.isEmpty())
        out() << "version: " << sim.versionText() << "\n";
    else
        out() << "replay: " << options.replay.size() << " bytes\n";
    out().flush();

    notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &PtySensor::readCommands);
    if (capture) {
        capture->play();
    } else {
        connect(&ticker, &QTimer::timeout, this, &PtySensor::tick);
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.start(5);
    }
    if (options.disconnectAfter > 0)
        QTimer::singleShot(static_cast<int>(options.disconnectAfter * 1000), this,
                           &PtySensor::disconnectLine);
    clock.start();
    return true;
}

void PtySensor::send(const QByteArray &bytes)
{
    if (bytes.isEmpty() || master < 0)
        return;
    const ssize_t n = ::write(master, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (n < bytes.size()) {
        // Nobody reads the line: like a real sensor, the bytes are lost. Drop
        // what is queued so a viewer that opens the port later sees fresh data.
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        tcflush(slave, TCIFLUSH);
    }
}

void PtySensor::tick()
{
    const double t = now();
    if (options.replay.isEmpty()) {
        send(sim.advance(t));
        if (sim.scansSent() > reportedScans) {
            const qint64 sentAt = monotonicNs();
            if (options.reportStretches)
                for (int k = reportedScans + 1; k <= sim.scansSent(); ++k)
                    scanSentAt.insert(k, sentAt);
            reportedScans = sim.scansSent();
            if (options.reportScans) {
                out() << "scan " << reportedScans << " " << sentAt << "\n";
                out().flush();
            }
        }
        if (options.reportStretches)
            reportStretches();
        return;
    }
    // A byte on the line takes ten bit times (start, eight data bits, stop).
    replayCredit += (t - lastTick) * model.baudrate / 10.0 * options.replaySpeed;
    lastTick = t;
    const int due = static_cast<int>(replayCredit);
    if (due <= 0)
        return;
    replayCredit -= due;
    QByteArray chunk;
    while (chunk.size() < due) {
        if (replayPos >= options.replay.size()) {
            if (!options.loop)
                break;
            replayPos = 0;
        }
        const int take = std::min(due - chunk.size(), options.replay.size() - replayPos);
        chunk.append(options.replay.constData() + replayPos, take);
        replayPos += take;
    }
    send(chunk);
    if (replayPos >= options.replay.size() && !options.loop && ticker.isActive()) {
        ticker.stop();
        out() << "replay finished\n";
        out().flush();
    }
}

void PtySensor::reportStretches()
{
    // A tick that comes late (the machine was busy) sends several scans at
    // once, and their times no longer tell them apart: a stretch must neither
    // begin nor end among them.
    const auto apart = static_cast<qint64>(0.75e9 / model.scanHz());
    const auto separated = [this, apart](int scan) {
        return scanSentAt.value(scan + 1) - scanSentAt.value(scan) >= apart;
    };
    for (CleanStretch stretch : sim.takeCleanStretches()) {
        while (stretch.count() > 0 && !separated(stretch.firstScan - 1))
            ++stretch.firstScan;
        while (stretch.count() > 0 && !separated(stretch.lastScan))
            --stretch.lastScan;
        if (stretch.count() <= 0)
            continue;
        out() << "clean " << stretch.firstScan << " " << stretch.lastScan << " " << stretch.count()
              << " " << scanSentAt.value(stretch.firstScan - 1) << " "
              << scanSentAt.value(stretch.lastScan) << "\n";
        out().flush();
    }
    const int oldestNeeded = sim.cleanRunStart();
    while (!scanSentAt.isEmpty() && scanSentAt.firstKey() < oldestNeeded)
        scanSentAt.erase(scanSentAt.begin());
}

void PtySensor::readCommands()
{
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0)
        return;
    if (replaying())
        return;
    const QByteArray replies = sim.receive(QByteArray(buf, static_cast<int>(n)), now());
    if (options.replyDelay > 0)
        QTimer::singleShot(static_cast<int>(options.replyDelay * 1000), this,
                           [this, replies] { send(replies); });
    else
        send(replies);
    const QVector<int> &seen = sim.commandsSeen();
    for (; reportedCommands < seen.size(); ++reportedCommands)
        out() << "command: " << seen[reportedCommands] << " ("
              << commandName(seen[reportedCommands]) << ")\n";
    out().flush();
}

void PtySensor::disconnectLine()
{
    ticker.stop();
    if (capture)
        capture->pause();
    notifier.reset();
    ::close(master);
    ::close(slave);
    master = slave = -1;
    out() << "disconnected\n";
    out().flush();
    QCoreApplication::quit();
}
