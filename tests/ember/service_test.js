// Consumers built on node-emberplus against `dpx20ctl serve --ember` with three simulated
// boxes: a (answers everything), b (refuses BEEPA with NAK status 2) and c (pulled out).
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const { after, before, describe, test } = require("node:test");
const { EmberLib } = require("node-emberplus");
const path = require("node:path");
const { S101Codec, api, build, consumer, folder, frames, raw, serve, server, sim, waitUntil } = require("./support");

const SERVICE = "dpx20remote";
const element = (client, box, ...rest) => client.root.getElementByPath([SERVICE, box, ...rest].join("/")) ??
  byIdentifiers(client.root, [SERVICE, box, ...rest]);

// The element reached by identifiers from `node`, in what the consumer holds already.
function byIdentifiers(node, identifiers) {
  for (const id of identifiers) {
    node = (node.getChildren() || []).find((c) => c.contents && c.contents.identifier === id);
    if (!node) return null;
  }
  return node;
}

const value = (client, box, ...rest) => element(client, box, ...rest)?.contents?.value;

// Every element below `node` (depth first).
function* walk(node) {
  for (const child of node.getChildren() || []) {
    yield child;
    yield* walk(child);
  }
}

let dir, sims, service, client;

before(async () => {
  dir = folder();
  sims = { a: await sim(dir, "a"), b: await sim(dir, "b", ["--nak", "BEEPA=2"]), c: await sim(dir, "c") };
  service = await serve(dir, sims);
  client = await consumer(service);
  await client.getDirectoryAsync();
  await client.expandAsync();
});

after(async () => {
  await client?.disconnectAsync();
  const code = await service?.stop();
  for (const s of Object.values(sims || {})) await s.stop();
  const errors = fs.readFileSync(dir + "/dpx20ctl-stderr.txt", "utf8");
  assert.equal(code, 0, errors);
  assert.doesNotMatch(errors, /Sanitizer|runtime error/);
});

const state = async (box) => (await api(`${service.url}/boxes/${box}/state`)).body;

describe("the tree", () => {
  test("every box with its identity, connection, settings and functions", async () => {
    const boxes = byIdentifiers(client.root, [SERVICE]).getChildren().map((b) => b.contents.identifier);
    assert.deepEqual(boxes, ["a", "b", "c"]);
    const a = byIdentifiers(client.root, [SERVICE, "a"]);
    assert.deepEqual(a.getChildren().map((c) => c.contents.identifier),
      ["identity", "connected", "cause", "lastRefusal", "settings", "functions"]);
    assert.deepEqual(byIdentifiers(a, ["identity"]).getChildren().map((p) => [p.contents.identifier, p.contents.value]),
      [["name", "a"], ["port", sims.a.link], ["portKind", "device"], ["version", "1.0.0"]]);
    assert.equal(value(client, "a", "connected"), true);
    assert.equal(byIdentifiers(a, ["settings"]).contents.isOnline, true);
    assert.deepEqual(byIdentifiers(a, ["functions"]).getChildren().map((f) => f.contents.identifier),
      ["connect", "disconnect", "synchronise", "loadMemory", "saveMemory", "loadAdjustMemory", "saveAdjustMemory"]);
    const load = byIdentifiers(a, ["functions", "loadMemory"]).contents;
    const tuple = (items) => items.map((i) => [i.type, i.name]);
    assert.deepEqual([tuple(load.arguments), tuple(load.result)],
      [[[EmberLib.ParameterType.integer, "n"]], [[EmberLib.ParameterType.integer, "result"], [EmberLib.ParameterType.string, "text"]]]);
  });

  test("each setting with its value in force, type, range or labels, and access", async () => {
    const settings = byIdentifiers(client.root, [SERVICE, "a", "settings"]).getChildren();
    const want = (await state("a")).settings;
    assert.deepEqual(settings.map((p) => p.contents.identifier), Object.keys(want));
    for (const p of settings) {
      const key = p.contents.identifier;
      assert.equal(p.contents.value, want[key].value, key);
      assert.equal(p.toJSON().access, want[key].settable ? "readWrite" : "read", key);
    }
    const rows = [
      // key, type, minimum, maximum, enumeration, enumMap
      ["sys_adj3d_para", "integer", 0, 60, undefined, undefined],
      ["com_port_num", "integer", 1, 8, undefined, undefined],
      ["sys_adj3d_mode", "enum", undefined, undefined, undefined,
        [["OFF", 0], ["STANDARD", 4], ["ANAGRYPH", 6], ["LR-SEQ.", 8]]],
      ["sys_input_select", "enum", undefined, undefined, "SDI-LR\nSDI-1(L)\nSDI-2(R)\nHDMI",
        [["SDI-LR", 0], ["SDI-1(L)", 1], ["SDI-2(R)", 2], ["HDMI", 3]]],
      ["sys_beep", "enum", undefined, undefined, "ON\nOFF", [["ON", 0], ["OFF", 1]]],
    ];
    for (const [key, type, minimum, maximum, enumeration, map] of rows) {
      const j = settings.find((p) => p.contents.identifier === key).toJSON();
      assert.deepEqual([j.type, j.minimum, j.maximum, j.enumeration, j.enumMap?.map((e) => [e.key, e.value])],
        [type, minimum, maximum, enumeration, map], key);
    }
    // Every element has a distinct number below its parent and an identifier.
    for (const e of walk(client.root)) assert.ok(e.contents?.identifier, e.getPath());
  });
});

