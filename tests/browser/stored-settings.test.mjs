// The settings pages read every stored shape of tests/data/stored-settings.json
// as the plug-in does (tests/elements/StoredSettingsTest.cpp checks the plug-in
// against the same table): a box ticked on the page is on in the plug-in, a
// number shown is the number the plug-in uses.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import path from "node:path";
import { HostStandIn, repository } from "./host-stand-in.mjs";

const PREFIX = "com.vantora.kestrel.";
const LEVEL = PREFIX + "media-request-set-volume-level";
const NUDGE = PREFIX + "media-request-nudge-volume-up";
const table = JSON.parse(readFileSync(path.join(repository, "tests", "data", "stored-settings.json"), "utf8"));

let host;
before(async () => { host = await HostStandIn.start(); });
after(async () => { await host?.stop(); });

// The pages that between them show every stored setting, with a whole-number
// field of each that marks when a message has been taken.
const PAGES = [
  { page: "volume-level.html", action: LEVEL, controller: "Encoder", marker: "volume_value", spare: "dial_step" },
  { page: "volume-nudge.html", action: NUDGE, marker: "hold_seconds", spare: "volume_step" },
];

// Sends |stored| under |key| as the host's settings, and waits until the page has shown them.
let count = 0;
async function store(page, key, stored) {
  const marker = key === page.marker ? page.spare : page.marker;
  const mark = String(++count % 90 + 3);
  host.send("didReceiveSettings", { settings: { [key]: stored, [marker]: Number(mark) } }, page.action);
  await host.page.waitForFunction(([id, text]) => document.getElementById(id).value === text, [marker, mark]);
}

describe("stored settings", () => {
  test("every shape in the table shows on the pages as the plug-in reads it", async () => {
    const checked = new Set();
    for (const page of PAGES) {
      await host.open(page.page, { action: page.action, controller: page.controller });
      for (const [key, fallback] of Object.entries(table.flag.settings)) {
        if (!(await host.page.locator("#" + key).count())) continue;
        checked.add(key);
        for (const { stored, reads } of table.flag.cases) {
          await store(page, key, stored);
          assert.equal(await host.page.isChecked("#" + key), reads ?? fallback, `${key} ${JSON.stringify(stored)}`);
        }
      }
      for (const kind of ["whole", "decimal"]) {
        for (const key of table[kind].settings) {
          if (!(await host.page.locator("#" + key).count())) continue;
          checked.add(key);
          for (const { stored, reads } of table[kind].cases) {
            await store(page, key, stored);
            const field = host.page.locator("#" + key);
            const what = `${key} ${JSON.stringify(stored)}`;
            assert.equal(await field.inputValue(), reads === null ? "" : String(reads), what);
            if (reads === null) assert.equal(await field.getAttribute("aria-invalid"), "true", what);
          }
        }
      }
    }
    const all = [...Object.keys(table.flag.settings), ...table.whole.settings, ...table.decimal.settings];
    assert.deepEqual([...checked].sort(), all.sort(), "every setting of the table is on some page");
    assert.deepEqual(host.pageErrors, []);
  });

  test("a flag the page shows from a hand-edited value goes back in the one form the plug-in writes", async () => {
    await host.open("volume-level.html", { action: LEVEL, settings: { hold_to_confirm: "1", auto_unmute: null, hold_seconds: "1.5" } });
    await host.next("registration");
    assert.equal(await host.page.isChecked("#hold_to_confirm"), true);
    assert.equal(await host.page.inputValue("#hold_seconds"), "1.5");
    await host.page.fill("#volume_value", "40");
    const saved = (await host.next("setSettings")).payload;
    assert.equal(saved.hold_to_confirm, true);
    assert.equal(saved.auto_unmute, "1");
    assert.equal(saved.hold_seconds, 1.5);
  });
});
