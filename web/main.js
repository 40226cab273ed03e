// The page: a section per box, made from the first state the events bring and kept live by
// every event after it; the token asked for once where the server needs one.
import { Events, TokenNeeded, token } from "./api.js";
import { BoxView } from "./box.js";

const boxes = new Map();  // by the box's name in the events; "" for the panel's one box
const main = document.getElementById("boxes");
const link = document.getElementById("link");
const jump = document.getElementById("jump");
const tokenForm = document.getElementById("token");
let shown = false;

function askToken(text) {
  token.forget();
  tokenForm.hidden = false;
  document.getElementById("token-error").textContent = text || "";
  document.getElementById("token-input").focus();
}

function view(name) {
  let box = boxes.get(name ?? "");
  if (!box) {
    box = new BoxView(name ?? null);
    box.onError = (error) => {
      if (error instanceof TokenNeeded) askToken(error.message);
      else console.warn(error);
    };
    box.setLive(document.body.dataset.live === "true");
    boxes.set(name ?? "", box);
    main.append(box.root);
    jump.append(box.jump);
    jump.hidden = boxes.size < 2;
  }
  return box;
}

function onEvent(event) {
  if (event.event !== "state") {
    boxes.get(event.box ?? "")?.applyEvent(event);
    return;
  }
  const states = event.boxes ?? [event];
  const names = new Set(states.map((state) => state.box ?? ""));
  for (const [name, box] of boxes) {
    if (!names.has(name)) {
      box.root.remove();
      box.jump.remove();
      boxes.delete(name);
    }
  }
  for (const state of states) view(state.box).applyState(state);
  if (!shown) {
    shown = true;
    performance.mark("dpx20-first-state");
    document.body.dataset.shown = "true";
  }
}

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
