#ifndef VANTOSCOPE_STATUSBLOCK_H
#define VANTOSCOPE_STATUSBLOCK_H

#include "editions/modelrules.h"
#include "points/sensorscan.h"

#include <QString>
#include <QVector>

// The lines of the map's status block: the figures of a published scan as
// the edition shows them for a decoder kind, each with its baseline in
// canvas pixels. A value; it needs Qt Core only.
class StatusBlock
{
public:
    struct Line
    {
        QString text;
        int baseline = 0;
        bool operator==(const Line &o) const { return baseline == o.baseline && text == o.text; }
        bool operator!=(const Line &o) const { return !(*this == o); }
    };

    StatusBlock() = default;
    // `figures` is the last scan of the decoder family `kind` chooses; its
    // error count is the streaming decoder's whatever the kind, and shows
    // only with `showError`.
    StatusBlock(const SensorScan &figures, Edition::DecoderKind kind, bool showError);

    const QVector<Line> &lines() const { return lines_; }
    bool operator==(const StatusBlock &o) const { return lines_ == o.lines_; }
    bool operator!=(const StatusBlock &o) const { return !(*this == o); }

private:
    QVector<Line> lines_;
};

#endif
