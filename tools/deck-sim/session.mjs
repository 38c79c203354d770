// Starts deck-sim (with the real plug-in and, when built, controller-sim) and
// Debian's Chromium under playwright-core: shared by the scripted demo
// (scripts/demo --headless) and the browser tests.

import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
export const repositoryRoot = path.resolve(here, "../..");
export const defaultBin = path.join(repositoryRoot, "build/linux/bin");

export const chromiumPath = "/usr/bin/chromium";
const chromiumFlags = [
  "--headless",
  "--no-sandbox",
  "--disable-gpu",
  "--no-first-run",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
];

// Lines of a child's stdout, with waiting for the one that matches.
class LineLog {
  constructor(stream) {
    this.lines = [];
    this.waiters = [];
    let rest = "";
    stream.setEncoding("utf8");
    stream.on("data", (chunk) => {
      rest += chunk;
      let end;
      while ((end = rest.indexOf("\n")) >= 0) {
        this.add(rest.slice(0, end));
        rest = rest.slice(end + 1);
      }
    });
  }

  add(line) {
    this.lines.push(line);
    this.waiters = this.waiters.filter((waiter) => !waiter(line));
  }

  // The first line from |from| on that matches |pattern|; rejects after |timeout| ms.
  waitFor(pattern, { timeout = 10000, from = 0 } = {}) {
    const seen = this.lines.slice(from).find((line) => pattern.test(line));
    if (seen !== undefined) return Promise.resolve(seen);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no line matching ${pattern} within ${timeout} ms`)), timeout);
      this.waiters.push((line) => {
        if (!pattern.test(line)) return false;
        clearTimeout(timer);
        resolve(line);
        return true;
      });
    });
  }
}

// Starts deck-sim from |bin|; resolves once it prints the page address.
// |host| is the host application deck-sim behaves as: "streamdeck" or "opendeck";
// |device| the Stream Deck it plays: "xl" or "plus"; |plugin| another plug-in
// program and |pluginFolder| another plug-in folder.
export async function startDeckSim({
  bin = defaultBin, withController = true, env = {}, host = "streamdeck", device = "xl", plugin, pluginFolder,
} = {}) {
  const args = ["--host", host, "--device", device];
  if (plugin) args.push("--plugin", plugin);
  if (pluginFolder) args.push("--plugin-folder", pluginFolder);
  const controllerSim = path.join(bin, "controller-sim");
  if (withController && existsSync(controllerSim)) args.push("--controller-sim", controllerSim);
  const child = spawn(path.join(bin, "deck-sim"), args, {
    env: { ...process.env, KESTREL_TELEMETRY: "off", ...env },
    stdio: ["ignore", "pipe", "inherit"],
  });
  const log = new LineLog(child.stdout);
  const exited = new Promise((resolve) => child.on("exit", (code, signal) => resolve(code ?? 128)));
  const opened = await Promise.race([
    log.waitFor(/^Open http:\/\/127\.0\.0\.1:\d+\//, { timeout: 20000 }),
    exited.then((code) => {
      throw new Error(`deck-sim ended with status ${code} before it was ready`);
    }),
  ]);
  return {
    url: opened.slice("Open ".length).trim(),
    log,
    controllerSim: args.includes("--controller-sim"),
    exited,
    // Ends it the way Ctrl-C does; resolves with deck-sim's exit status.
    async stop() {
      if (child.exitCode === null && child.signalCode === null) child.kill("SIGINT");
      return exited;
    },
  };
}

// Launches headless Chromium with a fresh profile; close() also removes it.
export async function launchChromium() {
  const { chromium } = await import("playwright-core");
  const profile = mkdtempSync(path.join(tmpdir(), "kestrel-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: chromiumFlags.filter((flag) => flag !== "--headless"),
    viewport: { width: 1400, height: 900 },
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}
