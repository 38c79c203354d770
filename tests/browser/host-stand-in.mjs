// A stand-in for the Stream Deck application's side of a property inspector:
// a WebSocket server on 127.0.0.1 that the page connects to, and a headless
// Chromium that loads the page from the plug-in folder and calls its
// connectElgatoStreamDeckSocket() the way the host does.
import { mkdtempSync, rmSync, mkdirSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import { chromium } from "playwright-core";
import { WebSocketServer } from "ws";

const here = path.dirname(fileURLToPath(import.meta.url));
export const repository = path.resolve(here, "..", "..");
export const pluginFolder = path.join(repository, "plugin", "com.vantora.kestrel.sdPlugin");
const pluginVersion = JSON.parse(readFileSync(path.join(pluginFolder, "manifest.json"), "utf8")).Version;
export const screenshotFolder = path.join(repository, "build", "screenshots");

const CHROMIUM = process.env.KESTREL_CHROMIUM || "/usr/bin/chromium";
const WAIT_MS = 5000; // generous: the machine is shared and slow at times

// Messages from one page, awaited in order.
class Inbox {
  constructor() {
    this.queue = [];
    this.waiters = [];
  }

  push(message) {
    const waiter = this.waiters.shift();
    if (waiter) waiter.resolve(message);
    else this.queue.push(message);
  }

  next(what = "a message") {
    if (this.queue.length) return Promise.resolve(this.queue.shift());
    return new Promise((resolve, reject) => {
      const waiter = { resolve: (m) => { clearTimeout(timer); resolve(m); } };
      const timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(waiter), 1);
        reject(new Error(`no ${what} from the page within ${WAIT_MS} ms`));
      }, WAIT_MS);
      this.waiters.push(waiter);
    });
  }

  pending() {
    return this.queue.slice();
  }
}

export class HostStandIn {
  static async start() {
    const host = new HostStandIn();
    host.server = new WebSocketServer({ host: "127.0.0.1", port: 0 });
    await new Promise((resolve) => host.server.once("listening", resolve));
    host.port = host.server.address().port;
    host.inbox = new Inbox();
    host.server.on("connection", (socket) => {
      host.socket = socket;
      socket.on("message", (data) => host.inbox.push(JSON.parse(data.toString())));
    });
    host.profile = mkdtempSync(path.join(tmpdir(), "kestrel-pi-"));
    host.context = await chromium.launchPersistentContext(host.profile, {
      executablePath: CHROMIUM,
      headless: true,
      viewport: { width: 360, height: 220 },
      colorScheme: "dark", // as the Stream Deck application shows its pages
      args: [
        "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
      ],
    });
    host.page = host.context.pages()[0] || (await host.context.newPage());
    host.pageErrors = [];
    host.page.on("pageerror", (error) => host.pageErrors.push(error.message));
    return host;
  }

  // Loads a page of the plug-in folder and connects it as the host would.
  // |language| and |colors| are what the host's info says of itself;
  // |prepare| runs in the page before the host connects it; |controller|
  // "Encoder" opens it for a dial; |inMultiAction| for a step of a Multi
  // Action (no coordinates, as the host sends it).
  async open(page, { uuid = "PI-CONTEXT-1", action, settings = {}, language = "en", colors, prepare, controller,
    inMultiAction = false } = {}) {
    this.inbox.queue.length = 0; // what the previous page sent last
    await this.page.goto(pathToFileURL(path.join(pluginFolder, "pi", page)).href);
    const info = { application: { language, platform: "windows", version: "6.5.0" },
      plugin: { uuid: "com.vantora.kestrel", version: pluginVersion }, devicePixelRatio: 1, colors };
    const actionInfo = { action, context: uuid, device: "DEV1",
      payload: { settings, ...(!inMultiAction && { coordinates: { column: 0, row: 0 } }), ...(controller && { controller }),
        isInMultiAction: inMultiAction } };
    if (prepare) await this.page.evaluate(prepare);
    await this.page.evaluate(
      ([port, id, infoText, actionText]) =>
        window.connectElgatoStreamDeckSocket(port, id, "registerPropertyInspector", infoText, actionText),
      [String(this.port), uuid, JSON.stringify(info), JSON.stringify(actionInfo)]);
  }

  next(what) {
    return this.inbox.next(what);
  }

  // Sends an event to the page as the host forwards it.
  send(event, payload, action) {
    this.socket.send(JSON.stringify({ action, context: "PI-CONTEXT-1", event, payload }));
  }

  async screenshot(name) {
    mkdirSync(screenshotFolder, { recursive: true });
    await this.page.screenshot({ path: path.join(screenshotFolder, name), fullPage: true });
  }

  async stop() {
    await this.context?.close();
    await new Promise((resolve) => this.server.close(resolve));
    rmSync(this.profile, { recursive: true, force: true });
  }
}
