#ifndef VANTOSCOPE_SIM_SIMMODELS_H
#define VANTOSCOPE_SIM_SIMMODELS_H

#include <QString>
#include <QVector>

// How the simulator plays one sensor model: its line speed, wire format and
// the rotation and sample rates of a typical unit.
struct SimModel
{
    enum Format { Pkg47, Pkg36, PkgVariable, Fir, Maple };

    QString name;
    int baudrate;
    Format format;
    double rotationHz;     // streaming models: revolutions per second
    int samplesPerSecond;  // streaming models: points per second
    double frameHz;        // command-protocol models: sample frames per second
    bool flagConfidence;   // bit 0 of the confidence marks bright reflectors
    bool inClassic;        // also known to the earlier edition

    bool commandProtocol() const { return format == Fir || format == Maple; }
    // Scans per second the viewer should report.
    double scanHz() const { return commandProtocol() ? frameHz : rotationHz; }
};

const QVector<SimModel> &simModels();
const SimModel *findSimModel(const QString &name);

#endif
