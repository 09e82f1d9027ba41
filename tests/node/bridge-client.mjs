// Clients of the live bridge for tests/bridge, printing what they see as
// JSON lines on standard output; each ends when standard input closes.
//
//   node bridge-client.mjs collect URL MODEL CAPTURE   the protocol's own
//       client: subscribes to /scan and /points, and at the end checks what
//       it got against what vantoscope-decode prints for the capture
//       (exit status 1 and the difference on standard error when they differ)
//   node bridge-client.mjs garbage URL   sends what a client may not, prints
//       the status messages it gets back, then sends an oversized message;
//       also tries a connection without the subprotocol
//   node bridge-client.mjs stall URL     subscribes to both channels, then
//       never reads again
//   node bridge-client.mjs crowd URL N   N clients at once, each subscribing
//       to both channels; prints the time of every scan each one gets
import wsProtocol from "@foxglove/ws-protocol";
import WebSocket from "ws";

const { FoxgloveClient } = wsProtocol;

const [mode, url, ...rest] = process.argv.slice(2);
const print = (object) => process.stdout.write(JSON.stringify(object) + "\n");
const subprotocols = [FoxgloveClient.SUPPORTED_SUBPROTOCOL];
const atEnd = [];
process.stdin.on("data", () => {});
process.stdin.on("end", () => {
  for (const f of atEnd) f();
  process.exit(0);
});

// The protocol's client, subscribed to every channel the server offers.
function foxgloveClient(onMessage, events) {
  const client = new FoxgloveClient({ ws: new WebSocket(url, subprotocols) });
  const topics = new Map();
  client.on("serverInfo", (info) => events({ event: "serverInfo", name: info.name }));
  client.on("status", (status) => events({ event: "status", level: status.level, message: status.message }));
  client.on("close", (event) => events({ event: "closed", code: event.code }));
  client.on("advertise", (channels) => {
    for (const channel of channels) topics.set(client.subscribe(channel.id), channel);
    events({ event: "subscribed", channels: channels.map((c) => [c.topic, c.schemaName, c.encoding, c.schemaEncoding]) });
  });
  client.on("message", ({ subscriptionId, timestamp, data }) => {
    onMessage(topics.get(subscriptionId), timestamp, data);
  });
  return client;
}

if (mode === "collect") {
  const { checkScanMessages, decodedScans } = await import("./common.mjs");
  const messages = [];
  foxgloveClient((channel, time, data) => {
    messages.push({ topic: channel.topic, time, data: new Uint8Array(data.buffer, data.byteOffset, data.byteLength).slice() });
    if (messages.length % 2 === 0) print({ event: "messages", count: messages.length });
  }, print);
  atEnd.push(() => {
    checkScanMessages(decodedScans(rest[0], rest[1]), messages);
    print({ event: "checked", messages: messages.length });
  });
} else if (mode === "crowd") {
  for (let i = 0; i < Number(rest[0]); ++i) {
    foxgloveClient(
      (channel, timestamp) => {
        if (channel.topic === "/scan") print({ client: i, event: "scan", time: timestamp.toString() });
      },
      (event) => print({ client: i, ...event }),
    );
  }
} else if (mode === "stall") {
  const ws = new WebSocket(url, subprotocols);
  ws.on("message", (data, binary) => {
    if (binary) return;
    const message = JSON.parse(data.toString());
    if (message.op !== "advertise") return;
    ws.send(
      JSON.stringify({
        op: "subscribe",
        subscriptions: message.channels.map((c, i) => ({ id: 100 + i, channelId: c.id })),
      }),
    );
    // From here on nothing is read: the server's messages pile up.
    ws._socket.pause();
    print({ event: "subscribed" });
  });
} else if (mode === "garbage") {
  const ws = new WebSocket(url, subprotocols);
  const garbage = [
    "not json",
    "[1,2,3]",
    '{"op":42}',
    '{"op":"teleport","to":"mars"}',
    '{"op":"subscribe","subscriptions":"all"}',
    '{"op":"subscribe","subscriptions":[{"id":-1,"channelId":1},{"id":1.5,"channelId":1},{"id":7,"channelId":99},{"id":"x","channelId":1}]}',
    '{"op":"unsubscribe","subscriptionIds":[12345]}',
    '{"op":"advertise","channels":[{"id":1,"topic":"/cmd","encoding":"json","schemaName":"x"}]}',
    '{"op":"setParameters","parameters":[{"name":"/motor","value":1}]}',
    '{"op":"getParameters","parameterNames":[]}',
    Buffer.from([0x01, 1, 0, 0, 0, 0x7b, 0x7d]), // client message data
    Buffer.from([0x02, 1, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0x6a, 0x73, 0x6f, 0x6e]), // service call
  ];
  let statuses = 0;
  ws.on("message", (data, binary) => {
    if (binary) return;
    const message = JSON.parse(data.toString());
    if (message.op === "advertise") {
      for (const g of garbage) ws.send(g);
    } else if (message.op === "status") {
      print({ event: "status", level: message.level, message: message.message });
      // The last of the garbage answered: now a message over the limit.
      if (++statuses === garbage.length + 3) ws.send("x".repeat(64 * 1024 + 1));
    }
  });
  ws.on("close", (code) => print({ event: "closed", code }));

  // Without the subprotocol the server must not talk.
  const bare = new WebSocket(url);
  let opened = false;
  bare.on("open", () => (opened = true));
  bare.on("message", () => print({ event: "bare", outcome: "spoke" }));
  bare.on("error", () => {});
  bare.on("close", (code) => print({ event: "bare", outcome: opened ? `closed ${code}` : "refused" }));
} else {
  process.stderr.write(`unknown mode ${mode}\n`);
  process.exit(2);
}