describe("sets", () => {
  before(async () => {
    // The input SDI-LR, so that 2D-3D on is refused by the box's rules; conversion off.
    assert.equal((await api(`${service.url}/boxes/a/settings`, "PUT", { sys_input_select: 0, sys_2D3D: 0 })).status, 200);
  });

  const rows = [
    // box, key, value asked, value in force afterwards (null: as before), refusal text, whether
    // the box is asked
    ["a", "sys_beep", 1, 1, null, true],
    ["a", "sys_2D3D", 1, null, /Cannot Change!\nInput is SDI-LR now, 2D3D conversion is not valid\./, false],
    ["b", "sys_beep", 1, null, /NAK/, true],
    ["a", "sys_adj3d_para", 99, null, /sys_adj3d_para takes 0 to 60: 99/, false],
    ["a", "sys_no_ack", 1, null, /sys_no_ack/, false],
  ];
  for (const [box, key, asked, after, refusal, sends] of rows) {
    test(`${box}: ${key} = ${asked}`, async () => {
      const sent = sims[box].words().length;
      const before = (await state(box)).settings[key].value;
      const refusedBefore = value(client, box, "lastRefusal");
      const p = element(client, box, "settings", key);
      await client.setValueAsync(p, asked, EmberLib.ParameterType.integer);
      const inForce = after ?? before;
      assert.ok(await waitUntil(() => p.contents.value === inForce, 5000), `${key} shows ${p.contents.value}`);
      assert.equal((await state(box)).settings[key].value, inForce);
      if (refusal) assert.match(await waitUntil(() => value(client, box, "lastRefusal") !== refusedBefore &&
        value(client, box, "lastRefusal")), refusal);
      else assert.equal(value(client, box, "lastRefusal"), refusedBefore);
      assert.equal(await waitUntil(() => sims[box].words().length > sent, sends ? 3000 : 100), sends);
    });
  }

  test("the boxes were asked through their own command", () => {
    assert.ok(sims.a.words().includes("BEEPA"));
    assert.ok(sims.b.words().includes("BEEPA"));  // and answered with its NAK
  });
});

describe("functions", () => {
  const invoke = async (box, name, args = []) => {
    const f = element(client, box, "functions", name);
    const r = await client.invokeFunctionAsync(f, args.map((n) => new EmberLib.FunctionArgument(EmberLib.ParameterType.integer, n)));
    return [r.success, r.result.map((x) => x.value)];
  };
  const rows = [
    ["saveMemory", [3], true, /^done$/],
    ["loadMemory", [3], true, /./],
    ["loadMemory", [9], false, /no such memory/],
    ["saveAdjustMemory", [1], true, /^done$/],
    ["loadAdjustMemory", [1], true, /^done$/],
    ["synchronise", [], true, /./],
    ["connect", [5], false, /takes no arguments/],
    ["saveMemory", [], false, /takes one integer/],
  ];
  for (const [name, args, ok, text] of rows) {
    test(`${name}(${args})`, async () => {
      const [success, [code, said]] = await invoke("a", name, args);
      assert.equal(success, ok, said);
      assert.equal(typeof code, "number");
      assert.match(said, text);
    });
  }

  test("disconnect and connect show in the box's connection", async () => {
    assert.deepEqual((await invoke("a", "disconnect"))[0], true);
    assert.ok(await waitUntil(() => value(client, "a", "connected") === false));
    assert.equal(element(client, "a", "settings").contents.isOnline, false);
    assert.equal((await state("a")).connected, false);
    assert.deepEqual((await invoke("a", "connect"))[0], true);
    assert.ok(await waitUntil(() => value(client, "a", "connected") === true));
    assert.equal(element(client, "a", "settings").contents.isOnline, true);
  });
});

describe("changes from other doors", () => {
  test("a change through the HTTP API reaches a subscribed consumer", async () => {
    const other = await consumer(service);
    const seen = [];
    const p = await other.getElementByPathAsync(`${SERVICE}/a/settings/sys_bk_light`, (e) => seen.push(e.contents.value));
    const level = p.contents.value === 3 ? 4 : 3;
    assert.equal((await api(`${service.url}/boxes/a/settings`, "PUT", { sys_bk_light: level })).status, 200);
    assert.ok(await waitUntil(() => seen.includes(level)), `seen ${seen}`);
    assert.equal(value(client, "a", "settings", "sys_bk_light"), level);
    await other.disconnectAsync();
  });

  test("a box pulled out is shown disconnected, with its cause", async () => {
    await sims.c.stop();
    assert.ok(await waitUntil(() => value(client, "c", "connected") === false));
    assert.ok(await waitUntil(() => value(client, "c", "cause")), "a cause");
    assert.equal(element(client, "c", "settings").contents.isOnline, false);
    assert.equal(value(client, "a", "connected"), true);  // the others go on
  });
});

