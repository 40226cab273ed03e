// One box's section: its connection, its actions and a control for each setting an operator
// uses at the rack. A control shows the value in force (data-value) and returns to it when a
// change is refused, with the refusal's text beside it until the next change or reconnection.
// Actions that change a live box (LOAD, SAVE, CONNECT on a connected box, DISCONNECT) ask for a
// second tap first; every action's success shows for a moment.
import { request } from "./api.js";

const kOnOff = [[0, "OFF"], [1, "ON"]];

// The settings by group, each with the names of its values in the panel's screen order (a
// list: an object's integer keys would come out in numeric order); a setting without names is
// a slider over its range, with steppers. The values offered are those its range holds.
const kGroups = [
  ["2D-3D", [
    ["sys_2D3D", "2D-3D", kOnOff],
    ["sys_adj3d_mode", "Adjust", [[0, "OFF"], [4, "STANDARD"], [6, "ANAGRYPH"], [8, "LR-SEQ."]]],
    ["sys_adj3d_para", "Parallax"],
    ["sys_adj3d_inte", "Intensity"],
    ["sys_adj3d_subi", "Sub intensity"],
  ]],
  ["Input", [
    ["sys_input_select", "Input", [[1, "SDI-1(L)"], [2, "SDI-2(R)"], [3, "HDMI"], [0, "SDI-LR"]]],
    ["sys_input_porality", "SDI-LR polarity", [[0, "NORMAL"], [1, "INVERT"]]],
    ["sys_LRadj_mode", "SDI-LR adjust", [[0, "OFF"], [1, "SPLIT"], [2, "ANAGRYPH"], [3, "LR-SEQ."]]],
    ["sys_LRadj_split", "Split position"],
  ]],
  ["Output", [
    ["sys_sdi_mix", "SDI output", [[0, "MIX"], [1, "INDIVIDUAL"]]],
    ["sys_hdmi_mix", "HDMI output", [[0, "MIX"], [1, "INDIVIDUAL"]]],
    ["sys_3dfmt", "3D format", [[0, "LINE BY LINE"], [1, "SIDE BY SIDE H"], [2, "ABOVE-BELOW"], [3, "CHECKER BOARD"]]],
  ]],
  ["Scope", [
    ["sys_scp_mode", "Scope", [[0, "OFF"], [1, "W. F. M."], [2, "VECTOR SCOPE"]]],
    ["sys_scp_src", "Source", [[0, "PARALLEL"], [1, "BALANCE"], [2, "IN1"], [3, "IN2"]]],
    ["sys_scp_pos", "Position", [[2, "LEFT UPPER"], [3, "RIGHT UPPER"], [1, "LEFT LOWER"], [0, "RIGHT LOWER"]]],
    ["sys_scp_fil", "Filter", [[0, "FLAT"], [1, "LOW PASS"]]],
    ["sys_scp_wgain", "W. F. M. gain"],
    ["sys_scp_vgain", "Vector gain"],
  ]],
  ["Functions", [
    ["sys_beep", "Beep", [[0, "ON"], [1, "OFF"]]],
    ["sys_rotate", "Rotate", [[0, "OFF"], [1, "SDI-1(L) ROTATE"], [2, "SDI-2(R) ROTATE"]]],
    ["sys_f_sync", "Frame sync", kOnOff],
    ["sys_bk_light", "Back light"],
  ]],
];
const kMemories = [1, 2, 3, 4, 5, 6];
const kAdjustMemories = [1, 2];
const kAdjustValues = [["para", "P"], ["inte", "I"], ["subi", "S"]];
// How long a success or a tap waiting for its confirmation shows.
const kDoneMs = 3000;
const kConfirmMs = 4000;

// Every setting the page shows, and the names of its values: the overview's tiles use them.
export const kPageKeys = kGroups.flatMap(([, rows]) => rows.map(([key]) => key));
export function valueName(key, value) {
  for (const [, rows] of kGroups) {
    for (const [k, , names] of rows) {
      if (k !== key) continue;
      const named = names?.find(([v]) => v === value);
      return named ? named[1] : String(value);
    }
  }
  return String(value);
}

let unique = 0;

// An element with attributes (on* are listeners) and children.
export function make(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name.startsWith("on")) element.addEventListener(name.slice(2), value);
    else if (name === "text") element.textContent = value;
    else element.setAttribute(name, value === true ? "" : value);
  }
  element.append(...children);
  return element;
}

