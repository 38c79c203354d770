// The demo page in Chromium against deck-sim running the real native plug-in
// and controller-sim (build/linux/bin). Key images are compared by their
// decoded pixels with the plug-in folder's picture files.

import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";
import { existsSync, readFileSync } from "node:fs";
import path from "node:path";
import { defaultBin, launchChromium, startDeckSim } from "../../tools/deck-sim/session.mjs";
import { eventually } from "./eventually.mjs";
import { keyDifference, storeSettingsAsPage, watchInspectorRegistration } from "./deck-sim-page.mjs";

const prefix = "com.vantora.kestrel.";
const built = existsSync(path.join(defaultBin, "deck-sim")) && existsSync(path.join(defaultBin, "kestrel-sdplugin"));
const withController = existsSync(path.join(defaultBin, "controller-sim"));
// The actions in catalogue order, as the built plug-in folder's manifest lists them.
const catalogue = built
  ? JSON.parse(readFileSync(path.join(defaultBin, "manifest.json"), "utf8")).Actions.map((action) => action.UUID)
  : [];

const keySelector = (action) => `.key[data-action="${prefix}${action}"]`;

// How far a key's current image is from a picture file of the plug-in folder.
const differenceFromFile = (page, action, file) => keyDifference(page, keySelector(action), "/plugin/" + file);

const SAME = 0.002; // a picture re-encoded by the plug-in
const BADGE = 0.05; // a status badge dims the whole key: about a third of it differs

async function showsPicture(page, action, file) {
  const difference = await differenceFromFile(page, action, file);
  return difference <= SAME ? true : difference;
}

async function showsBadge(page, action, file) {
  const difference = await differenceFromFile(page, action, file);
  return difference >= BADGE ? true : difference;
}

