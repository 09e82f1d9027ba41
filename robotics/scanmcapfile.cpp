#include "scanmcapfile.h"

using namespace Robotics;

ScanMcapFile::ScanMcapFile(const ScanGrid &grid) : encoder(grid) {}

bool ScanMcapFile::open(const QString &path, McapWriter::Compression compression,
                        const QByteArray &library)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(file.errorString());
    McapWriter::Options options;
    options.compression = compression;
    options.library = library;
    if (!writer.open(&file, options))
        return fail(writer.errorString());
    const uint16_t laserScan =
        writer.addSchema(laserScanSchemaName, schemaEncoding, laserScanSchema());
    const uint16_t pointCloud =
        writer.addSchema(pointCloudSchemaName, schemaEncoding, pointCloudSchema());
    scanChannel = writer.addChannel(laserScan, scanTopic, messageEncoding);
    pointsChannel = writer.addChannel(pointCloud, pointsTopic, messageEncoding);
    return true;
}

bool ScanMcapFile::add(const SensorScan &scan)
{
    if (!writer.isOpen())
        return false;
    const auto time = static_cast<uint64_t>(std::max<qint64>(0, messageTime(scan)));
    encoder.laserScan(scan, message);
    bool written = writer.write(scanChannel, time, time, message);
    encoder.pointCloud(scan, message);
    written = written && writer.write(pointsChannel, time, time, message);
    if (!written)
        return fail(writer.errorString());
    ++count;
    return true;
}

bool ScanMcapFile::close()
{
    if (!file.isOpen())
        return error.isEmpty();
    if (!writer.close())
        fail(writer.errorString());
    if (!file.flush())
        fail(file.errorString());
    file.close();
    return error.isEmpty();
}

bool ScanMcapFile::fail(const QString &reason)
{
    if (error.isEmpty())
        error = reason;
    return false;
}
