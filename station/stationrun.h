#ifndef VANTOSCOPE_STATION_STATIONRUN_H
#define VANTOSCOPE_STATION_STATIONRUN_H

#include "check/checkreport.h"

#include <QMetaType>
#include <QString>

// One run of the bench station that reached a verdict, with everything a
// results store keeps of it. Published once its reports are on disk.
struct StationRun
{
    CheckReport report;
    QString unit;
    int attempt = 1;
    QString lot;
    QString operatorName;
    QString jsonPath, junitPath, htmlPath;
    QString capturePath; // the run's capture: recorded live, or the one checked
    // Key, name and value text of the check that came out worst (see
    // worstCheck()), empty when none was judged.
    QString worstKey, worstText;

    bool passed() const { return report.passed(); }
};

Q_DECLARE_METATYPE(StationRun)

#endif
