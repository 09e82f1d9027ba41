// What the Node tests share: the programs under test, how to run them, and
// the decoder's own scans to compare against.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";

export const sim = process.env.VANTOSCOPE_SIM;
export const decode = process.env.VANTOSCOPE_DECODE;
if (!sim || !decode) {
  throw new Error("VANTOSCOPE_SIM and VANTOSCOPE_DECODE must name the programs under test");
}

export function run(program, args) {
  return execFileSync(program, args, { maxBuffer: 1 << 30 });
}

// The decoder's scans of a capture: the points of each (JSON lines) and its
// recorded time in milliseconds since the epoch (CSV).
export function decodedScans(model, capture) {
  const scans = run(decode, ["--model", model, capture])
    .toString()
    .split("\n")
    .filter((line) => line.length > 0)
    .map((line) => JSON.parse(line))
    .filter((event) => event.event === "scan")
    // The streaming models' end-of-scan marker (angle 720) is not a point.
    .map((event) => ({ points: event.points.filter(([angle]) => angle !== 720) }));
  const times = new Map();
  for (const row of run(decode, ["--model", model, "--format", "csv", capture])
    .toString()
    .split("\n")
    .slice(1)) {
    const [n, time] = row.split(",");
    if (n) times.set(Number(n), Date.parse(time));
  }
  scans.forEach((scan, i) => (scan.timeMs = times.get(i + 1)));
  return scans;
}

const radians = Math.PI / 180;

// The robotics angle of a map angle: counter-clockwise, radians, in (-π, π].
export function robotAngle(mapDegrees) {
  let d = -mapDegrees % 360;
  if (d <= -180) d += 360;
  else if (d > 180) d -= 360;
  return d * radians;
}

// The range each step of a LaserScan must carry: the distance of the point
// nearest to the step's angle within half a step, in metres; 0 for none.
export function expectedRanges(points, start, end, count) {
  const step = (end - start) / (count - 1);
  const fullCircle = Math.abs(count * step - 2 * Math.PI) < 1e-9;
  const ranges = [];
  for (let k = 0; k < count; ++k) {
    const angle = start + k * step;
    let best = null;
    let bestOffset = Infinity;
    for (const [a, distance] of points) {
      let offset = Math.abs(robotAngle(a) - angle);
      if (fullCircle) {
        offset %= 2 * Math.PI;
        offset = Math.min(offset, 2 * Math.PI - offset);
      }
      if (offset <= step / 2 + 1e-12 && offset < bestOffset) {
        best = distance;
        bestOffset = offset;
      }
    }
    ranges.push(best === null ? 0 : best / 1000);
  }
  return ranges;
}

// A PointCloud's points as [x, y, confidence].
export function cloudPoints(message) {
  const data = Buffer.from(message.data, "base64");
  const out = [];
  for (let at = 0; at + message.point_stride <= data.length; at += message.point_stride) {
    out.push([data.readFloatLE(at), data.readFloatLE(at + 4), data.readUInt8(at + 8)]);
  }
  return out;
}

// Where a measured point lies, as float32 x and y in metres.
export function pointXY([angle, distance]) {
  const r = distance / 1000;
  return [Math.fround(r * Math.cos(angle * radians)), Math.fround(-r * Math.sin(angle * radians))];
}

export function nanosecondsToMs(ns) {
  return Number(BigInt(ns) / 1000000n);
}

// The messages of a scan stream, in order: each scan of the decoder's as a
// /scan and a /points message at its recorded time, with its nearest-point
// ranges and its points as measured. `messages` are {topic, time (ns), data
// (the JSON bytes)}.
export function checkScanMessages(scans, messages) {
  assert.deepEqual(
    messages.map((m) => m.topic),
    scans.flatMap(() => ["/scan", "/points"]),
  );
  scans.forEach((scan, i) => {
    for (const m of [messages[2 * i], messages[2 * i + 1]]) {
      assert.equal(nanosecondsToMs(m.time), scan.timeMs, `scan ${i + 1} stamped with its time`);
    }
    const laser = JSON.parse(Buffer.from(messages[2 * i].data).toString());
    assert.equal(laser.ranges.length, 400, "one range per nominal step");
    assert.deepEqual(
      laser.ranges,
      expectedRanges(scan.points, laser.start_angle, laser.end_angle, laser.ranges.length),
    );
    const cloud = JSON.parse(Buffer.from(messages[2 * i + 1].data).toString());
    assert.deepEqual(
      cloudPoints(cloud),
      scan.points.map((p) => [...pointXY(p), p[2]]),
    );
  });
}
