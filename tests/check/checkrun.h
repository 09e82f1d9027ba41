#ifndef VANTOSCOPE_TEST_CHECKRUN_H
#define VANTOSCOPE_TEST_CHECKRUN_H

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

// vantoscope-check and the simulator as a user runs them.
struct ProgramRun
{
    int status = -1;
    QString out;
    QString err;
};

inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             int timeoutMs = 300000)
{
    QProcess process;
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline ProgramRun runCheck(const QStringList &arguments, int timeoutMs = 300000)
{
    return runProgram(QStringLiteral(VANTOSCOPE_CHECK_PATH), arguments, timeoutMs);
}

inline ProgramRun runSim(const QStringList &arguments)
{
    return runProgram(QStringLiteral(VANTOSCOPE_SIM_PATH), arguments);
}

inline QStringList checkEditions()
{
#ifdef VANTOSCOPE_CHECK_CLASSIC
    return {QStringLiteral("full"), QStringLiteral("classic")};
#else
    return {QStringLiteral("full")};
#endif
}

// The models an edition's check knows, from its --help.
inline QStringList editionModels(const QString &edition)
{
    const ProgramRun help =
        runCheck({QStringLiteral("--edition"), edition, QStringLiteral("--help")});
    const QString marker = QStringLiteral("Models of this edition: ");
    const int at = help.out.indexOf(marker);
    if (at < 0)
        return {};
    const QString line = help.out.mid(at + marker.size()).section(QLatin1Char('\n'), 0, 0);
    return line.split(QStringLiteral(", "), Qt::SkipEmptyParts);
}

// The checks of a JSON report by key (a reference's two checks come last).
inline QJsonObject checkByKey(const QJsonObject &report, const QString &key)
{
    for (const QJsonValue &v : report[QStringLiteral("checks")].toArray())
        if (v.toObject()[QStringLiteral("key")].toString() == key)
            return v.toObject();
    return {};
}

inline QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The failed checks of a JSON report, for messages.
inline QString failedChecks(const QJsonObject &report)
{
    QStringList failed;
    for (const QJsonValue &v : report[QStringLiteral("checks")].toArray()) {
        const QJsonObject c = v.toObject();
        if (c[QStringLiteral("verdict")].toString() == QLatin1String("fail"))
            failed << QStringLiteral("%1=%2").arg(
                c[QStringLiteral("key")].toString(),
                c[QStringLiteral("value")].toVariant().toString());
    }
    return failed.join(QStringLiteral(", "));
}

#endif
