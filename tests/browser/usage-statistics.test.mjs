// The telemetry switch on the settings pages, in a headless Chromium against
// a stand-in host: it waits for the plug-in's word, sends the one global
// setting when clicked, and stays off and disabled, saying why, while the
// environment keeps usage statistics off; in every language, on every page.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { HostStandIn } from "./host-stand-in.mjs";

const SKIP = "com.vantora.kestrel.alerts-skip";
const PAGES = ["status.html", "pump.html", "volume-level.html", "volume-nudge.html"];

let host;
before(async () => { host = await HostStandIn.start(); });
after(async () => { await host?.stop(); });

async function open(page, language = "en") {
  await host.open(page, { action: SKIP, settings: {}, language });
  assert.equal((await host.next("registration")).event, "registerPropertyInspector");
}

const box = () => host.page.locator("#send_usage_statistics");
const lockLine = () => host.page.locator("#usage-statistics-lock");
const tell = (telemetry) => host.send("sendToPropertyInspector", { telemetry }, SKIP);

describe("usage statistics switch", () => {
  test("sends the streamer's choice as the plug-in's global setting, once the plug-in has spoken", async () => {
    await open("status.html");
    assert.equal(await host.page.locator('label[for="send_usage_statistics"]').textContent(),
      "Send anonymous usage statistics");
    assert.equal(await box().isDisabled(), true, "until the plug-in says how it stands");

    tell({ on: true, locked: false, offBy: "" });
    await host.page.waitForFunction(() => !document.getElementById("send_usage_statistics").disabled);
    assert.equal(await box().isChecked(), true);
    assert.equal(await lockLine().isHidden(), true);

    await box().click();
    assert.deepEqual(await host.next("setGlobalSettings"),
      { event: "setGlobalSettings", context: "PI-CONTEXT-1", payload: { send_usage_statistics: false } });
    await box().click();
    assert.deepEqual((await host.next("setGlobalSettings")).payload, { send_usage_statistics: true });

    // Shown off when the plug-in says the streamer turned it off; a malformed word changes nothing.
    tell({ on: false, locked: false, offBy: "" });
    await host.page.waitForFunction(() => !document.getElementById("send_usage_statistics").checked);
    tell({ on: "yes", locked: 0 });
    tell("on");
    await host.page.waitForTimeout(200);
    assert.equal(await box().isChecked(), false);
    assert.equal(await box().isDisabled(), false);
    assert.deepEqual(host.pageErrors, []);
  });

  test("while the environment keeps it off: off, disabled and one line naming the variable", async () => {
    await open("volume-nudge.html");
    tell({ on: true, locked: false, offBy: "" });
    await host.page.waitForFunction(() => document.getElementById("send_usage_statistics").checked);
    tell({ on: false, locked: true, offBy: "DO_NOT_TRACK" });
    await host.page.waitForFunction(() => document.getElementById("send_usage_statistics").disabled);
    assert.equal(await box().isChecked(), false);
    assert.equal(await lockLine().textContent(), "Off on this computer because DO_NOT_TRACK is set.");
    await box().click({ force: true });
    await host.page.waitForTimeout(300);
    assert.deepEqual(host.inbox.pending(), [], "a disabled switch sends nothing");
    await host.screenshot("inspector-usage-statistics-locked.png");

    // Named as text, never as markup; no collector built in is said plainly.
    tell({ on: false, locked: true, offBy: "<b>KESTREL_TELEMETRY</b>" });
    await host.page.waitForFunction(() =>
      document.getElementById("usage-statistics-lock").textContent.includes("<b>"));
    assert.equal(await host.page.locator("#usage-statistics-lock b").count(), 0);
    tell({ on: false, locked: true, offBy: "" });
    await host.page.waitForFunction(() =>
      /no usage statistics/.test(document.getElementById("usage-statistics-lock").textContent));
  });

  test("every page offers it, in every language", async () => {
    for (const page of PAGES) {
      await open(page);
      assert.equal(await box().count(), 1, page);
    }
    const labels = new Set();
    for (const language of ["en", "de", "es", "fr", "ja", "ko", "zh_CN", "zh_TW"]) {
      await open("pump.html", language);
      tell({ on: false, locked: true, offBy: "KESTREL_TELEMETRY" });
      await host.page.waitForFunction(() => !document.getElementById("usage-statistics-lock").hidden);
      const line = await lockLine().textContent();
      assert.match(line, /KESTREL_TELEMETRY/, language);
      labels.add(await host.page.locator('label[for="send_usage_statistics"]').textContent());
      labels.add(line);
    }
    assert.equal(labels.size, 16, "each language has its own words");
  });
});
