// The npm MCAP reader opens the decoder's MCAP files, indexed and as a
// stream, uncompressed and compressed, and finds in them what the decoder
// prints for the same capture.
import { McapIndexedReader, McapStreamReader } from "@mcap/core";
import { decompress as zstdDecompress } from "fzstd";
import lz4 from "lz4js";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import { checkScanMessages, decode, decodedScans, nanosecondsToMs, run, sim } from "./common.mjs";

const decompressHandlers = {
  zstd: (data, size) => zstdDecompress(data, new Uint8Array(Number(size))),
  lz4: (data) => Uint8Array.from(lz4.decompress(data)),
};

const model = "Dogwood";
const capture = "mcap-source.pcapng";
run(sim, ["--model", model, "--output", capture, "-n", "25"]);
const scans = decodedScans(model, capture);

function mcapOf(compression) {
  const file = `scans-${compression}.mcap`;
  run(decode, ["--model", model, "--format", "mcap", "-o", file, "--compression", compression, capture]);
  return readFileSync(file);
}

async function indexedMessages(bytes) {
  const reader = await McapIndexedReader.Initialize({
    readable: {
      size: async () => BigInt(bytes.length),
      read: async (offset, length) => bytes.subarray(Number(offset), Number(offset + length)),
    },
    decompressHandlers,
  });
  const messages = [];
  for await (const message of reader.readMessages()) messages.push(message);
  return { reader, messages };
}

function streamedRecords(bytes) {
  const reader = new McapStreamReader({ decompressHandlers, validateCrcs: true });
  const records = [];
  // Fed in pieces that cut through records, as a pipe would.
  for (let at = 0; at < bytes.length; at += 4093) {
    reader.append(bytes.subarray(at, at + 4093));
    for (let record; (record = reader.nextRecord()); ) records.push(record);
  }
  assert.ok(reader.done(), "the stream ends with the footer and magic");
  return records;
}

function checkMessages(messages, channels) {
  for (const m of messages) assert.equal(m.publishTime, m.logTime);
  checkScanMessages(
    scans,
    messages.map((m) => ({ topic: channels.get(m.channelId).topic, time: m.logTime, data: m.data })),
  );
}

for (const compression of ["none", "zstd", "lz4"]) {
  test(`indexed read, ${compression}`, async () => {
    const bytes = mcapOf(compression);
    const { reader, messages } = await indexedMessages(bytes);
    assert.ok(reader.chunkIndexes.length > 0, "indexed");
    for (const index of reader.chunkIndexes) {
      assert.equal(index.compression, compression === "none" ? "" : compression);
    }
    const schemas = [...reader.schemasById.values()].map((s) => [s.name, s.encoding]);
    assert.deepEqual(schemas, [
      ["foxglove.LaserScan", "jsonschema"],
      ["foxglove.PointCloud", "jsonschema"],
    ]);
    for (const schema of reader.schemasById.values()) {
      assert.equal(JSON.parse(Buffer.from(schema.data).toString()).title, schema.name);
    }
    const channels = reader.channelsById;
    assert.deepEqual(
      [...channels.values()].map((c) => [c.topic, c.messageEncoding, reader.schemasById.get(c.schemaId).name]),
      [
        ["/scan", "json", "foxglove.LaserScan"],
        ["/points", "json", "foxglove.PointCloud"],
      ],
    );
    assert.equal(reader.statistics.messageCount, BigInt(2 * scans.length));
    assert.equal(nanosecondsToMs(reader.statistics.messageStartTime), scans[0].timeMs);
    checkMessages(messages, channels);
  });

  test(`streaming read, ${compression}`, () => {
    const records = streamedRecords(mcapOf(compression));
    const kinds = new Set(records.map((r) => r.type));
    for (const kind of ["Header", "Schema", "Channel", "Message", "DataEnd", "Statistics", "ChunkIndex", "SummaryOffset", "Footer"]) {
      assert.ok(kinds.has(kind), `has ${kind}`);
    }
    const channels = new Map(records.filter((r) => r.type === "Channel").map((c) => [c.id, c]));
    checkMessages(
      records.filter((r) => r.type === "Message"),
      channels,
    );
  });
}

test("raw input is timed by the line; an unwritable file fails", () => {
  run(sim, ["--model", model, "--output", "mcap-source.bin", "-n", "5"]);
  run(decode, ["--model", model, "--format", "mcap", "-o", "raw.mcap", "mcap-source.bin"]);
  const records = streamedRecords(readFileSync("raw.mcap"));
  const times = records.filter((r) => r.type === "Message").map((r) => r.logTime);
  assert.ok(times.length >= 8);
  // Ten bits a byte at 230400 baud: the first scan ends within a second.
  assert.ok(times[0] > 0n && times[0] < 1000000000n, `first at ${times[0]} ns`);
  assert.deepEqual([...times].sort((a, b) => (a < b ? -1 : a > b ? 1 : 0)), times);

  assert.throws(
    () => execFileSync(decode, ["--model", model, "--format", "mcap", "-o", "no/such/dir/x.mcap", capture], { stdio: "pipe" }),
    (error) => error.status === 1 && /cannot write/.test(error.stderr.toString()),
  );
});
