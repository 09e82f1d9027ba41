#include "scanmessages.h"

#include "bytes/littleendian.h"
#include "editions/modeltable.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace Robotics {

namespace {

constexpr double pi = 3.14159265358979323846;

// Both messages start alike: the time, the frame and the sensor at the
// frame's origin.
constexpr char poseJson[] = "\"pose\":{\"position\":{\"x\":0,\"y\":0,\"z\":0},"
                            "\"orientation\":{\"x\":0,\"y\":0,\"z\":0,\"w\":1}}";

// The foxglove.PointCloud numeric types used here.
constexpr int uint8Type = 1;
constexpr int float32Type = 7;
constexpr int pointStride = 9; // x, y as float32, confidence as uint8

void appendNumber(QByteArray &out, double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, std::isfinite(value) ? value : 0.0);
    out.append(text, static_cast<int>(result.ptr - text));
}

void appendInteger(QByteArray &out, long long value)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, static_cast<int>(result.ptr - text));
}

// Millimetres as metres, exactly: "1.234".
void appendMetres(QByteArray &out, unsigned millimetres)
{
    appendInteger(out, millimetres / 1000);
    const unsigned rest = millimetres % 1000;
    if (rest == 0)
        return;
    char text[4] = {'.', char('0' + rest / 100), char('0' + rest / 10 % 10), char('0' + rest % 10)};
    int length = 4;
    while (text[length - 1] == '0')
        --length;
    out.append(text, length);
}

void appendHead(QByteArray &out, const SensorScan &scan)
{
    const qint64 time = std::max<qint64>(0, messageTime(scan));
    out += "{\"timestamp\":{\"sec\":";
    appendInteger(out, time / 1000000000);
    out += ",\"nsec\":";
    appendInteger(out, time % 1000000000);
    out += "},\"frame_id\":\"";
    out += frameId;
    out += "\",";
    out += poseJson;
}

void appendFloat32(QByteArray &out, float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    Bytes::appendU32(out, bits);
}

// What the two schemas share.
constexpr char timeAndPoseSchema[] =
    R"("timestamp":{"type":"object","title":"time","description":"Timestamp of the scan",)"
    R"("properties":{"sec":{"type":"integer","minimum":0},)"
    R"("nsec":{"type":"integer","minimum":0,"maximum":999999999}}},)"
    R"("frame_id":{"type":"string","description":"Frame of reference"},)"
    R"("pose":{"title":"foxglove.Pose","type":"object",)"
    R"("description":"The origin of the data relative to the frame of reference",)"
    R"("properties":{"position":{"title":"foxglove.Vector3","type":"object","properties":)"
    R"({"x":{"type":"number"},"y":{"type":"number"},"z":{"type":"number"}}},)"
    R"("orientation":{"title":"foxglove.Quaternion","type":"object","properties":)"
    R"({"x":{"type":"number"},"y":{"type":"number"},"z":{"type":"number"},)"
    R"("w":{"type":"number"}}}}},)";

} // namespace

QByteArray laserScanSchema()
{
    return QByteArrayLiteral(
               R"({"title":"foxglove.LaserScan","description":"A single scan from a planar laser range-finder","type":"object","properties":{)") +
           timeAndPoseSchema +
           R"("start_angle":{"type":"number","description":"Bearing of first point, in radians"},)"
           R"("end_angle":{"type":"number","description":"Bearing of last point, in radians"},)"
           R"("ranges":{"type":"array","items":{"type":"number"},)"
           R"("description":"Distance of detections from origin; assumed to be at equally-spaced angles between `start_angle` and `end_angle`"},)"
           R"("intensities":{"type":"array","items":{"type":"number"},)"
           R"("description":"Intensity of detections"},)"
           R"("range_min":{"type":"number","description":"Shortest range a detection can have, metres; a range below it is no return"},)"
           R"("range_max":{"type":"number","description":"Longest range a detection can have, metres"}}})";
}

QByteArray pointCloudSchema()
{
    return QByteArrayLiteral(
               R"({"title":"foxglove.PointCloud","description":"A collection of N-dimensional points, which may contain additional fields with information like normals, intensity, etc.","type":"object","properties":{)") +
           timeAndPoseSchema +
           R"("point_stride":{"type":"integer","minimum":0,"description":"Number of bytes between points in the `data`"},)"
           R"("fields":{"type":"array","description":"Fields in `data`. At least 2 coordinate fields from `x`, `y`, and `z` are required for each point's position; `red`, `green`, `blue`, and `alpha` are optional for customizing each point's color.",)"
           R"("items":{"title":"foxglove.PackedElementField","type":"object","properties":{)"
           R"("name":{"type":"string"},"offset":{"type":"integer","minimum":0},)"
           R"("type":{"title":"foxglove.NumericType","oneOf":[)"
           R"({"title":"UNKNOWN","const":0},{"title":"UINT8","const":1},{"title":"INT8","const":2},)"
           R"({"title":"UINT16","const":3},{"title":"INT16","const":4},{"title":"UINT32","const":5},)"
           R"({"title":"INT32","const":6},{"title":"FLOAT32","const":7},{"title":"FLOAT64","const":8}]}}}},)"
           R"("data":{"type":"string","contentEncoding":"base64","description":"Point data, interpreted using `fields`"}}})";
}