describe("deck-sim page with the real plug-in", { skip: !built && "build the linux preset first" }, () => {
  let sim;
  let browser;
  let page;
  let keysDrawn = false;

  before(async () => {
    sim = await startDeckSim({ withController });
    browser = await launchChromium();
    page = await browser.context.newPage();
    await page.goto(sim.url);
    await page.waitForSelector(".key");
    keysDrawn = await page
      .waitForFunction(() => window.deckSim.allKeysDrawn(), null, { timeout: 10000 })
      .then(() => true, () => false);
  });

  after(async () => {
    await browser?.close();
    await sim?.stop();
  });

  // The checks of drawn keys need the controller simulator and say so when it
  // is not built. Keys that the plug-in never drew are a failure, not a reason
  // to skip: the test run would otherwise pass without checking any key.
  function needsDrawnKeys(t) {
    if (!withController) {
      t.skip("controller-sim is not built");
      return false;
    }
    assert.ok(keysDrawn, `the plug-in did not draw all ${catalogue.length} keys within 10 s`);
    return true;
  }

  async function signIn() {
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
  }

  async function openInspector(action) {
    await page.click(`.slot:has(${keySelector(action)}) [data-inspect]`);
    const frame = page.frameLocator("#inspector-frame");
    await frame.locator("#state").waitFor();
    return frame;
  }

  test("lays out every action in catalogue order with their names", async () => {
    const keys = await page.$$eval(".key", (elements) =>
      elements.map((element) => ({
        action: element.dataset.action,
        name: element.closest(".slot").querySelector(".key-name").textContent,
      })),
    );
    assert.deepEqual(keys.map((key) => key.action), catalogue);
    assert.ok(catalogue.includes(prefix + "media-request-set-volume-level"));
    assert.ok(keys.every((key) => key.name.length > 0));
  });

  test("shows a key for every action with the image the plug-in sets", async (t) => {
    if (!needsDrawnKeys(t)) return;
    const sources = await page.$$eval(".key img", (images) => images.map((image) => image.src));
    assert.equal(sources.length, catalogue.length);
    for (const source of sources) assert.match(source, /^data:image\/png;base64,/);
  });

  test("the offline badges disappear once Kestrel runs and the streamer signs in", async (t) => {
    if (!needsDrawnKeys(t)) return;
    await page.click('[data-controller="stop"]');
    await page.waitForSelector("#link-controller[data-ok=false]");
    await eventually("emberfall shows a badge while Kestrel is closed", () =>
      showsBadge(page, "emberfall", "emberfall.png"),
    );
    await eventually("skip-alert shows a badge while Kestrel is closed", () =>
      showsBadge(page, "alerts-skip", "alerts_skip.png"),
    );
    await page.click('[data-controller="start"]');
    await page.waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 });
    await signIn();
    await eventually("emberfall shows its own picture", () => showsPicture(page, "emberfall", "emberfall.png"));
    await eventually("skip-alert shows its own picture", () => showsPicture(page, "alerts-skip", "alerts_skip.png"));
  });

  test("pressing a two-state key switches its image", async (t) => {
    if (!needsDrawnKeys(t)) return;
    await signIn();
    await eventually("streaming-state starts off", () =>
      showsPicture(page, "streaming-state", "streaming_state_off.png"),
    );
    await page.click(keySelector("streaming-state"));
    await eventually("streaming-state turns on", () =>
      showsPicture(page, "streaming-state", "streaming_state_on.png"),
    );
  });

  test("a volume edited in the inspector redraws the key and goes with the next press", async (t) => {
    if (!needsDrawnKeys(t)) return;
    await signIn();
    const frame = await openInspector("media-request-set-volume-level");
    await frame.locator('#state[data-state="online"]').waitFor();
    await frame.locator("#volume_value").fill("30");
    await eventually("the key shows level 30", () =>
      showsPicture(page, "media-request-set-volume-level", "media_request_set_volume_level_percent_30.png"),
    );
    const from = sim.log.lines.length;
    await page.click(keySelector("media-request-set-volume-level"));
    const line = await sim.log.waitFor(/^controller-sim: \{.*media-request-set-volume-level-percent/, { from });
    const command = JSON.parse(line.slice("controller-sim: ".length)).payload.command;
    assert.deepEqual(command.data, { auto_unmute: true, value: 30 });
  });

  test("the inspector shows the link state and follows a dropped and a closed controller", async (t) => {
    if (!needsDrawnKeys(t)) return;
    await signIn();
    const frame = await openInspector("emberfall");
    const state = frame.locator("#state");
    await frame.locator('#state[data-state="online"]').waitFor();
    // The plug-in reconnects at once after a drop: record every state shown.
    await state.evaluate((badge) => {
      window.seenStates = [];
      new MutationObserver(() => window.seenStates.push(badge.dataset.state)).observe(badge, { attributes: true });
    });
    await page.click('[data-controller="drop"]');
    await eventually("the inspector showed offline after the drop", async () => {
      const seen = await state.evaluate(() => window.seenStates);
      return seen.includes("offline") || seen;
    });
    await page.click('[data-controller="stop"]');
    await frame.locator('#state[data-state="offline"]').waitFor();
    assert.match(await frame.locator("#advice").textContent(), /\S/);
    await page.click('[data-controller="start"]');
    await page.waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 });
    await frame.locator('#state[data-state="login"]').waitFor();
    await signIn();
    await frame.locator('#state[data-state="online"]').waitFor();
  });

  test("a closed settings page hears nothing more from the plug-in", async (t) => {
    if (!needsDrawnKeys(t)) return;
    await signIn();
    // The activity list keeps its last 80 lines: count drops as they are listed.
    await page.evaluate(() => {
      window.droppedInspectorData = 0;
      new MutationObserver((changes) => {
        for (const change of changes)
          for (const item of change.addedNodes)
            if (/dropped settings-page data/.test(item.textContent)) window.droppedInspectorData++;
      }).observe(document.getElementById("log"), { childList: true });
    });
    const dropped = () => page.evaluate(() => window.droppedInspectorData);
    let frame = await openInspector("emberfall");
    await frame.locator('#state[data-state="online"]').waitFor();
    // Opening another key's page closes this one; the open page still follows the link.
    frame = await openInspector("cup-empty");
    await frame.locator('#state[data-state="online"]').waitFor();
    await page.click('[data-controller="stop"]');
    await frame.locator('#state[data-state="offline"]').waitFor();
    await page.click('[data-controller="start"]');
    await page.waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 });
    await frame.locator('#state[data-state="login"]').waitFor();
    await signIn();
    await frame.locator('#state[data-state="online"]').waitFor();
    await frame.locator("#hold_to_confirm").check();
    await page.locator("#log li", { hasText: /stored settings of .*"hold_to_confirm":true/ }).first().waitFor();
    // Every settings echo and every report since then went to the open page only.
    assert.equal(await dropped(), 0);
    // A page opened again is updated again.
    frame = await openInspector("emberfall");
    await frame.locator('#state[data-state="online"]').waitFor();
  });

  test("settings edited in the inspector are stored by the host", async () => {
    const frame = await openInspector("media-request-nudge-volume-up");
    await frame.locator("#volume_step").fill("7");
    // The page lists what the host stored, from the inspector (and, with the
    // control elements, the plug-in's echo).
    const stored = page.locator("#log li", { hasText: /stored settings of .*"volume_step":7/ });
    await stored.first().waitFor();
    assert.match(await stored.first().textContent(), /"auto_unmute":"1"/);
  });

  test("a key set to hold to confirm acts only when held, and shows the hint when let go early", async (t) => {
    if (!needsDrawnKeys(t)) return;
    await signIn();
    const action = "alerts-skip";
    const key = page.locator(keySelector(action));
    // The settings page's registration names the host endpoint and the key.
    const watch = watchInspectorRegistration(page);
    await openInspector(action);
    await eventually("the settings page registered", async () => watch.registration() !== undefined);
    watch.stop();
    const registration = watch.registration();
    // Store the key's settings the way its settings page does.
    await storeSettingsAsPage(page, registration, { hold_to_confirm: true, hold_seconds: 0.5 });
    await page.locator("#log li", { hasText: /stored settings of .*"hold_to_confirm":true/ }).first().waitFor();
    await eventually("skip-alert shows its own picture", () => showsPicture(page, action, "alerts_skip.png"));

    const sent = /^controller-sim: \{.*"name":"alerts-skip"/;
    const count = () => sim.log.lines.filter((line) => sent.test(line)).length;
    const before = count();

    // Pressed and let go at once: the key asks to be held, and nothing is sent.
    await key.hover();
    await page.mouse.down();
    await page.mouse.up();
    await eventually("the key asks to be held", async () => (await key.locator(".title").textContent()) === "Hold");
    assert.ok((await differenceFromFile(page, action, "alerts_skip.png")) >= BADGE, "the hint dims the key");
    await eventually("the hint goes after about a second", () => showsPicture(page, action, "alerts_skip.png"));
    assert.equal(count(), before);

    // Held: the time fills up over the key, and the command leaves while it is still down.
    const from = sim.log.lines.length;
    const pressed = Date.now();
    await page.mouse.down();
    await eventually("the key fills up while held", async () => {
      const difference = await differenceFromFile(page, action, "alerts_skip.png");
      return difference > SAME || difference;
    });
    await sim.log.waitFor(sent, { from });
    assert.ok(Date.now() - pressed >= 500, "not before the hold time");
    await page.mouse.up();
    await new Promise((resolve) => setTimeout(resolve, 800));
    assert.equal(count(), before + 1);
  });

  test("Quit ends the plug-in as the host does: it exits with status 0", async () => {
    await page.click("#quit");
    assert.equal(await sim.exited, 0);
    assert.ok(sim.log.lines.includes("deck-sim: the plug-in exited with status 0"));
  });
});
