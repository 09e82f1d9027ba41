#include "simmodels.h"

const QVector<SimModel> &simModels()
{
    static const QVector<SimModel> models = {
        {"Alder", 115200, SimModel::Pkg47, 6.0, 2300, 0, false, true},
        {"Birch", 115200, SimModel::Pkg47, 6.0, 2300, 0, false, true},
        {"Cedar", 115200, SimModel::Pkg47, 6.0, 2300, 0, false, true},
        {"Dogwood", 230400, SimModel::Pkg47, 10.0, 4000, 0, false, true},
        {"Elder", 230400, SimModel::Pkg47, 10.0, 4000, 0, false, false},
        {"Fir", 921600, SimModel::Fir, 0, 0, 15.0, false, true},
        {"Ginkgo", 115200, SimModel::Pkg47, 6.0, 2300, 0, true, true},
        {"Hazel", 115200, SimModel::Pkg47, 6.0, 2300, 0, true, true},
        {"Ironwood", 115200, SimModel::Pkg36, 6.0, 2300, 0, false, false},
        {"Juniper", 115200, SimModel::Pkg47, 6.0, 2300, 0, false, false},
        {"Kauri", 153600, SimModel::PkgVariable, 10.0, 4000, 0, false, false},
        {"Larch", 230400, SimModel::Pkg47, 10.0, 4000, 0, false, true},
        {"Maple", 921600, SimModel::Maple, 0, 0, 15.0, false, false},
    };
    return models;
}

const SimModel *findSimModel(const QString &name)
{
    for (const SimModel &model : simModels())
        if (model.name.compare(name, Qt::CaseInsensitive) == 0)
            return &model;
    return nullptr;
}
