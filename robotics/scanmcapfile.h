#ifndef VANTOSCOPE_ROBOTICS_SCANMCAPFILE_H
#define VANTOSCOPE_ROBOTICS_SCANMCAPFILE_H

#include "mcap/mcapwriter.h"
#include "scanmessages.h"

#include <QFile>

// A stream of published scans as an MCAP file with the /scan and /points
// channels (see scanmessages.h). Each scan's two messages are logged and
// published at its message time.
class ScanMcapFile
{
public:
    explicit ScanMcapFile(const Robotics::ScanGrid &grid);

    // Creates `path` (replacing a file there). `library` names the writer
    // in the file's header. False with errorString() when it cannot be
    // written.
    bool open(const QString &path, McapWriter::Compression compression, const QByteArray &library);
    bool add(const SensorScan &scan);
    // Writes the summary and closes the file; false when any write failed.
    bool close();
    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return error; }
    int scans() const { return count; }

private:
    bool fail(const QString &reason);

    Robotics::ScanEncoder encoder;
    McapWriter writer;
    QFile file;
    QString error;
    QByteArray message;
    uint16_t scanChannel = 0;
    uint16_t pointsChannel = 0;
    int count = 0;
};

#endif