function offered(range, value) {
  return range.values ? range.values.includes(value) : value >= range.low && value <= range.high;
}

// A button whose action runs at the second tap: the first shows what it will do ("Tap again:
// LOAD 3") for a few seconds. `needed()` says whether this tap needs it.
export function confirmed(button, text, needed, run) {
  let timer = 0;
  const label = button.textContent;
  const reset = () => {
    clearTimeout(timer);
    button.removeAttribute("data-confirm");
    button.textContent = label;
  };
  button.addEventListener("click", () => {
    if (button.hasAttribute("data-confirm") || !needed()) {
      reset();
      run();
      return;
    }
    button.setAttribute("data-confirm", "true");
    button.textContent = `Tap again: ${text}`;
    timer = setTimeout(reset, kConfirmMs);
  });
  return button;
}

// The text of a refusal for the operator: the API's own words for people, else its error.
export function reason(body) {
  if (body.operator_text) return body.operator_text;
  const error = body.error || "refused";
  return body.cause ? `${error} (${body.cause})` : error;
}

// A row of the page that shows one setting and changes it: buttons for named values, else a
// slider with steppers. `send(value)` asks for a change.
class Control {
  constructor(key, label, names, send) {
    Object.assign(this, { key, label, names, send, editing: false });
    this.refusal = make("p", { class: "refusal", role: "alert" });
    this.root = make("div", { class: "control", "data-setting": key });
  }

  // Builds the control for the setting's range, from the first state.
  build(setting) {
    this.range = setting.range;
    const id = `c${++unique}`;
    if (this.names) {
      this.buttons = this.names
        .filter(([value]) => offered(this.range, value))
        .map(([value, name]) => make("button", {
          type: "button", "data-choice": value, "aria-pressed": "false", text: name,
          onclick: () => this.send(value),
        }));
      this.root.append(make("span", { class: "label", id, text: this.label }),
        make("div", { class: "choices", role: "group", "aria-labelledby": id, "data-count": this.buttons.length }, ...this.buttons), this.refusal);
    } else {
      this.output = make("output", { for: id });
      this.slider = make("input", {
        type: "range", id, min: this.range.low, max: this.range.high, step: 1,
        oninput: () => { this.editing = true; this.output.textContent = this.slider.value; },
        onchange: () => { this.editing = false; this.send(Number(this.slider.value)); },
      });
      const step = (by, text, name) => make("button", {
        type: "button", class: "step", "data-step": by, "aria-label": `${this.label} ${name}`, text,
        // From the value shown: quick taps add up while the first change is on its way.
        onclick: () => this.send(Math.min(this.range.high, Math.max(this.range.low, Number(this.slider.value) + by))),
      });
      this.root.classList.add("slider");
      this.root.append(make("label", { class: "label", for: id, text: this.label }), this.output,
        make("div", { class: "track" }, step(-1, "−", "down"), this.slider, step(1, "+", "up")), this.refusal);
    }
  }

  // The value in force, shown unless the operator is moving the slider or a newer value waits
  // to be sent.
  set value(value) {
    this.root.dataset.value = value;
    if (!this.editing && this.waiting === undefined) this.show(value);
  }
  get value() { return Number(this.root.dataset.value); }

  show(value) {
    if (this.buttons) for (const b of this.buttons) b.setAttribute("aria-pressed", String(Number(b.dataset.choice) === value));
    if (this.slider) {
      this.slider.value = value;
      this.output.textContent = value;
    }
  }

  // What became of a change: refused, its text shows and the value in force comes back.
  answered(error) {
    this.refusal.textContent = error || "";
    if (error) this.show(this.value);
  }
}

