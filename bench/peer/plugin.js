// The Kestrel keys written on the official Node SDK, as a plug-in developer
// would write them: the peer that `scripts/bench --peer` measures beside the
// native plug-in. The same actions, the same controller socket and command
// documents, the same key images and overlays from the plug-in folder. Not
// shipped; see docs/performance.md.
//
// The plug-in folder is KESTREL_PLUGIN_FOLDER (the Stream Deck application
// starts a plug-in in its folder, where the SDK finds manifest.json). The
// actions come from KESTREL_ACTIONS_FILE, the native plug-in's action catalogue
// that the probe writes for each run (see actions.js).
import { readFileSync } from "node:fs";

import { SeqpacketSocket } from "node-unix-socket";

import { readActions } from "./actions.js";

const actionsFile = process.env.KESTREL_ACTIONS_FILE;
if (!actionsFile) {
  console.error("plugin.js: KESTREL_ACTIONS_FILE names no catalogue file (scripts/bench --peer writes one)");
  process.exit(2);
}
const actions = readActions(actionsFile);

process.chdir(process.env.KESTREL_PLUGIN_FOLDER ?? process.cwd());
const { default: streamDeck, SingletonAction } = await import("@elgato/streamdeck");

const PREFIX = "com.vantora.kestrel.";
const TRANSIENT_MS = 1500; // how long an alert or success mark stays
const PUMP_BURST_MS = 1000; // quiet time after the last press that ends a pump burst
const RECONNECT_MS = 1250;

// ---- key images: each file read once, drawn as PNG or as an SVG of layers ----

const pngs = new Map();
function png(file) {
  if (!pngs.has(file)) pngs.set(file, `data:image/png;base64,${readFileSync(file).toString("base64")}`);
  return pngs.get(file);
}

function compose(file, overlays) {
  if (overlays.length === 0) return png(file);
  const layers = [file, ...overlays].map((layer) => `<image href="${png(layer)}" width="144" height="144"/>`);
  return `<svg xmlns="http://www.w3.org/2000/svg" width="144" height="144">${layers.join("")}</svg>`;
}

// ---- the controller link ----

const status = { connected: false, signedIn: false, support: {} };
const listeners = new Set(); // keys that follow the controller's reports

function pipeAddress(name) {
  if (name.includes("/")) return name;
  const runtime = process.env.XDG_RUNTIME_DIR;
  return runtime ? `${runtime}/${name}` : `/tmp/${name}-${process.getuid()}`;
}

function document(element, payload) {
  // Members in sorted order, as the controller's other clients write them.
  return { payload, source: { class: "controller ", element }, target: { scope: "broadcast" }, version: 1 };
}

function command(name, element, data = null) {
  return document(element, { class: "command", command: { data, name } });
}

class ControllerLink {
  #socket = null;

