#include "mcapexport.h"

#include "capture/capturereader.h"
#include "editions/edition.h"
#include "editions/modeltable.h"
#include "robotics/scanmcapfile.h"
#include "session/sensorsession.h"

#include <QThread>

McapExport::McapExport(QObject *parent) : QObject(parent) {}

McapExport::~McapExport()
{
    if (worker) {
        *cancel = true;
        worker->wait();
        delete worker;
    }
}

bool McapExport::start(const Job &job)
{
    if (worker)
        return false;
    auto result = std::make_shared<Result>();
    cancel = std::make_shared<std::atomic<bool>>(false);
    worker = QThread::create([job, result, stop = cancel] { *result = run(job, stop.get()); });
    connect(worker, &QThread::finished, this, [this, job, result] {
        worker->deleteLater();
        worker = nullptr;
        emit finished(job, *result);
    });
    worker->start();
    return true;
}

McapExport::Result McapExport::run(const Job &job, const std::atomic<bool> *cancel)
{
    Result result;
    const Models::Record *model = Models::find(job.model, Qt::CaseSensitive);
    if (!model) {
        result.error = QStringLiteral("unknown model %1").arg(job.model);
        return result;
    }
    CaptureReader reader;
    if (!reader.open(job.capture, job.rawBaudrate)) {
        result.error = reader.errorString();
        return result;
    }
    ScanMcapFile file(Robotics::ScanGrid::forModel(*model));
    if (!file.open(job.target, job.compression,
                   QByteArrayLiteral("Vantoscope ") + Edition::versionText)) {
        result.error = file.errorString();
        return result;
    }

    // Each record reaches the decoders at its recorded time, as in a replay.
    qint64 recordTime = 0;
    SensorSession session;
    session.chooseModel(job.model);
    session.setFilterEnabled(job.filter);
    session.setCalibrateFromStream(true);
    session.setTimeSource([&recordTime] { return recordTime; });
    session.setWallClock(reader.format() == CaptureReader::Format::Pcapng
                             ? SensorSession::WallClock::FromTimeSource
                             : SensorSession::WallClock::Unknown);
    QObject::connect(&session, &SensorSession::scanReady, &session,
                     [&file](const SensorScan &scan) { file.add(scan); });
    CaptureRecord record;
    while ((!cancel || !*cancel) && reader.readNext(record)) {
        if (!reader.feedsDecoders(record))
            continue;
        recordTime = record.timeNs;
        session.push(record.data);
    }
    result.scans = file.scans();
    result.ok = file.close() && !reader.damaged();
    if (!result.ok)
        result.error = reader.damaged() ? reader.errorString() : file.errorString();
    return result;
}
