#include "simmodels.h"

SimModel::SimModel(const Models::Record &row)
    : name(row.displayName()), baudrate(row.baudrate), format(row.format),
      rotationHz(row.commandProtocol() ? 0 : row.scanHz),
      samplesPerSecond(row.commandProtocol() ? 0 : row.pointsPerSecond),
      frameHz(row.commandProtocol() ? row.scanHz : 0),
      flagConfidence(row.decoderKind == Models::DecoderKind::StreamFlagInConfidence),
      inClassic(row.classic.known)
{
}

const QVector<SimModel> &simModels()
{
    static const QVector<SimModel> models = [] {
        QVector<SimModel> list;
        for (const Models::Record &row : Models::rows())
            list.append(SimModel(row));
        return list;
    }();
    return models;
}

const SimModel *findSimModel(const QString &name)
{
    for (const SimModel &model : simModels())
        if (model.name.compare(name, Qt::CaseInsensitive) == 0)
            return &model;
    return nullptr;
}