  start() {
    const socket = new SeqpacketSocket();
    socket.on("connect", () => {
      this.#socket = socket;
      status.connected = true;
      this.#changed();
      this.send(command("SYS$QUERY:STATE", { class: "networkClient", function: "controllerClient", id: "controllerClient" }));
    });
    socket.on("data", (buffer) => this.#receive(buffer));
    socket.on("error", (error) => streamDeck.logger.warn(`ControllerLink: ${error.message}`));
    socket.on("close", () => this.#lost());
    try {
      socket.connect(pipeAddress(process.env.KESTREL_CONTROLLER_PIPE ?? "VantoraKestrelControllerServer"));
    } catch {
      socket.destroy?.();
      setTimeout(() => this.start(), RECONNECT_MS);
    }
  }

  // Resolves true once the command is handed to the system, false when the link is down or the write fails.
  send(message) {
    return new Promise((resolve) => {
      if (!this.#socket) return resolve(false);
      const bytes = Buffer.from(JSON.stringify(message));
      try {
        this.#socket.write(bytes, 0, bytes.length, () => resolve(true));
      } catch {
        resolve(false);
      }
    });
  }

  #lost() {
    const wasUp = this.#socket !== null;
    this.#socket = null;
    Object.assign(status, { connected: false, signedIn: false, support: {} });
    if (wasUp) this.#changed();
    setTimeout(() => this.start(), RECONNECT_MS);
  }

  #receive(buffer) {
    let event;
    try {
      event = JSON.parse(buffer.toString("utf8"))?.payload?.event;
    } catch {
      streamDeck.logger.warn("ControllerLink: a message that is not JSON; ignored");
      return;
    }
    const data = event?.data;
    switch (event?.name) {
      case "SYS$REPORT:STATE":
        if (typeof data?.isSignedIn !== "boolean") return;
        status.signedIn = data.isSignedIn;
        if (!status.signedIn) status.support = {};
        break;
      case "SYS$SUPPORT:FUNCTIONS":
        if (typeof data !== "object" || data === null) return;
        for (const [id, on] of Object.entries(data)) if (typeof on === "boolean") status.support[id] = on;
        break;
      case "SYS$REPORT:STATE:FUNCTION":
        for (const key of listeners) key.onFunctionState?.(data?.function, data?.state);
        return;
      default:
        return;
    }
    this.#changed();
  }

  #changed() {
    for (const key of listeners) key.redraw();
  }
}

const link = new ControllerLink();

// ---- the keys ----

class KestrelKey extends SingletonAction {
  manifestId;
  image;
  #mark = null; // the transient overlay
  #markTimer = null;

  constructor(shortName, image, defaults = {}) {
    super();
    this.manifestId = PREFIX + shortName;
    this.image = image;
    this.defaults = defaults;
    listeners.add(this);
  }

  statusOverlay() {
    if (!status.connected) return "state_offline.png";
    if (!status.signedIn) return "state_logged_out.png";
    if (!status.support[this.manifestId]) return "state_not_supported.png";
    return null;
  }

  redraw() {
    for (const action of this.actions) this.draw(action);
  }

  draw(action, image = this.image) {
    const overlays = [this.statusOverlay(), this.#mark].filter(Boolean);
    return action.setImage(compose(image, overlays));
  }

  mark(file) {
    this.#mark = file;
    clearTimeout(this.#markTimer);
    this.#markTimer = setTimeout(() => {
      this.#mark = null;
      this.redraw();
    }, TRANSIENT_MS);
    this.redraw();
  }

  settings(ev) {
    return { ...this.defaults, ...ev.payload.settings };
  }

  // The command a press sends; null sends nothing.
  commandFor() {
    return null;
  }

  async send(context, name, data) {
    const sent = await link.send(command(name, { class: "button", function: this.manifestId, id: context }, data));
    if (!sent) this.mark("state_alert.png");
    return sent;
  }

  onWillAppear(ev) {
    return this.draw(ev.action);
  }

  async onKeyDown(ev) {
    const [name, data] = this.commandFor(this.settings(ev)) ?? [];
    if (name) await this.send(ev.action.id, name, data);
  }

  onPropertyInspectorDidAppear(ev) {
    const state = !status.connected ? "offline" : !status.signedIn ? "login" : this.statusOverlay() ? "unsupported" : "online";
    return streamDeck.ui.sendToPropertyInspector({ settings: this.settings(ev), state: { id: state } });
  }
}

class SingleKey extends KestrelKey {
  constructor(shortName, image, name, data = () => null, defaults = {}) {
    super(shortName, image, defaults);
    this.name = name;
    this.data = data;
  }

  commandFor(settings) {
    return [this.name, this.data(settings)];
  }
}

// One row per state: [reported state, image, command a press sends].
class MultiStateKey extends KestrelKey {
  constructor(shortName, rows) {
    super(shortName, rows[0][1]);
    this.rows = rows;
    this.index = 0;
  }

