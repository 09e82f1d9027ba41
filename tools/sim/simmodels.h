#ifndef VANTOSCOPE_SIM_SIMMODELS_H
#define VANTOSCOPE_SIM_SIMMODELS_H

#include "editions/modeltable.h"

#include <QString>
#include <QVector>

// How the simulator plays one sensor model: its row of the model table, in
// the terms the simulator works with.
struct SimModel
{
    using Format = Models::StreamFormat;
    static constexpr Format Pkg47 = Format::Pkg47;
    static constexpr Format Pkg36 = Format::Pkg36;
    static constexpr Format PkgVariable = Format::PkgVariable;
    static constexpr Format Fir = Format::Fir;
    static constexpr Format Maple = Format::Maple;

    explicit SimModel(const Models::Record &row);

    QString name;
    int baudrate;
    Format format;
    double rotationHz;    // streaming models: revolutions per second
    int samplesPerSecond; // streaming models: points per second
    double frameHz;       // command-protocol models: sample frames per second
    bool flagConfidence;  // bit 0 of the confidence marks bright reflectors
    bool inClassic;       // also known to the earlier edition

    bool commandProtocol() const { return format == Fir || format == Maple; }
    // Scans per second the viewer should report.
    double scanHz() const { return commandProtocol() ? frameHz : rotationHz; }
};

// Every row of the model table.
const QVector<SimModel> &simModels();
const SimModel *findSimModel(const QString &name);

#endif
