#ifndef VANTOSCOPE_CAPTURE_CAPTUREREADER_H
#define VANTOSCOPE_CAPTURE_CAPTUREREADER_H

#include "capturerecord.h"

#include <QVector>
#include <memory>

class QIODevice;

// One interface of a capture: a line with its own metadata and clock.
struct CaptureInterface
{
    int linkType = 0;
    CaptureMetadata metadata;
};

// Reads the records of a pcapng capture one at a time from a file or any
// readable device, as written by CaptureWriter or after other tools have cut
// or merged it: several sections in either byte order, several interfaces,
// any timestamp resolution; blocks and options it does not know are
// skipped. A raw byte file (no timestamps) reads as 64-byte inbound records
// paced at the line speed.
//
// Memory stays bounded whatever the input: one block at a time, blocks over
// 16 MiB are refused as damage, and at most maxInterfaces interfaces are
// kept. Times are clamped so that they never go backwards from one record to
// the next. A cut-off final block ends the records at the last whole one and
// sets truncated(); damage ends them with errorString().
class CaptureReader
{
public:
    enum class Format
    {
        None,
        Pcapng,
        Raw,
    };
    static constexpr int rawRecordBytes = 64;
    static constexpr int maxInterfaces = 4096;

    CaptureReader();
    ~CaptureReader();
    CaptureReader(const CaptureReader &) = delete;
    CaptureReader &operator=(const CaptureReader &) = delete;

    // A pcapng capture is recognised by its first block. Other files are
    // read as raw bytes only when their name ends in ".bin" and
    // `rawBaudrate` (the model's line speed) is given; anything else is an
    // error saying it is not a capture.
    bool open(const QString &path, int rawBaudrate = 0);
    // As open(path), for a device already open for reading, which stays the
    // caller's. Without a pcapng header it is raw when `rawBaudrate` > 0.
    bool open(QIODevice *device, int rawBaudrate = 0);
    void close();

    // True for a pcapng section header at the start of `head`.
    static bool isPcapng(const QByteArray &head);

    // The next record, false at the end (or on damage). Records without
    // bytes are passed over.
    bool readNext(CaptureRecord &record);
    // Back to the first record; false when the device cannot seek.
    bool rewind();

    Format format() const { return kind; }
    bool truncated() const { return cut; }
    bool damaged() const { return !error.isEmpty() && kind != Format::None; }
    QString errorString() const { return error; }
    // Whether `record` carries sensor bytes for the decoders: received on a
    // line of the serial-bytes link type. Replays, the decoder and the check
    // all feed exactly these.
    bool feedsDecoders(const CaptureRecord &record) const;
    // Interfaces seen so far, across all sections.
    const QVector<CaptureInterface> &interfaces() const { return lines; }
    // The sensor's version text, once read.
    QString versionText() const { return version; }
    // When the line was lost (nanoseconds since the epoch), for each loss
    // noted in the records read so far.
    const QVector<qint64> &lineLosses() const { return losses; }

private:
    struct Clock;
    enum class Block
    {
        Read,
        End,
        Truncated,
        Damaged,
    };

    bool start(int rawBaudrate);
    bool readRaw(CaptureRecord &record);
    Block readBlock();
    bool readExactly(char *to, qint64 n);
    bool takeSection();
    bool takeInterface();
    bool takePacket(CaptureRecord &record);
    void stop(Block why, const QString &reason = {});

    std::unique_ptr<QIODevice> owned;
    QIODevice *device = nullptr;
    Format kind = Format::None;
    int rawSpeed = 0;
    qint64 rawOffset = 0;
    QByteArray block; // the current block without its type and lengths
    uint32_t blockType = 0;
    bool bigEndian = false;
    bool ended = false;
    bool cut = false;
    int sectionBase = 0;
    QString sectionApplication;
    QString sectionComment;
    QVector<CaptureInterface> lines;
    std::vector<Clock> clocks;
    qint64 lastTime = 0;
    qint64 blockOffset = 0;
    QString version;
    QVector<qint64> losses;
    QString error;
};

#endif
