// The Ember+ provider's costs, with node-emberplus as the consumer (tests/ember, installed by
// scripts/install-deps.sh): a set through Ember+ against the same PUT through HTTP, and the
// time from a change (a PUT) to one and to ten subscribed consumers. dpx20ctl serve with one
// dpx20sim box on a pseudo-terminal (without wire timing). Prints figures only.
// Usage: node bench/ember_bench.js [BUILD_DIR] [ROUNDS] (default ./build, 200)
"use strict";
const path = require("node:path");
process.env.DPX20_BUILD_DIR = path.resolve(process.argv[2] || "build");
const { EmberLib } = require("../tests/ember/node_modules/node-emberplus");
const { api, consumer, folder, serve, sim } = require("../tests/ember/support");

const rounds = Number(process.argv[3] || 200);
const now = () => Number(process.hrtime.bigint()) / 1e6;

function figures(ms) {
  const sorted = [...ms].sort((a, b) => a - b);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
  return `median ${at(0.5).toFixed(2)} ms, p99 ${at(0.99).toFixed(2)} ms (${ms.length} rounds)`;
}

// Resolves when `element` shows `value`: at once, or from its subscription's callback (wake).
const waiting = new Map();
function shown(element, value) {
  if (element.contents.value === value) return Promise.resolve();
  return new Promise((resolve) => {
    if (!waiting.has(element)) waiting.set(element, []);
    waiting.get(element).push({ value, resolve });
  });
}
function wake(element) {
  const list = waiting.get(element) || [];
  waiting.set(element, list.filter((w) => (w.value === element.contents.value ? (w.resolve(), false) : true)));
}

(async () => {
  const dir = folder();
  const box = await sim(dir, "a", ["--quiet"]);
  const service = await serve(dir, { a: box });
  const settings = `${service.url}/boxes/a/settings`;
  const clients = await Promise.all(Array.from({ length: 10 }, () => consumer(service)));
  const lights = await Promise.all(clients.map((c) => c.getElementByPathAsync("dpx20remote/a/settings/sys_bk_light", wake)));
  const [client, light] = [clients[0], lights[0]];
  // Each change another value than the last (the back light takes -30 to 30).
  let level = light.contents.value;
  const next = () => (level = level >= 20 ? 1 : level + 1);

  const ember = [], http = [], one = [], ten = [], after = [];
  for (let i = 0; i < rounds; ++i) {
    let t = now();
    const v = next();
    await client.setValueAsync(light, v, EmberLib.ParameterType.integer);
    await shown(light, v);
    ember.push(now() - t);

    t = now();
    const u = next();
    const answer = await api(settings, "PUT", { sys_bk_light: u });
    http.push(now() - t);
    if (answer.status !== 200) throw new Error(JSON.stringify(answer.body));
    await Promise.all(lights.map((l) => shown(l, u)));

    // The time each consumer shows the change, from when the PUT was sent.
    t = now();
    const w = next();
    const seen = lights.map((l) => shown(l, w).then(() => now() - t));
    const put = await api(settings, "PUT", { sys_bk_light: w });
    const answered = now() - t;
    if (put.status !== 200) throw new Error(JSON.stringify(put.body));
    const times = await Promise.all(seen);
    one.push(times[1]);
    ten.push(Math.max(...times));
    after.push(times[1] - answered);
  }
  console.log(`set sys_bk_light through Ember+ (value in force back at the consumer): ${figures(ember)}`);
  console.log(`the same PUT /boxes/a/settings through HTTP (answer back): ${figures(http)}`);
  console.log(`a PUT to a subscribed consumer's notification: ${figures(one)}`);
  console.log(`a PUT to the last of 10 subscribed consumers' notifications: ${figures(ten)}`);
  console.log(`a consumer's notification less the PUT's answer (negative: it came first): ${figures(after)}`);
  await Promise.all(clients.map((c) => c.disconnectAsync()));
  await service.stop();
  await box.stop();
})().catch((e) => {
  console.error("ember_bench:", e);
  process.exit(1);
});
