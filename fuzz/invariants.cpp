#include "invariants.h"

#include "bridge/bridgeprotocol.h"
#include "capture/capturereader.h"
#include "check/checkreport.h"
#include "check/scanstatistics.h"

#include "debugpkg/debugpkg.h"
#include "editions/edition.h"
#include "lipkg/framedecode.h"
#include "lipkg/lipkg.h"
#include "trnet/qtrnet.h"
#include "trnet/trframe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <cmath>

namespace Invariants {

namespace {

bool isMarker(const PointData &p)
{
    return p.angle == endOfScanAngle && p.distance == 0 && p.confidence == 0;
}

// The map view looks points up by angle; the lookup gives -1 or an index
// inside the scan, whatever the angles.
bool lookupInRange(int index, int size)
{
    return index == -1 || (index >= 0 && index < size);
}

} // namespace

const char *checkStreamScan(const PointList &scan)
{
    if (scan.isEmpty())
        return nullptr; // nothing published yet
    if (!isMarker(scan.last()))
        return "stream scan: end-of-scan marker last";
    if (scan.size() > LiPkg::maxPendingPoints + 1)
        return "stream scan: at most maxPendingPoints points";
    for (int i = 0; i + 1 < scan.size(); ++i) {
        const double a = scan[i].angle;
        if (!std::isfinite(a))
            return "stream scan: angles finite";
        if (std::fabs(a) >= endOfScanAngle)
            return "stream scan: angles below the end-of-scan marker's";
    }
    return nullptr;
}

const char *checkCommandScan(const PointList &scan)
{
    for (const PointData &p : scan) {
        if (!std::isfinite(p.angle))
            return "command scan: angles finite";
        if (std::fabs(p.angle) >= endOfScanAngle)
            return "command scan: no end-of-scan marker, angles within one turn";
    }
    if (scan.size() > TRFrame::maxLength / 2)
        return "command scan: at most one point per sample";
    return nullptr;
}

const char *checkLiPkg(const LiPkg &d)
{
    const FrameDecode::Format format = Edition::pkg47Only
                                           ? FrameDecode::Format::Pkg47
                                           : FrameDecode::formatForModel(d.modelType());
    if (d.rxBufferSize() < 0 || d.rxBufferSize() > FrameDecode::bufferLimit(format))
        return "LiPkg: receive buffer within the format's limit";
    if (d.pendingPointCount() < 0 || d.pendingPointCount() > LiPkg::maxPendingPoints)
        return "LiPkg: pending points within maxPendingPoints";
    if (d.speedListSize() < 0 || d.speedListSize() > LiPkg::maxPendingPoints)
        return "LiPkg: speed list within maxPendingPoints";
    if (d.scanStartIndex() < 0 || d.scanStartIndex() > d.pendingPointCount())
        return "LiPkg: scan start within the pending points";
    if (d.scanEndIndex() < 0 || d.scanEndIndex() > d.pendingPointCount())
        return "LiPkg: scan end within the pending points";
    if (d.errorCount() < 0)
        return "LiPkg: error count not negative";
    if (!std::isfinite(d.rotationSpeed()) || !std::isfinite(d.scanRate()))
        return "LiPkg: rotation speed and scan rate finite";
    return nullptr;
}

const char *checkLiPkgScan(const LiPkg &d)
{
    const PointList scan = d.currentScan();
    if (const char *broken = checkStreamScan(scan))
        return broken;
    if (d.validCount() < 0 || d.validCount() > scan.size())
        return "LiPkg: valid count within the scan";
    if (d.pointTotal() < 0 || d.pointTotal() > LiPkg::maxPendingPoints)
        return "LiPkg: points per scan within maxPendingPoints";
    for (double angle : {-1.0, 0.0, 90.5, 359.99, 720.0})
        if (!lookupInRange(d.nearestPointIndex(angle), scan.size()))
            return "LiPkg: nearest point inside the scan";
    return nullptr;
}

const char *checkQTRNet(const QTRNet &d)
{
    if (d.rxBufferSize() < 0 || d.rxBufferSize() > TRFrame::maxLength + FrameSplitter::slack)
        return "QTRNet: receive buffer within one frame plus slack";
    if (d.rxLiveBytes() < 0 || d.rxLiveBytes() > d.rxBufferSize())
        return "QTRNet: live bytes within the receive buffer";
    if (d.rxLiveBytes() > TRFrame::maxLength)
        return "QTRNet: live bytes within one longest frame";
    if (d.rxPendingHeaders() < 0 || d.rxPendingHeaders() > TRFrame::maxLength)
        return "QTRNet: waiting headers within one longest frame";
    if (std::isnan(d.scanRate()))
        return "QTRNet: scan rate a number";
    if (d.lastDecodedFrame().payload.size() > TRFrame::maxLength - TRFrame::overhead)
        return "QTRNet: frame payload within the length field's range";
    return nullptr;
}

const char *checkQTRNetScan(const QTRNet &d)
{
    if (d.currentSamples().size() > TRFrame::maxLength / 2)
        return "QTRNet: at most one sample per two payload bytes";
    const PointList scan = d.currentScan();
    if (const char *broken = checkCommandScan(scan))
        return broken;
    if (d.validCount() < 0 || d.validCount() > scan.size())
        return "QTRNet: valid count within the scan";
    for (double angle : {-1.0, 0.0, 45.0, 359.99})
        if (!lookupInRange(d.nearestPointIndex(angle), scan.size()))
            return "QTRNet: nearest point inside the scan";
    return nullptr;
}

const char *checkDebugPkg(const DebugPkg &d)
{
    if (d.bufferedFrameBytes() < 0 || d.bufferedFrameBytes() >= DebugPkg::frameBufferSize)
        return "DebugPkg: frame buffer below its size";
    if (d.queuedBytes() < 0 || d.queuedBytes() > DebugPkg::queueLimit)
        return "DebugPkg: receive queue within its cap";
    return nullptr;
}

const char *checkCaptureRecord(const CaptureReader &reader, const CaptureRecord &record,
                               qint64 previousTime, qint64 bytesBefore, qint64 inputSize)
{
    if (record.data.isEmpty())
        return "capture records carry bytes";
    // Every record's bytes are a part of the input of their own.
    if (bytesBefore + record.data.size() > inputSize)
        return "capture records lie within the input";
    if (record.timeNs < previousTime)
        return "capture times never go backwards";
    if (record.interface < 0 || record.interface >= reader.interfaces().size())
        return "capture records name a known interface";
    return nullptr;
}

const char *checkCaptureEnd(const CaptureReader &reader)
{
    if (reader.interfaces().size() > CaptureReader::maxInterfaces)
        return "capture interfaces stay bounded";
    if (reader.truncated() && reader.damaged())
        return "a cut-off capture is not also damaged";
    return nullptr;
}

const char *checkBenchStatistics(const ScanStatistics &stats)
{
    const double coverage = stats.coverage();
    if (!(coverage >= 0 && coverage <= 1))
        return "bench check: coverage within [0, 1]";
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double sigma = stats.binSigma(i);
        if (!std::isnan(sigma) && !(sigma >= 0))
            return "bench check: a bin's sigma is NaN or at least 0";
    }
    const Histogram &gaps = stats.largestGap();
    for (const double q : {0.0, 0.5, 1.0}) {
        const double gap = gaps.quantile(q);
        if (gaps.count() > 0 && !(gap >= 0 && gap <= 360))
            return "bench check: the largest gap lies within [0, 360] degrees";
    }
    return nullptr;
}

