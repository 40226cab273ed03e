// A consumer built on node-emberplus against the panel (dpx20remote --ember), offscreen, with
// its COM1 on a simulated box.
"use strict";
const assert = require("node:assert/strict");
const { after, before, test } = require("node:test");
const { EmberLib } = require("node-emberplus");
const { api, consumer, folder, panel, sim, waitUntil } = require("./support");

let dir, box, served, client;
const path = (...rest) => ["dpx20remote", "panel", ...rest].join("/");

before(async () => {
  dir = folder();
  box = await sim(dir, "panel");
  served = await panel(dir, box);
  client = await consumer(served);
  await client.getDirectoryAsync();
  await client.expandAsync();
});

after(async () => {
  await client?.disconnectAsync();
  await served?.stop();
  await box?.stop();
});

test("the panel's box is browsed, connected and driven, and shows what its API changes", async () => {
  const connected = await client.getElementByPathAsync(path("connected"));
  const connect = await client.getElementByPathAsync(path("functions", "connect"));
  const result = await client.invokeFunctionAsync(connect, []);
  assert.equal(result.success, true, JSON.stringify(result.result));
  assert.ok(await waitUntil(() => connected.contents.value === true));
  assert.equal((await api(served.url + "/state")).body.connected, true);

  const light = await client.getElementByPathAsync(path("settings", "sys_bk_light"));
  const level = light.contents.value === 5 ? 6 : 5;
  await client.setValueAsync(light, level, EmberLib.ParameterType.integer);
  assert.ok(await waitUntil(async () => (await api(served.url + "/state")).body.settings.sys_bk_light.value === level));
  assert.ok(box.words().includes("BACKL"));

  assert.equal((await api(served.url + "/settings", "PUT", { sys_bk_light: level + 1 })).status, 200);
  assert.ok(await waitUntil(() => light.contents.value === level + 1));
});
