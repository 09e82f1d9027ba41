#ifndef VANTOSCOPE_MCAPEXPORT_H
#define VANTOSCOPE_MCAPEXPORT_H

#include "mcap/mcapwriter.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class QThread;

// Export → MCAP: decodes a whole capture once more, off the window's
// thread, through a session of its own as the window decodes it (the model
// and the filter switch as they are), and writes the scans' /scan and
// /points messages at their recorded times (see robotics/scanmcapfile.h).
class McapExport : public QObject
{
    Q_OBJECT
public:
    struct Job
    {
        QString capture;
        QString target;
        QString model;
        bool filter = true;
        int rawBaudrate = 0; // for a raw .bin capture
        McapWriter::Compression compression = McapWriter::Compression::Zstd;
    };
    struct Result
    {
        bool ok = false;
        int scans = 0;
        QString error;
    };

    explicit McapExport(QObject *parent = nullptr);
    // An export still running is cancelled; what it wrote is closed as a
    // whole file.
    ~McapExport() override;

    // False while an export is running.
    bool start(const Job &job);
    bool running() const { return worker != nullptr; }

    // The export itself, on the calling thread; it stops early, with the
    // file whole, once `cancel` is set.
    static Result run(const Job &job, const std::atomic<bool> *cancel = nullptr);

signals:
    void finished(const McapExport::Job &job, const McapExport::Result &result);

private:
    QThread *worker = nullptr;
    std::shared_ptr<std::atomic<bool>> cancel;
};

#endif
