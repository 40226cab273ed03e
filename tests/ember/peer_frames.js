// A real peer's bytes for the Ember+ decoder: node-emberplus's own provider serves a small tree
// (texts, numbers with their range, a boolean, an enumeration, a node big enough to take
// several frames, a function), and node-emberplus's consumer browses it, sets a value and
// invokes the function. Prints two lines of hexadecimal: what the consumer sent, then what the
// provider sent. tests/e2e/ember_peer_test.cpp reads them with the provider's decoder.
"use strict";
const net = require("node:net");
const { EmberClient, EmberServer, EmberLib } = require("node-emberplus");

const tree = [{
  identifier: "peer",
  description: "A provider made by node-emberplus",
  children: [
    { identifier: "gain", value: -12, type: "integer", minimum: -60, maximum: 6, access: "readWrite", description: "Gain, dB" },
    { identifier: "label", value: "Studio \u00c4 \u2713", type: "string" },
    { identifier: "mute", value: true, type: "boolean", access: "readWrite" },
    { identifier: "mode", value: 2, type: "enum", enumeration: "A\nB\nC", access: "readWrite" },
    {
      identifier: "many",
      children: Array.from({ length: 40 }, (_, i) => ({
        identifier: `p${i}`, value: i * 1000, type: "integer", description: `parameter ${i} of a long node `.repeat(2),
      })),
    },
    {
      identifier: "add",
      func: (args) => [new EmberLib.FunctionArgument(EmberLib.ParameterType.integer, args[0].value + args[1].value)],
      arguments: [{ type: EmberLib.ParameterType.integer, name: "a" }, { type: EmberLib.ParameterType.integer, name: "b" }],
      result: [{ type: EmberLib.ParameterType.integer, name: "sum" }],
    },
  ],
}];

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, "127.0.0.1", () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

(async () => {
  const port = await freePort();
  const server = new EmberServer({ host: "127.0.0.1", port, tree: EmberServer.createTreeFromJSON(tree) });
  server.on("error", () => {});
  await server.listen();
  const client = new EmberClient({ host: "127.0.0.1", port });
  client.on("error", () => {});
  await client.connectAsync();
  const sent = [], received = [];
  const socket = client.socket.socket;
  socket.on("data", (d) => received.push(Buffer.from(d)));
  const write = socket.write.bind(socket);
  socket.write = (d, ...rest) => { sent.push(Buffer.from(d)); return write(d, ...rest); };

  await client.getDirectoryAsync();
  await client.expandAsync();
  const gain = await client.getElementByPathAsync("peer/gain");
  await client.setValueAsync(gain, -3, EmberLib.ParameterType.integer);
  const add = await client.getElementByPathAsync("peer/add");
  await client.invokeFunctionAsync(add, [
    new EmberLib.FunctionArgument(EmberLib.ParameterType.integer, 2),
    new EmberLib.FunctionArgument(EmberLib.ParameterType.integer, 40),
  ]);
  await new Promise((resolve) => setTimeout(resolve, 100));
  console.log(Buffer.concat(sent).toString("hex"));
  console.log(Buffer.concat(received).toString("hex"));
  await client.disconnectAsync();
  await server.close?.();
  process.exit(0);
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