export class BoxView {
  // `name`: the box's name in a service (its requests go below /boxes/NAME), or null for the
  // panel's one box. `own(what)` notes a change this page asked for, so that the change log
  // tells it from another client's; `onChange(view)` hears every change of what the overview shows.
  constructor(name, { own = () => {}, onChange = () => {} } = {}) {
    Object.assign(this, { name, own, onChange });
    this.base = name === null ? "" : `/boxes/${encodeURIComponent(name)}`;
    this.controls = new Map();
    this.values = {};
    this.queue = Promise.resolve();
    this.connection = "disconnected";
    this.live = false;
    this.last = null;  // the last change: {text, source, time}
    this.id = `box-${name ?? "panel"}`;
    this.root = make("section", { class: "box", id: this.id, "data-box": name ?? "panel", "data-connected": "false", "data-connection": "disconnected" });
    this.title = make("h2", { text: name === null ? "Box" : name });
    this.about = make("span", { class: "about" });
    this.device = make("span", { class: "device" });
    this.badge = make("span", { class: "badge", role: "status" });
    this.cause = make("p", { class: "cause" });
    this.notice = make("p", { class: "refusal", role: "alert" });
    this.done = make("p", { class: "done", role: "status" });
    const action = (label, path, attributes = {}, confirm = null) => {
      const button = make("button", { type: "button", "data-action": path, ...attributes, text: label });
      if (!confirm) button.addEventListener("click", () => this.act(path));
      else confirmed(button, confirm.text, confirm.needed, () => this.act(path));
      return button;
    };
    this.root.append(
      make("header", { class: "box-head" },
        make("a", { href: "#", class: "back", "data-back": true, text: "← All boxes" }),
        make("div", { class: "box-name" }, this.title, this.about, this.device),
        this.badge,
        make("div", { class: "actions" },
          action("CONNECT", "connect", { "data-always": true }, { text: "CONNECT again (synchronises)", needed: () => this.connected }),
          action("SYNC", "sync"),
          action("DISCONNECT", "disconnect", { class: "apart" }, { text: "DISCONNECT", needed: () => true }))),
      this.cause, this.notice, this.done);
    this.groups = make("div", { class: "groups" });
    this.root.append(this.groups);
  }

  get connected() { return this.connection !== "disconnected"; }
  get shownName() { return this.name ?? "Box"; }

  // The first state of the box (and every state after a reconnection).
  applyState(state) {
    this.device.textContent = [state.device, state.port_kind].filter(Boolean).join(" · ");
    if (this.name === null && state.host) this.title.textContent = state.host === "panel" ? "Panel's box" : "Box";
    this.label = state.label ?? "";
    this.location = state.location ?? "";
    this.about.textContent = [this.label, this.location].filter(Boolean).join(" · ");
    this.startError = state.start_error ?? "";
    if (!this.built) this.build(state.settings);
    for (const [key, setting] of Object.entries(state.settings)) this.setValue(key, setting.value);
    this.setConnection(state.connection ?? (state.connected ? "connected" : "disconnected"), state.cause || state.start_error);
  }

  build(settings) {
    this.built = true;
    for (const [title, rows] of kGroups) {
      const group = make("fieldset", { class: "group" }, make("legend", { text: title }));
      for (const [key, label, names] of rows) {
        if (!settings[key]) continue;
        const control = new Control(key, settings[key].label || label, names, (value) => this.change(control, value));
        control.build(settings[key]);
        this.controls.set(key, control);
        group.append(control.root);
      }
      this.groups.append(group);
    }
    const memories = make("fieldset", { class: "group memories" }, make("legend", { text: "Memories" }));
    for (const verb of ["load", "save"]) {
      const Verb = verb === "load" ? "LOAD" : "SAVE";
      memories.append(make("div", { class: "memory-row" }, make("span", { class: "label", text: verb === "load" ? "Load" : "Save" }),
        ...kMemories.map((n) => confirmed(make("button", {
          type: "button", "data-action": `memory/${n}/${verb}`, "aria-label": `${verb === "load" ? "Load" : "Save"} memory ${n}`,
          text: String(n),
        }), `${Verb} ${n}`, () => true, () => this.act(`memory/${n}/${verb}`)))));
    }
    this.memoryRefusal = make("p", { class: "refusal", role: "alert" });
    memories.append(this.memoryRefusal, make("h3", { text: "Adjust memories (on the box)" }));
    for (const n of kAdjustMemories) {
      const values = kAdjustValues.map(([part, letter]) => {
        const key = `sys_save${n}_${part}`;
        const shown = make("span", { class: "memory-value", "data-setting": key, title: key });
        this.controls.set(key, { set value(v) { shown.dataset.value = v; shown.textContent = `${letter} ${v}`; } });
        return shown;
      });
      memories.append(make("div", { class: "memory-row" }, make("span", { class: "label", text: `Adjust ${n}` }), ...values,
        ...["save", "load"].map((verb) => confirmed(make("button", {
          type: "button", "data-action": `adjust-memory/${n}/${verb}`, "aria-label": `${verb === "load" ? "Load" : "Save"} adjust memory ${n}`,
          text: verb === "load" ? "LOAD" : "SAVE",
        }), `${verb.toUpperCase()} adjust ${n}`, () => true, () => this.act(`adjust-memory/${n}/${verb}`)))));
    }
    this.groups.append(memories);
    this.enable();
  }

