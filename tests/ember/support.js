// What the Ember+ tests share: dpx20sim on a pseudo-terminal, dpx20ctl serve or the panel
// serving the control API and the Ember+ provider, requests to the API, and consumers built on
// node-emberplus.
"use strict";
const assert = require("node:assert/strict");
const child_process = require("node:child_process");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");

const emberplus = require("node-emberplus");
const { S101Codec } = require("node-emberplus/lib/socket/s101.codec");

const build = process.env.DPX20_BUILD_DIR || path.resolve("build");

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `done` until it gives something true or `ms` passed; its last value.
async function waitUntil(done, ms = 10000, step = 10) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await done();
    if (value || Date.now() > end) return value;
    await sleep(step);
  }
}

function folder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "dpx20-ember-"));
}

// Ends `child` with SIGTERM (SIGKILL after 10 s); its exit code.
function end(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve(child.exitCode);
  return new Promise((resolve) => {
    const kill = setTimeout(() => child.kill("SIGKILL"), 10000);
    child.once("exit", (code) => {
      clearTimeout(kill);
      resolve(code);
    });
    child.kill("SIGTERM");
  });
}

// dpx20sim on a pseudo-terminal reached through `<dir>/link-<name>`, with its frame log.
async function sim(dir, name, options = []) {
  const link = path.join(dir, "link-" + name);
  const log = link + ".log";
  const child = child_process.spawn(path.join(build, "dpx20sim"), ["--link", link, "--log", log, ...options],
    { stdio: "ignore" });
  assert.ok(await waitUntil(() => fs.existsSync(link), 5000), "dpx20sim made no link " + link);
  return {
    link,
    stop: () => end(child),
    // The command words the box received, in order.
    words: () => (fs.existsSync(log) ? fs.readFileSync(log, "latin1") : "").split("\n")
      .map((line) => line.split("\t")).filter((f) => f.length >= 4 && f[1] === "recv")
      .map((f) => Buffer.from(f[3].split(" ").map((h) => parseInt(h, 16))).subarray(3, 8).toString("latin1")),
  };
}

// A program that prints where it serves: resolves once the control API (with `api`) and the
// Ember+ provider (with `ember`) are announced on `stream`.
async function server(args, { cwd, env, stream = "stdout", ember = true, api = true } = {}) {
  const errors = path.join(cwd, path.basename(args[0]) + "-stderr.txt");
  const stdio = stream === "stdout" ? ["ignore", "pipe", fs.openSync(errors, "w")] : ["ignore", "ignore", "pipe"];
  const child = child_process.spawn(args[0], args.slice(1), { cwd, env: { ...process.env, ...env }, stdio });
  const lines = readline.createInterface({ input: stream === "stdout" ? child.stdout : child.stderr });
  const found = {};
  const text = [];
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("no addresses from " + args.join(" ") + ": " + text.join("\n"))), 30000);
    lines.on("line", (line) => {
      text.push(line);
      let m = /control API at (\S+)/.exec(line);
      if (m) found.url = m[1];
      m = /Ember\+ provider at (\S+)/.exec(line);
      if (m) found.ember = m[1];
      if ((found.url || !api) && (found.ember || !ember)) {
        clearTimeout(timer);
        resolve();
      }
    });
  });
  const ember_at = found.ember || ":0";
  const [host, port] = [ember_at.slice(0, ember_at.lastIndexOf(":")), Number(ember_at.slice(ember_at.lastIndexOf(":") + 1))];
  return { child, url: found.url, host, port, text, stop: () => end(child) };
}

// `dpx20ctl serve` in `dir` with --box NAME=LINK for each of `boxes` ({name: sim}).
function serve(dir, boxes, options = []) {
  const args = [path.join(build, "dpx20ctl"), "--api", "127.0.0.1:0", "--ember", "127.0.0.1:0", ...options];
  for (const [name, box] of Object.entries(boxes)) args.push("--box", `${name}=${box.link}`);
  return server([...args, "serve"], { cwd: dir });
}

// The panel, offscreen, serving the API and the Ember+ provider with its COM1 at `box`; its
// settings in `dir`, whose options file a virtual service makes first (a panel without one
// shows a notice).
async function panel(dir, box) {
  const maker = await server([path.join(build, "dpx20ctl"), "--virtual", "-p", "/dev/null", "--api", "127.0.0.1:0", "serve"],
    { cwd: dir, ember: false });
  for (const beep of [1, 0]) await api(maker.url + "/settings", "PUT", { sys_beep: beep });
  await maker.stop();
  return server([path.join(build, "dpx20remote"), "--api", "127.0.0.1:0", "--ember", "127.0.0.1:0"],
    { cwd: dir, env: { QT_QPA_PLATFORM: "offscreen", DPX20_COM1: box.link, XDG_CONFIG_HOME: dir }, stream: "stderr" });
}

// One request to the control API: {status, body}.
async function api(url, method = "GET", body) {
  const answer = await fetch(url, {
    method, body: body === undefined ? undefined : JSON.stringify(body),
    headers: body === undefined ? {} : { "Content-Type": "application/json" },
  });
  return { status: answer.status, body: await answer.json() };
}

// A consumer connected to `where` ({host, port}).
async function consumer(where) {
  const client = new emberplus.EmberClient({ host: where.host, port: where.port, timeoutValue: 5000 });
  client.on("error", () => {});
  await client.connectAsync();
  return client;
}

// A raw TCP connection: what it received, and whether the server closed it.
function raw(where) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(where.port, where.host);
    const state = { socket, received: Buffer.alloc(0), closed: false };
    socket.on("data", (data) => { state.received = Buffer.concat([state.received, data]); });
    socket.on("close", () => { state.closed = true; });
    socket.on("error", () => {});
    socket.once("connect", () => resolve(state));
    socket.once("error", reject);
  });
}

// One Glow message as S101 frames, made by the library's own codec.
function frames(glow) {
  return Buffer.concat(new S101Codec().encodeBER(glow));
}

module.exports = { emberplus, S101Codec, api, consumer, end, folder, frames, panel, raw, serve, server, sim, sleep, waitUntil, build };