  onFunctionState(functionId, state) {
    const index = this.rows.findIndex((row) => row[0] === state);
    if (functionId !== this.manifestId || index < 0 || index === this.index) return;
    this.index = index;
    this.image = this.rows[index][1];
    this.redraw();
  }

  commandFor() {
    return [this.rows[this.index][2]];
  }
}

// Rows as MultiStateKey's: the idle state first, then one per level.
class PumpKey extends KestrelKey {
  level = -1;
  timer = null;

  constructor(shortName, rows) {
    super(shortName, rows[0][1]);
    this.levels = rows.slice(1);
  }

  onKeyDown(ev) {
    this.level = Math.min(this.level + 1, this.levels.length - 1);
    clearTimeout(this.timer);
    const context = ev.action.id;
    this.timer = setTimeout(() => this.burstEnded(context), PUMP_BURST_MS);
    return this.draw(ev.action, this.levels[this.level][1]);
  }

  async burstEnded(context) {
    const value = this.level + 1;
    const name = this.levels[this.level][2];
    this.level = -1;
    this.redraw();
    if (await this.send(context, name, { value })) this.mark("state_success.png");
  }
}

const toInt = (value) => (typeof value === "boolean" ? Number(value) : Math.trunc(parseInt(value, 10)) || 0);
const volumeStep = (settings) => ({ auto_unmute: toInt(settings.auto_unmute) !== 0, step: toInt(settings.volume_step) });
const volumeLevel = (settings) => ({ auto_unmute: toInt(settings.auto_unmute) !== 0, value: toInt(settings.volume_value) >>> 0 });
const volumeLevelImage = (settings) => {
  const level = Math.min(100, Math.max(10, Math.trunc(toInt(settings.volume_value) / 10) * 10));
  return `media_request_set_volume_level_percent_${level}.png`;
};

class VolumeLevelKey extends SingleKey {
  #settings = new Map(); // context -> the settings the host last gave

  constructor(shortName, name, defaults) {
    super(shortName, volumeLevelImage(defaults), name, volumeLevel, defaults);
  }

  draw(action) {
    return super.draw(action, volumeLevelImage({ ...this.defaults, ...this.#settings.get(action.id) }));
  }

  onWillAppear(ev) {
    this.#settings.set(ev.action.id, ev.payload.settings);
    return this.draw(ev.action);
  }

  onWillDisappear(ev) {
    this.#settings.delete(ev.action.id);
  }

  onDidReceiveSettings(ev) {
    return this.onWillAppear(ev);
  }

  // On a dial (Stream Deck +) a turn moves the level by "dial_step" a tick,
  // shows it on the strip, keeps it in the settings and sends it at once.
  async onDialRotate(ev) {
    const settings = { ...this.defaults, ...this.#settings.get(ev.action.id) };
    const step = Math.min(100, Math.max(1, toInt(settings.dial_step ?? 5)));
    const level = Math.min(100, Math.max(0, toInt(settings.volume_value) + ev.payload.ticks * step));
    const changed = { ...settings, volume_value: level };
    this.#settings.set(ev.action.id, changed);
    const [name, data] = this.commandFor(changed);
    const sent = this.send(ev.action.id, name, data);
    await Promise.all([
      ev.action.setFeedback({ value: `${level} %`, indicator: { value: level } }),
      ev.action.setSettings(changed),
      sent,
    ]);
  }
}

const commandData = { none: () => null, volumeStep };

function keyFor({ shortName, kind, data, defaults, states }) {
  switch (kind) {
    case "multi":
      return new MultiStateKey(shortName, states);
    case "pump":
      return new PumpKey(shortName, states);
    case "dynamic":
      return new VolumeLevelKey(shortName, states[0][2], defaults);
    default:
      return new SingleKey(shortName, states[0][1], states[0][2], commandData[data], defaults);
  }
}

const keys = actions.map(keyFor);
for (const key of keys) streamDeck.actions.registerAction(key);
link.start();
await streamDeck.connect();
