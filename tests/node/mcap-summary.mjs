// Prints what the npm MCAP reader finds in a file, through its index: one
// JSON line per message (topic, log and publish time, a digest of the data).
//   node mcap-summary.mjs FILE
import { McapIndexedReader } from "@mcap/core";
import { decompress as zstdDecompress } from "fzstd";
import lz4 from "lz4js";
import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";

const bytes = readFileSync(process.argv[2]);
const reader = await McapIndexedReader.Initialize({
  readable: {
    size: async () => BigInt(bytes.length),
    read: async (offset, length) => bytes.subarray(Number(offset), Number(offset + length)),
  },
  decompressHandlers: {
    zstd: (data, size) => zstdDecompress(data, new Uint8Array(Number(size))),
    lz4: (data) => Uint8Array.from(lz4.decompress(data)),
  },
});
for await (const message of reader.readMessages()) {
  process.stdout.write(
    JSON.stringify({
      topic: reader.channelsById.get(message.channelId).topic,
      logTime: message.logTime.toString(),
      publishTime: message.publishTime.toString(),
      data: createHash("sha256").update(message.data).digest("hex"),
    }) + "\n",
  );
}