  setValue(key, value) {
    this.values[key] = value;
    const control = this.controls.get(key);
    if (control) control.value = value;
  }

  // "connected", "not answering" or "disconnected", with why when not connected.
  setConnection(connection, cause) {
    const was = this.connection;
    this.connection = connection;
    this.root.dataset.connected = String(this.connected);
    this.root.dataset.connection = connection;
    this.badge.textContent = connection.toUpperCase();
    this.cause.textContent = connection === "connected" ? "" : cause || (connection === "not answering" ? "the box stopped answering" : "");
    // A reconnection, or a box that answers again, starts afresh: the refusals of before are history.
    if (was !== "connected" && connection === "connected") this.clearRefusals();
    this.enable();
    this.onChange(this);
  }

  clearRefusals() {
    this.notice.textContent = "";
    if (this.memoryRefusal) this.memoryRefusal.textContent = "";
    for (const control of this.controls.values()) control.answered?.(null);
  }

  setLive(live) {
    this.live = live;
    this.enable();
  }

  // An event of this box (not the first state).
  applyEvent(event) {
    if (event.event === "setting") {
      this.setValue(event.key, event.value);
      this.controls.get(event.key)?.refusal && (this.controls.get(event.key).refusal.textContent = "");
    } else if (event.event === "connected") this.setConnection("connected");
    else if (event.event === "answering") this.setConnection("connected");
    else if (event.event === "not_answering") this.setConnection("not answering", event.cause);
    else if (event.event === "disconnected") this.setConnection("disconnected", event.cause);
    else if (event.event === "message") this.notice.textContent = event.text;
    this.onChange(this);
  }

  // Controls work while the server's events are live and the box is connected; CONNECT works
  // whenever the server can be reached.
  enable() {
    for (const element of this.root.querySelectorAll("button, input")) {
      element.disabled = !this.live || (!this.connected && !element.hasAttribute("data-always"));
    }
  }

  // Requests of one box go one after the other, so that the page never refuses itself as busy.
  enqueue(work) {
    this.queue = this.queue.then(work).catch((error) => this.onError?.(error));
    return this.queue;
  }

  // A success for a moment, in the section and on the tile.
  flash(text) {
    this.done.textContent = text;
    this.doneText = text;
    clearTimeout(this.doneTimer);
    this.doneTimer = setTimeout(() => { this.done.textContent = ""; this.doneText = ""; this.onChange(this); }, kDoneMs);
    this.onChange(this);
  }

  // A change of one setting. Values asked for while one waits replace it: a dragged slider
  // sends its latest value.
  change(control, value) {
    control.show(value);
    const waiting = control.waiting !== undefined;
    control.waiting = value;
    if (waiting) return;
    control.root.setAttribute("aria-busy", "true");
    this.enqueue(async () => {
      const wanted = control.waiting;
      control.waiting = undefined;
      let error = null;
      this.own(this.name, control.key);
      try {
        const answer = await request("PUT", `${this.base}/settings`, { [control.key]: wanted });
        this.own(this.name, control.key);
        if (answer.status === 200) control.value = wanted;
        else error = reason(answer.body);
      } finally {
        control.root.removeAttribute("aria-busy");
      }
      control.answered(error);
      this.notice.textContent = "";
    });
  }

  // CONNECT, DISCONNECT, SYNC and the memories; a refusal shows beside the section's actions or
  // the memories, a success for a moment. Resolves to the answer (for the overview's actions).
  act(path) {
    const line = path.includes("memory") ? this.memoryRefusal : this.notice;
    const button = this.root.querySelector(`[data-action="${path}"]`);
    button?.setAttribute("aria-busy", "true");
    let result = null;
    return this.enqueue(async () => {
      this.own(this.name, "*");
      try {
        const answer = await request("POST", `${this.base}/${path}`);
        this.own(this.name, "*");
        result = answer;
        line.textContent = answer.status === 200 ? "" : reason(answer.body);
        if (answer.status === 200) this.flash(`${actionName(path)}: done`);
      } finally {
        button?.removeAttribute("aria-busy");
      }
    }).then(() => result);
  }
}

// "memory/3/load" -> "LOAD memory 3".
export function actionName(path) {
  const [what, n, verb] = path.split("/");
  if (!verb) return what.toUpperCase();
  return `${verb.toUpperCase()} ${what === "memory" ? "memory" : "adjust memory"} ${n}`;
}