const char *checkBenchReport(const CheckReport &report)
{
    if (!(report.failures() <= report.counted() && report.counted() <= report.checks.size()))
        return "bench check: failures <= counted <= checks";
    // The checks that fail, with no value, when they could not be measured.
    static const QStringList required{
        QStringLiteral("handshake_ms"), QStringLiteral("time_to_first_scan"),
        QStringLiteral("points_per_scan_mean"), QStringLiteral("reference_bias"),
        QStringLiteral("reference_sigma")};
    for (const CheckResult &c : report.checks) {
        if (c.isText())
            continue;
        const double v = c.value;
        const bool outside = (c.low && v < *c.low) || (c.high && v > *c.high);
        switch (c.verdict) {
        case Verdict::Pass:
            if (!std::isfinite(v))
                return "bench check: a passed check has a finite value";
            if (outside)
                return "bench check: a passed check lies within its limits";
            break;
        case Verdict::Fail:
            if (std::isnan(v)) {
                if (!required.contains(c.key))
                    return "bench check: only a required check fails unmeasured";
            } else if (!std::isfinite(v)) {
                return "bench check: a failed check has a finite value or none";
            } else if (!outside) {
                return "bench check: a failed check lies outside its limits";
            }
            break;
        case Verdict::Skipped:
            if (!std::isnan(v))
                return "bench check: a skipped check has no value";
            break;
        }
    }
    return nullptr;
}

const char *checkBenchReportTexts(const CheckReport &report, const QString &text,
                                  const QByteArray &json, const QByteArray &junit)
{
    if (!text.endsWith(report.verdictLine() + QLatin1Char('\n')))
        return "bench check: the text report ends with the verdict line";

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return "bench check: the JSON report is a JSON object";
    const QJsonValue checks = doc.object().value(QStringLiteral("checks"));
    if (!checks.isArray() || checks.toArray().size() != report.checks.size())
        return "bench check: the JSON report has one entry per check";

    QXmlStreamReader xml(junit);
    int testcases = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("testcase"))
            ++testcases;
    }
    if (xml.hasError())
        return "bench check: the JUnit report is well-formed XML";
    if (testcases != report.checks.size())
        return "bench check: the JUnit report has one testcase per check";
    return nullptr;
}

const char *checkBridgeClient(const Bridge::ClientState &client, const QVector<QByteArray> &replies)
{
    QVector<uint32_t> channels;
    for (const auto &[id, channel] : client.all()) {
        if (channel != 1 && channel != 2)
            return "bridge subscription on a channel not offered";
        if (channels.contains(channel))
            return "bridge channel subscribed twice";
        channels << channel;
    }
    if (client.subscriptionCount() > Bridge::maxSubscriptions)
        return "bridge subscriptions over the limit";
    if (replies.size() > Bridge::maxSubscriptions)
        return "bridge replies over the limit";
    for (const QByteArray &reply : replies) {
        if (reply.size() > 512)
            return "bridge reply too long";
        const QJsonObject status = QJsonDocument::fromJson(reply).object();
        const int level = status.value(QLatin1String("level")).toInt(-1);
        if (status.value(QLatin1String("op")).toString() != QLatin1String("status") || level < 0 ||
            level > 2 || status.value(QLatin1String("message")).toString().isEmpty())
            return "bridge reply not a status message";
    }
    return nullptr;
}

} // namespace Invariants
