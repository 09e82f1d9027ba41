#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

SimProcess::SimProcess(const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(VANTOSCOPE_SIM_PATH), arguments);
    if (!process.waitForStarted(5000) || !waitForOutput(QStringLiteral("\nversion:"), 5000)) {
        if (!waitForOutput(QStringLiteral("\nreplay:"), 100))
            return;
    }
    for (const QString &line : collected.split('\n'))
        if (line.startsWith(QLatin1String("port: ")))
            port_ = line.mid(6).trimmed();
}

SimProcess::~SimProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }
}

QString SimProcess::output()
{
    collected += QString::fromLocal8Bit(process.readAllStandardOutput());
    return collected;
}

bool SimProcess::waitForOutput(const QString &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!output().contains(text)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForReadyRead(20);
    }
    return true;
}

bool SimProcess::waitForExit(int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}
