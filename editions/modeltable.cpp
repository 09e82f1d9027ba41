#include "modeltable.h"

#include <iterator>

namespace Models {

namespace {

using K = DecoderKind;
using F = StreamFormat;

// The earlier edition knew eight of these models, some under other type
// codes; rows are in selector order.
constexpr ClassicRules fullOnly{};
constexpr Record table[] = {
    // name, baud, filter, type code, decoder, format, Hz, points/s, field, earlier edition
    {"Alder", 115200, 0, 0, K::Stream, F::Pkg47, 6, 2300, 360, {true, 0}},
    {"Birch", 115200, 0, 3, K::Stream, F::Pkg47, 6, 2300, 360, {true, 1}},
    {"Cedar", 115200, 0, 5, K::Stream, F::Pkg47, 6, 2300, 360, {true, {}}},
    {"Dogwood", 230400, 1, 6, K::Stream, F::Pkg47, 10, 4000, 360, {true, {}}},
    {"Elder", 230400, 1, 0x1006, K::Stream, F::Pkg47, 10, 4000, 360, fullOnly},
    {"Fir", 921600, 2, 7, K::CommandProtocol, F::Fir, 15, 2400, 90, {true, {}, false}},
    {"Ginkgo", 115200, 0, 8, K::StreamFlagInConfidence, F::Pkg47, 6, 2300, 360, {true, 2}},
    {"Hazel", 115200, 0, 9, K::StreamFlagInConfidence, F::Pkg47, 6, 2300, 360, {true, 3}},
    {"Ironwood", 115200, 1, 18, K::Stream, F::Pkg36, 6, 2300, 360, fullOnly},
    {"Juniper", 115200, 0, 20, K::Stream, F::Pkg47, 6, 2300, 360, fullOnly},
    {"Kauri", 153600, 0, 24, K::Stream, F::PkgVariable, 10, 4000, 360, fullOnly},
    {"Larch", 230400, 1, 25, K::Stream, F::Pkg47, 10, 4000, 360, {true, {}}},
    {"Maple", 921600, 2, 32, K::CommandProtocol, F::Maple, 15, 2400, 80, fullOnly},
};

} // namespace

Rows rows()
{
    return {std::begin(table), std::end(table)};
}

const Record *find(const QString &name, Qt::CaseSensitivity cs)
{
    for (const Record &row : table)
        if (name.compare(QLatin1String(row.name), cs) == 0)
            return &row;
    return nullptr;
}

} // namespace Models
