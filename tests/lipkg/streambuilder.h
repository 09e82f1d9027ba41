#ifndef VANTOSCOPE_TESTS_STREAMBUILDER_H
#define VANTOSCOPE_TESTS_STREAMBUILDER_H

#include "lipkg/lipkg.h"
#include "streamframes.h"

#include <QByteArray>
#include <QVector>

// Model type codes that select each frame format.
constexpr int pkg47Model = 0;
constexpr int pkg36Model = 18;
constexpr int pkgVariableModel = 24;

inline Wire::StreamPoint sp(uint16_t distance, uint8_t confidence = 200)
{
    return Wire::StreamPoint{distance, confidence};
}

inline QVector<Wire::StreamPoint> points(int count, uint16_t distance = 1000,
                                         uint8_t confidence = 200)
{
    QVector<Wire::StreamPoint> result;
    for (int i = 0; i < count; ++i)
        result.append(sp(static_cast<uint16_t>(distance + i), confidence));
    return result;
}

// A plausible Pkg47 frame: 12 points from `startAngle` over 11 * 0.8 degrees.
inline QByteArray pkg47Frame(uint16_t startAngle = 1000, uint8_t secondHeader = 0x2C)
{
    return Wire::encodePkg47(3600, startAngle, points(12), static_cast<uint16_t>(startAngle + 880),
                             0, secondHeader);
}

inline QByteArray pkg36Frame(double startDegrees = 10.0)
{
    return Wire::encodePkg36(3600, Wire::pkg36AngleWord(startDegrees), points(8),
                             Wire::pkg36AngleWord(startDegrees + 7.0));
}

inline QByteArray pkgVariablePacket(int samples = 20, uint8_t ct = 200)
{
    return Wire::encodePkgVariable(ct, Wire::pkgVariableAngleValue(10.0),
                                   Wire::pkgVariableAngleValue(20.0), points(samples));
}

// Bytes without any header of the three formats.
inline QByteArray garbage(int length)
{
    return QByteArray(length, char(0x11));
}

// Builds a stream whose points sit in runs at one angle each, so the test
// decides exactly where the angle wraps (from a run above 350 degrees to one
// below 10). Frames of one run all carry the run's angle as start and end.
class RunStream
{
public:
    explicit RunStream(int modelType) : modelType(modelType) {}

    // Appends `count` points at `degrees` (a multiple of 1/64 degree); point k
    // of the run gets distance distanceOf(k) (0 = no return).
    template <typename DistanceOf>
    RunStream &runWith(double degrees, int count, DistanceOf distanceOf, uint16_t speed = 3600)
    {
        int k = 0;
        const int perFrame = modelType == pkg36Model ? 8 : modelType == pkgVariableModel ? 50 : 12;
        while (k < count) {
            const int n = std::min(perFrame, count - k);
            QVector<Wire::StreamPoint> pts;
            for (int i = 0; i < n; ++i, ++k)
                pts.append(sp(distanceOf(k), 200));
            if (modelType == pkg36Model) {
                Q_ASSERT(n == 8);
                const uint16_t word = Wire::pkg36AngleWord(degrees);
                bytes += Wire::encodePkg36(speed, word, pts, word);
            } else if (modelType == pkgVariableModel) {
                const uint16_t value = Wire::pkgVariableAngleValue(degrees);
                bytes += Wire::encodePkgVariable(static_cast<uint8_t>(speed / 36 << 1), value,
                                                 value, pts);
            } else {
                Q_ASSERT(n == 12);
                const auto angle = static_cast<uint16_t>(degrees * 100 + 0.5);
                bytes += Wire::encodePkg47(speed, angle, pts, angle);
            }
        }
        return *this;
    }

    RunStream &run(double degrees, int count, uint16_t distance = 2000)
    {
        return runWith(degrees, count, [distance](int) { return distance; });
    }

    QByteArray bytes;

private:
    int modelType;
};

inline void pushInChunks(LiPkg &pkg, const QByteArray &bytes, int chunkSize)
{
    for (int offset = 0; offset < bytes.size(); offset += chunkSize)
        pkg.pushData(bytes.mid(offset, chunkSize));
}

#endif