namespace {

// Degrees counter-clockwise from straight ahead, in (-180, 180].
double robotDegrees(double mapDegrees)
{
    double degrees = std::fmod(-mapDegrees, 360.0);
    if (degrees <= -180.0)
        degrees += 360.0;
    else if (degrees > 180.0)
        degrees -= 360.0;
    return degrees;
}

} // namespace

double robotAngle(double mapDegrees)
{
    return robotDegrees(mapDegrees) * pi / 180.0;
}

ScanGrid ScanGrid::forModel(const Models::Record &model)
{
    ScanGrid grid;
    const int points = std::max(1, model.pointsPerScan());
    grid.stepDegrees = model.fieldOfView / points;
    grid.fullCircle = model.fieldOfView >= 360.0;
    if (grid.fullCircle) {
        grid.startDegrees = 0.0;
        grid.count = static_cast<int>(std::lround(360.0 / grid.stepDegrees));
    } else {
        grid.startDegrees = -model.fieldOfView / 2;
        grid.count = static_cast<int>(std::lround(model.fieldOfView / grid.stepDegrees)) + 1;
    }
    return grid;
}

double ScanGrid::start() const
{
    return startDegrees * pi / 180.0;
}

double ScanGrid::step() const
{
    return stepDegrees * pi / 180.0;
}

double ScanGrid::end() const
{
    return (startDegrees + (count - 1) * stepDegrees) * pi / 180.0;
}

qint64 messageTime(const SensorScan &scan)
{
    return scan.utcNs != 0 ? scan.utcNs : scan.time;
}

ScanEncoder::ScanEncoder(const ScanGrid &grid)
{
    setGrid(grid);
}

void ScanEncoder::setGrid(const ScanGrid &grid)
{
    scanGrid = grid;
    scanGrid.count = std::max(1, grid.count);
}

const std::vector<int> &ScanEncoder::resample(const PointList &points)
{
    const int count = scanGrid.count;
    const double step = scanGrid.stepDegrees;
    nearest.assign(static_cast<size_t>(count), -1);
    offsets.assign(static_cast<size_t>(count), 0.0);
    for (int i = 0; i < points.size(); ++i) {
        // Degrees counter-clockwise from the grid's start; all round, the
        // last step neighbours the first.
        double u = robotDegrees(points[i].angle) - scanGrid.startDegrees;
        if (scanGrid.fullCircle && u < 0)
            u += 360.0;
        long k = std::lround(u / step);
        const double offset = std::fabs(u - k * step);
        if (scanGrid.fullCircle)
            k %= count;
        else if (k < 0 || k >= count)
            continue;
        const int bin = static_cast<int>(k);
        if (offset > step / 2)
            continue;
        const auto at = static_cast<size_t>(bin);
        if (nearest[at] < 0 || offset < offsets[at]) {
            nearest[at] = i;
            offsets[at] = offset;
        }
    }
    return nearest;
}

void ScanEncoder::laserScan(const SensorScan &scan, QByteArray &out)
{
    const std::vector<int> &chosen = resample(scan.points);
    out.resize(0); // keeps the allocation
    appendHead(out, scan);
    out += ",\"start_angle\":";
    appendNumber(out, scanGrid.start());
    out += ",\"end_angle\":";
    appendNumber(out, scanGrid.end());
    out += ",\"ranges\":[";
    for (size_t k = 0; k < chosen.size(); ++k) {
        if (k > 0)
            out += ',';
        const int i = chosen[k];
        const unsigned distance = i < 0 ? 0 : scan.points[i].distance;
        if (distance == 0)
            appendNumber(out, noReturnRange);
        else
            appendMetres(out, distance);
    }
    out += "],\"intensities\":[";
    for (size_t k = 0; k < chosen.size(); ++k) {
        if (k > 0)
            out += ',';
        const int i = chosen[k];
        appendInteger(out, i < 0 ? 0 : scan.points[i].confidence);
    }
    out += "],\"range_min\":";
    appendNumber(out, rangeMin);
    out += ",\"range_max\":";
    appendNumber(out, rangeMax);
    out += '}';
}

void ScanEncoder::pointCloud(const SensorScan &scan, QByteArray &out)
{
    cloud.resize(0); // keeps the allocation
    cloud.reserve(static_cast<int>(scan.points.size()) * pointStride);
    for (const PointData &p : scan.points) {
        const double metres = p.distance / 1000.0;
        const double radians = p.angle * pi / 180.0;
        appendFloat32(cloud, static_cast<float>(metres * std::cos(radians)));
        appendFloat32(cloud, static_cast<float>(-metres * std::sin(radians)));
        cloud.append(static_cast<char>(p.confidence));
    }
    out.resize(0); // keeps the allocation
    appendHead(out, scan);
    out += ",\"point_stride\":";
    appendInteger(out, pointStride);
    out += ",\"fields\":[{\"name\":\"x\",\"offset\":0,\"type\":";
    appendInteger(out, float32Type);
    out += "},{\"name\":\"y\",\"offset\":4,\"type\":";
    appendInteger(out, float32Type);
    out += "},{\"name\":\"confidence\",\"offset\":8,\"type\":";
    appendInteger(out, uint8Type);
    out += "}],\"data\":\"";
    out += cloud.toBase64();
    out += "\"}";
}

} // namespace Robotics