describe("many consumers and bad ones", () => {
  test("10 consumers at once browse, drive and all see the value in force", async () => {
    const many = await Promise.all(Array.from({ length: 10 }, () => consumer(service)));
    await Promise.all(many.map(async (c) => { await c.getDirectoryAsync(); await c.expandAsync(); }));
    for (const c of many) assert.equal(byIdentifiers(c.root, [SERVICE, "a", "settings"]).getChildren().length, 34);
    // Each asks for another back light level at once; the box takes them one at a time and
    // refuses those asked while it is busy.
    await Promise.all(many.map((c, i) => c.setValueAsync(element(c, "a", "settings", "sys_bk_light"), i % 5,
      EmberLib.ParameterType.integer)));
    const final = async () => (await state("a")).settings.sys_bk_light.value;
    assert.ok(await waitUntil(async () => {
      const v = await final();
      return many.every((c) => value(c, "a", "settings", "sys_bk_light") === v);
    }), "every consumer shows the value in force");
    await Promise.all(many.map((c) => c.disconnectAsync()));
  });

  const deep = Buffer.concat([Buffer.from([0x60, 0x80]), Buffer.alloc(400, Buffer.from([0xa0, 0x80])),
    Buffer.alloc(402, 0)]);
  const good = frames(Buffer.from([0x60, 0x0b, 0x6b, 0x09, 0xa0, 0x07, 0x62, 0x05, 0xa0, 0x03, 0x02, 0x01, 0x20]));
  const badCrc = Buffer.from(good);
  badCrc[badCrc.length - 3] ^= 0x01;
  const rows = [
    ["garbage", Buffer.from("GET / HTTP/1.1\r\nHost: x\r\n\r\n")],
    ["an endless frame", Buffer.concat([Buffer.from([0xfe]), Buffer.alloc(8192, 1)])],
    ["a deep nesting", frames(deep)],
    ["a wrong CRC", badCrc],
    ["a message of 100 KiB", frames(Buffer.alloc(100 * 1024, 0x30))],
  ];
  for (const [name, bytes] of rows) {
    test(`a consumer that sends ${name} is closed; the others are served`, async () => {
      const bad = await raw(service);
      bad.socket.write(bytes);
      assert.ok(await waitUntil(() => bad.closed, 5000), "closed");
      const p = element(client, "a", "settings", "sys_beep");
      await client.getDirectoryAsync(p);
      assert.equal(p.contents.identifier, "sys_beep");
    });
  }

  test("a well-formed getDirectory over a raw socket is answered, with keep-alives", async () => {
    const peer = await raw(service);
    peer.socket.write(good);
    peer.socket.write(new S101Codec().keepAliveRequest());
    assert.ok(await waitUntil(() => peer.received.includes(Buffer.from([0x00, 0x0e, 0x02, 0x01]))), "keep-alive answered");
    assert.ok(await waitUntil(() => peer.received.length > 40), "directory answered");
    assert.equal(peer.closed, false);
    peer.socket.destroy();
  });
});

describe("beyond loopback", () => {
  test("warns that Ember+ has no authentication, and its sets carry the API's token", async () => {
    const own = folder();
    const env = { XDG_CONFIG_HOME: own, HOME: own };
    const args = ["--virtual", "-p", "/dev/null", "--api", "0.0.0.0:0", "--ember", "0.0.0.0:0", "serve"];
    const open = await server([path.join(build, "dpx20ctl"), ...args], { cwd: own, env });
    try {
      const where = { host: "127.0.0.1", port: open.port };
      const c = await consumer(where);
      const beep = await c.getElementByPathAsync(`${SERVICE}/1/settings/sys_beep`);
      const want = beep.contents.value === 1 ? 0 : 1;
      await c.setValueAsync(beep, want, EmberLib.ParameterType.integer);
      assert.ok(await waitUntil(() => beep.contents.value === want), "the set was let in with the token");
      assert.equal(value(c, "1", "lastRefusal"), "");
      await c.disconnectAsync();
    } finally {
      await open.stop();
    }
    const errors = fs.readFileSync(own + "/dpx20ctl-stderr.txt", "utf8");
    assert.match(errors, /Ember\+ has no authentication: whoever reaches 0\.0\.0\.0:\d+ can read and change every box/);
  });

  test("serve takes --ember without --api", async () => {
    const own = folder();
    const alone = await server([path.join(build, "dpx20ctl"), "--virtual", "-p", "/dev/null", "--ember", "127.0.0.1:0", "serve"],
      { cwd: own, api: false });
    try {
      const c = await consumer(alone);
      const connected = await c.getElementByPathAsync(`${SERVICE}/1/connected`);
      assert.equal(connected.contents.value, true);
      await c.disconnectAsync();
    } finally {
      assert.equal(await alone.stop(), 0);
    }
  });
});
