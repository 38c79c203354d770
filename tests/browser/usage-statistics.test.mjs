// The telemetry switch on the settings pages, in a headless Chromium against
// a stand-in host: it waits for the plug-in's word, sends the one global
// setting when clicked, and stays off and disabled, saying why, while the
// environment keeps usage statistics off; on every page, in every language.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { HostStandIn } from "./host-stand-in.mjs";

const SKIP = "com.vantora.kestrel.alerts-skip";

let host;
before(async () => { host = await HostStandIn.start(); });
after(async () => { await host?.stop(); });

async function open(page, language = "en") {
  await host.open(page, { action: SKIP, settings: {}, language });
  assert.equal((await host.next("registration")).event, "registerPropertyInspector");
}

const box = () => host.page.locator("#send_usage_statistics");
const label = () => host.page.locator('label[for="send_usage_statistics"]').textContent();
const lockLine = () => host.page.locator("#usage-statistics-lock");
const tell = (telemetry) => host.send("sendToPropertyInspector", { telemetry }, SKIP);
const until = (check) => host.page.waitForFunction(check);

describe("usage statistics switch", () => {
  test("sends the streamer's choice as the global setting; the environment's lock disables it and says why", async () => {
    await open("volume-nudge.html");
    assert.equal(await label(), "Send anonymous usage statistics");
    assert.equal(await box().isDisabled(), true, "until the plug-in says how it stands");
    tell({ on: true, locked: false, offBy: "" });
    await until(() => !document.getElementById("send_usage_statistics").disabled);
    assert.equal(await box().isChecked(), true);
    await box().click();
    assert.deepEqual(await host.next("setGlobalSettings"),
      { event: "setGlobalSettings", context: "PI-CONTEXT-1", payload: { send_usage_statistics: false } });

    tell({ on: "yes", locked: 0 }); // malformed: nothing changes
    tell({ on: false, locked: true, offBy: "DO_NOT_TRACK" });
    await until(() => document.getElementById("send_usage_statistics").disabled);
    assert.equal(await box().isChecked(), false);
    assert.equal(await lockLine().textContent(), "Off on this computer because DO_NOT_TRACK is set.");
    await box().click({ force: true });
    await host.page.waitForTimeout(300);
    assert.deepEqual(host.inbox.pending(), [], "a disabled switch sends nothing");
    await host.screenshot("inspector-usage-statistics-locked.png");

    tell({ on: false, locked: true, offBy: "<b>KESTREL_TELEMETRY</b>" }); // named as text, never markup
    await until(() => document.getElementById("usage-statistics-lock").textContent.includes("<b>"));
    tell({ on: false, locked: true, offBy: "" }); // no collector built in
    await until(() => /no usage statistics/.test(document.getElementById("usage-statistics-lock").textContent));
    assert.deepEqual(host.pageErrors, []);
  });

  test("every page offers it, in every language", async () => {
    const words = new Set();
    const pages = ["status.html", "pump.html", "volume-level.html", "volume-nudge.html"];
    for (const [i, language] of ["en", "de", "es", "fr", "ja", "ko", "zh_CN", "zh_TW"].entries()) {
      await open(pages[i % pages.length], language);
      tell({ on: false, locked: true, offBy: "KESTREL_TELEMETRY" });
      await until(() => !document.getElementById("usage-statistics-lock").hidden);
      assert.match(await lockLine().textContent(), /KESTREL_TELEMETRY/, language);
      words.add(await label()).add(await lockLine().textContent());
    }
    assert.equal(words.size, 16, "each language has its own words");
  });
});
