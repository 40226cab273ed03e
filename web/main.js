// The page: the overview of every box first (a tile each), a box's section when its tile is
// tapped (#box-NAME), made from the first state the events bring and kept live by every event
// after it; the log of the last changes; the token asked for once where the server needs one.
import { Events, TokenNeeded, request, token } from "./api.js";
import { BoxView, valueName } from "./box.js";
import { Overview } from "./overview.js";

const boxes = new Map();  // by the box's name in the events; "" for the panel's one box
const main = document.getElementById("boxes");
const link = document.getElementById("link");
const others = document.getElementById("others");
const tokenForm = document.getElementById("token");
const overview = new Overview(document.getElementById("overview"));
let shown = false;

document.title = `dpx20remote · ${location.host}`;
document.getElementById("server").textContent = location.host;

// What this page asked for lately, so that the log tells its own changes from another client's.
const ownUntil = new Map();  // "box|key" (key "*": an action) -> until when it counts as ours
const kOwnMs = 2000;
function own(name, key) { ownUntil.set(`${name ?? ""}|${key}`, Date.now() + kOwnMs); }
function ours(event) {
  const now = Date.now();
  return [event.key ?? "*", "*"].some((key) => (ownUntil.get(`${event.box ?? ""}|${key}`) ?? 0) > now);
}

// Who changed it, in an operator's words.
function sourceOf(event) {
  if (event.source === "api") return ours(event) ? "this page" : "another client (API)";
  return { panel: "panel", memory: "memory", service: "service" }[event.source] ?? event.source;
}

function describe(event) {
  switch (event.event) {
    case "setting": return `${label(event)} ${valueName(event.key, event.value)}`;
    case "connected": return "connected";
    case "disconnected": return event.cause ? `disconnected: ${event.cause}` : "disconnected";
    case "not_answering": return "not answering";
    case "answering": return "answering again";
    case "failure": return `refused: ${event.operator_text ?? event.error}`;
    case "message": return event.text;
    default: return null;
  }
}

function label(event) {
  const control = boxes.get(event.box ?? "")?.controls.get(event.key);
  return control?.label ?? event.key;
}

function askToken(text) {
  token.forget();
  tokenForm.hidden = false;
  document.getElementById("token-error").textContent = text || "";
  document.getElementById("token-input").focus();
}

function view(name) {
  let box = boxes.get(name ?? "");
  if (!box) {
    box = new BoxView(name ?? null, { own, onChange: (v) => overview.update(v) });
    box.onError = (error) => {
      if (error instanceof TokenNeeded) askToken(error.message);
      else console.warn(error);
    };
    box.setLive(document.body.dataset.live === "true");
    boxes.set(name ?? "", box);
    main.append(box.root);
    overview.add(box);
    route();
  }
  return box;
}

// The overview, or the one box whose tile was tapped; a server of one box shows it at once.
function route() {
  const several = boxes.size > 1;
  const open = several ? [...boxes.values()].find((box) => `#${box.id}` === location.hash) : boxes.values().next().value;
  document.body.dataset.view = open ? "box" : "overview";
  document.body.dataset.several = String(several);
  for (const box of boxes.values()) box.root.hidden = box !== open;
  window.scrollTo(0, 0);
}
window.addEventListener("hashchange", route);

function onEvent(event) {
  if (event.event !== "state") {
    const box = boxes.get(event.box ?? "");
    if (!box) return;
    box.applyEvent(event);
    const text = describe(event);
    if (text) overview.note(box, text, sourceOf(event), Date.parse(event.time) || Date.now());
    if (event.source === "api" && !ours(event)) checkOthers();
    return;
  }
  const states = event.boxes ?? [event];
  const names = new Set(states.map((state) => state.box ?? ""));
  for (const [name, box] of boxes) {
    if (!names.has(name)) {
      box.root.remove();
      overview.remove(box);
      boxes.delete(name);
    }
  }
  for (const state of states) view(state.box).applyState(state);
  route();
  checkOthers();
  if (!shown) {
    shown = true;
    performance.mark("dpx20-first-state");
    document.body.dataset.shown = "true";
  }
}

// A hint when another client follows the events too (another tablet, a button panel).
async function checkOthers() {
  try {
    const answer = await request("GET", "/health");
    const n = (answer.body.event_clients ?? 1) - 1;
    others.textContent = n > 0 ? `${n} other client${n > 1 ? "s" : ""} connected` : "";
  } catch {
    others.textContent = "";
  }
}
setInterval(checkOthers, 15000);

function onLive(live) {
  document.body.dataset.live = String(live);
  link.textContent = live ? "Live" : "Connection to the server lost: trying again…";
  for (const box of boxes.values()) box.setLive(live);
}

const events = new Events({ onEvent, onLive, onTokenNeeded: askToken });

tokenForm.addEventListener("submit", (submitted) => {
  submitted.preventDefault();
  token.set(document.getElementById("token-input").value);
  document.getElementById("token-input").value = "";
  tokenForm.hidden = true;
  events.open();
});

events.open();
