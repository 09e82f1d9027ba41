#ifndef VANTOSCOPE_FUZZ_INVARIANTS_H
#define VANTOSCOPE_FUZZ_INVARIANTS_H

#include "points/pointdata.h"

#include <QList>
#include <QVector>

namespace Bridge {
class ClientState;
}

class LiPkg;
class QTRNet;
class DebugPkg;
class CaptureReader;
struct CaptureRecord;
class ScanStatistics;
struct CheckReport;
class QByteArray;
class QString;

// Invariants the decoders keep on any byte sequence. Each check returns the
// name of the first invariant it finds broken, or nullptr when all hold.
namespace Invariants {

// A scan published by LiPkg: finite angles below the marker's, every point
// but the last a real point, the end-of-scan marker last.
const char *checkStreamScan(const PointList &scan);
// A scan published by QTRNet: finite angles, no end-of-scan marker.
const char *checkCommandScan(const PointList &scan);

// The receive and assembly state, after every chunk.
const char *checkLiPkg(const LiPkg &decoder);
const char *checkQTRNet(const QTRNet &decoder);
// The published scan and the figures read with it, after every mapReady
// (the only time the scan changes).
const char *checkLiPkgScan(const LiPkg &decoder);
const char *checkQTRNetScan(const QTRNet &decoder);
const char *checkDebugPkg(const DebugPkg &decoder);

// A record read from a capture of `inputSize` bytes, after `bytesBefore`
// bytes of earlier records, the previous one timed `previousTime`.
const char *checkCaptureRecord(const CaptureReader &reader, const CaptureRecord &record,
                               qint64 previousTime, qint64 bytesBefore, qint64 inputSize);
// The reader once it has no more records.
const char *checkCaptureEnd(const CaptureReader &reader);

// The bench check's statistics once a capture has been replayed.
const char *checkBenchStatistics(const ScanStatistics &stats);
// Its checks: every verdict agrees with the value and the limits.
const char *checkBenchReport(const CheckReport &report);
// One bridge client's subscriptions after a message, and the replies it got:
// each subscription on an offered channel, no channel twice, no more than
// the limit; every reply a status message of a known level, short, and no
// more of them than the limit.
const char *checkBridgeClient(const Bridge::ClientState &client,
                              const QVector<QByteArray> &replies);
// The three written reports of `report`.
const char *checkBenchReportTexts(const CheckReport &report, const QString &text,
                                  const QByteArray &json, const QByteArray &junit);

} // namespace Invariants

#endif
