// The rack at a glance: a tile per box (its name, label, location, connection, input, 2D-3D,
// outputs and 3D format, the last change with its source and age), a selection of several with
// CONNECT, SYNC and LOAD memory N for all of them (each box's result on its tile), and the log of
// the last changes of every box.
import { make, valueName, confirmed, reason, actionName } from "./box.js";

const kLogLength = 40;

// How long ago `time` (ms since the epoch) was, shortly.
export function age(time, now = Date.now()) {
  const s = Math.max(0, Math.round((now - time) / 1000));
  if (s < 60) return `${s} s ago`;
  if (s < 3600) return `${Math.floor(s / 60)} min ago`;
  return `${Math.floor(s / 3600)} h ago`;
}

export class Overview {
  constructor(root) {
    this.root = root;
    this.tiles = new Map();  // BoxView -> its tile's parts
    this.grid = root.querySelector("#tiles");
    this.count = root.querySelector("#selected");
    this.log = document.getElementById("log-list");
    this.memory = root.querySelector("#group-memory");
    const run = (action) => () => this.each(action);
    root.querySelector("#select-all").addEventListener("click", () => this.selectAll());
    const connect = root.querySelector("#group-connect");
    confirmed(connect, "CONNECT the selected boxes", () => this.selected().some((v) => v.connected), run("connect"));
    root.querySelector("#group-sync").addEventListener("click", run("sync"));
    const load = root.querySelector("#group-load");
    confirmed(load, "LOAD the memory", () => true, () => this.each(`memory/${this.memory.value}/load`));
    setInterval(() => { for (const view of this.tiles.keys()) this.update(view); }, 5000);
    this.changed();
  }

  add(view) {
    const check = make("input", { type: "checkbox", "aria-label": `Select ${view.shownName}`, onchange: () => this.changed() });
    const parts = {
      check,
      name: make("span", { class: "tile-name", text: view.shownName }),
      about: make("span", { class: "tile-about" }),
      place: make("span", { class: "tile-place" }),
      state: make("span", { class: "tile-state" }),
      input: make("span"), output: make("span"), format: make("span"),
      last: make("span", { class: "tile-last" }),
      result: make("span", { class: "tile-result", role: "status" }),
    };
    parts.root = make("article", { class: "tile", "data-tile": view.name ?? "panel" },
      make("div", { class: "tile-head" }, make("label", { class: "tile-check" }, check), parts.name),
      make("a", { class: "tile-open", href: `#${view.id}`, "aria-label": `Open ${view.shownName}` },
        parts.state, parts.about, parts.place, parts.input, parts.output, parts.format, parts.last),
      parts.result);
    this.tiles.set(view, parts);
    this.grid.append(parts.root);
    this.update(view);
  }

  remove(view) {
    this.tiles.get(view)?.root.remove();
    this.tiles.delete(view);
    this.changed();
  }

  // Shows what the box's view holds now.
  update(view) {
    const t = this.tiles.get(view);
    if (!t) return;
    t.root.dataset.connection = view.connection;
    t.about.textContent = view.label || view.device.textContent;
    t.place.textContent = view.location ?? "";
    t.state.textContent = view.connection.toUpperCase();
    t.state.title = view.cause.textContent;
    const v = view.values;
    const named = (key) => (key in v ? valueName(key, v[key]) : "–");
    t.input.textContent = `Input ${named("sys_input_select")} · 2D-3D ${named("sys_2D3D")}`;
    t.output.textContent = `SDI ${named("sys_sdi_mix")} · HDMI ${named("sys_hdmi_mix")}`;
    t.format.textContent = `3D ${named("sys_3dfmt")}`;
    t.last.textContent = view.last ? `${view.last.text} · ${view.last.source} · ${age(view.last.time)}` : "no change yet";
    // The box's cause while it is not connected, gone once it is; an action's result stays.
    const cause = view.connection !== "connected" ? view.cause.textContent : "";
    if (view.doneText) this.result(view, view.doneText, true);
    else if (cause && !t.result.textContent) this.result(view, cause, false, true);
    else if (!cause && t.result.dataset.cause === "true") this.result(view, "", true);
  }

  result(view, text, ok, cause = false) {
    const t = this.tiles.get(view);
    t.result.textContent = text;
    t.result.dataset.ok = String(ok);
    t.result.dataset.cause = String(cause);
  }

  selected() { return [...this.tiles].filter(([, t]) => t.check.checked).map(([view]) => view); }

  selectAll() {
    const all = [...this.tiles.values()];
    const on = !all.every((t) => t.check.checked);
    for (const t of all) t.check.checked = on;
    this.changed();
  }

  changed() {
    const n = this.selected().length;
    this.count.textContent = n ? `${n} selected` : "none selected";
    for (const id of ["#group-connect", "#group-sync", "#group-load", "#group-memory"]) this.root.querySelector(id).disabled = n === 0;
  }

  // One action for every selected box, side by side; each box's result on its tile.
  async each(path) {
    await Promise.all(this.selected().map(async (view) => {
      this.result(view, `${actionName(path)}…`, true);
      const answer = await view.act(path);
      if (!answer) return;
      this.result(view, answer.status === 200 ? `${actionName(path)}: done` : reason(answer.body), answer.status === 200);
    }));
  }

  // A line of the change log, newest first.
  note(view, text, source, time) {
    view.last = { text, source, time };
    const when = new Date(time).toLocaleTimeString([], { hour12: false });
    this.log.prepend(make("li", { "data-source": source },
      make("time", { text: when }), make("b", { text: view.shownName }), make("span", { text }), make("i", { text: source })));
    while (this.log.children.length > kLogLength) this.log.lastChild.remove();
    this.update(view);
  }
}
