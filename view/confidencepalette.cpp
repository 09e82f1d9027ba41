#include "confidencepalette.h"

#include <QRgb>
#include <array>
#include <cmath>

namespace {

// The anchors are exact; the entries between them are interpolated linearly.
struct PaletteAnchor
{
    int index;
    int red, green, blue;
};
constexpr PaletteAnchor paletteAnchors[] = {
    {0, 16, 0, 2},        {16, 27, 7, 73},     {32, 43, 17, 163},   {48, 60, 32, 214},
    {64, 76, 53, 217},    {80, 93, 76, 217},   {96, 113, 93, 217},  {112, 149, 92, 199},
    {128, 199, 68, 151},  {144, 233, 64, 112}, {160, 248, 88, 84},  {176, 255, 120, 63},
    {192, 255, 147, 46},  {208, 255, 177, 40}, {224, 255, 204, 40}, {240, 255, 234, 124},
    {255, 255, 254, 251},
};

std::array<QRgb, 256> buildIntensityPalette()
{
    std::array<QRgb, 256> table{};
    const int anchors = int(sizeof(paletteAnchors) / sizeof(paletteAnchors[0]));
    for (int a = 0; a + 1 < anchors; ++a) {
        const PaletteAnchor &lo = paletteAnchors[a];
        const PaletteAnchor &hi = paletteAnchors[a + 1];
        const int span = hi.index - lo.index;
        for (int i = lo.index; i <= hi.index; ++i) {
            const int t = i - lo.index;
            auto mix = [&](int from, int to) {
                return int(std::lround(from + double(to - from) * t / span));
            };
            table[size_t(i)] =
                qRgb(mix(lo.red, hi.red), mix(lo.green, hi.green), mix(lo.blue, hi.blue));
        }
    }
    return table;
}

const std::array<QRgb, 256> &intensityPalette()
{
    static const std::array<QRgb, 256> table = buildIntensityPalette();
    return table;
}

} // namespace

namespace ConfidencePalette {

QColor intensityColor(int confidence)
{
    return QColor(intensityPalette()[size_t(qBound(0, confidence, 255))]);
}

QColor colorFor(uint8_t confidence, Edition::DecoderKind kind)
{
    if (Edition::usesCommandProtocol(kind))
        return intensityColor(confidence);
    if (kind == Edition::DecoderKind::StreamFlagInConfidence) {
        if (confidence & 1)
            return QColor(Qt::red);
        const int grey = confidence & ~1;
        return QColor(grey, grey, grey, 255);
    }
    return QColor(confidence, confidence, confidence, 255);
}

} // namespace ConfidencePalette
