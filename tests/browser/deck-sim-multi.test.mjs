// Multi Actions and the streamer's own icons on the deck-sim page, in
// Chromium, against the real native plug-in and controller-sim: what reaches
// the controller is read from controller-sim's lines, what a key shows from
// its decoded pixels.

import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";
import { existsSync } from "node:fs";
import path from "node:path";
import { defaultBin, launchChromium, startDeckSim } from "../../tools/deck-sim/session.mjs";
import { eventually } from "./eventually.mjs";
import { keyDifference, openDeckSim, storeSettingsAsPage, watchInspectorRegistration } from "./deck-sim-page.mjs";

const prefix = "com.vantora.kestrel.";
const built = ["deck-sim", "kestrel-sdplugin", "controller-sim"].every((name) => existsSync(path.join(defaultBin, name)));
const streaming = prefix + "streaming-state";
const keySelector = `.key[data-action="${streaming}"]`;

// The share of pixels of the streaming key that differ clearly from |source|.
const differenceFrom = (page, source) => keyDifference(page, keySelector, source);

describe("Multi Actions and own icons on the deck-sim page", { skip: !built && "build the linux preset first" }, () => {
  let sim;
  let browser;
  let page;

  const commandLine = (name) => new RegExp(`^controller-sim: \\{.*"name":"${name}"`);
  const count = (name, from = 0) => sim.log.lines.slice(from).filter((line) => commandLine(name).test(line)).length;
  const keyState = () => page.locator(keySelector).getAttribute("data-state");
  const imageSource = () => page.locator(`${keySelector} img`).getAttribute("data-source");

  before(async () => {
    ({ sim, browser, page } = await openDeckSim({ withController: true }));
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
  });

  after(async () => {
    await browser?.close();
    await sim?.stop();
  });

  test("a Multi Action step picked as Live goes live twice in a row: start streaming each time, never stop", async () => {
    const box = page.locator('.composite[data-composite="0"]');
    // Made afresh on the page: only a Streaming State step, picked as Live.
    while ((await box.locator(".step").count()) > 0) {
      const before = await box.locator(".step").count();
      await box.locator(".step-remove").first().click();
      await eventually("the step went", async () => (await box.locator(".step").count()) === before - 1);
    }
    await box.locator(".step-adder select").selectOption(streaming);
    await box.locator(".step-add").click();
    const step = box.locator(`.step[data-action="${streaming}"]`);
    await step.locator("select.step-state").selectOption({ label: "Live" });
    await eventually("the step is picked as Live", async () => (await step.locator("select.step-state").inputValue()) === "1");

    const from = sim.log.lines.length;
    const multiKey = page.locator('.host-key[data-composite="0"]');
    await multiKey.click();
    await sim.log.waitFor(commandLine("streaming-state-on"), { from });
    await eventually("the stream is live on the key and in the step", async () =>
      (await keyState()) === "1" && /now: Live/.test(await step.textContent()) ? true : await keyState(),
    );
    // Once the first run has ended, the same press again.
    await new Promise((resolve) => setTimeout(resolve, 600));
    const second = sim.log.lines.length;
    await multiKey.click();
    await sim.log.waitFor(commandLine("streaming-state-on"), { from: second });
    await new Promise((resolve) => setTimeout(resolve, 1000));
    assert.equal(count("streaming-state-on", from), 2);
    assert.equal(count("streaming-state-off", from), 0);
    assert.equal(await keyState(), "1");
  });

  test("own icons stay through a state change and come back after the offline badge", async () => {
    const pictures = ["emberfall", "cup_empty"].map((name) => path.join(defaultBin, "images/keys", name + "@2x.png"));
    const own = ["/plugin/images/keys/emberfall@2x.png", "/plugin/images/keys/cup_empty@2x.png"];
    const showsOwn = async () => {
      const state = Number(await keyState());
      const difference = await differenceFrom(page, own[state]);
      return ((await imageSource()) === "own" && difference <= 0.002) || { state, difference, source: await imageSource() };
    };

    // The streamer's icons for both states, and "Use my own icons" on the key.
    await page.hover(keySelector);
    await page.click(`.slot:has(${keySelector}) [data-icons]`);
    for (const state of [0, 1]) {
      await page.locator(`#icons-states input[data-state="${state}"]`).setInputFiles(pictures[state]);
      await page.locator(`#icons-states li[data-state="${state}"] img[src^="data:"]`).waitFor();
    }
    await page.click(`.slot:has(${keySelector}) [data-inspect]`);
    const frame = page.frameLocator("#inspector-frame");
    await frame.locator('#state[data-state="online"]').waitFor();
    await frame.locator("#own_icons").check();
    await page.locator("#log li", { hasText: /stored settings of .*"own_icons":true/ }).first().waitFor();
    await eventually("the key shows the icon of its state", showsOwn);

    // A press changes the state; the picture stays the streamer's.
    const stateBefore = await keyState();
    await page.click(keySelector);
    await eventually("the state changed", async () => (await keyState()) !== stateBefore || (await keyState()));
    await eventually("the key shows the icon of its new state", showsOwn);

    // Closed Kestrel: the badge says why; the streamer's icons come back once it works.
    await page.click('[data-controller="stop"]');
    const plain = ["off", "on"].map((state) => `/plugin/images/keys/streaming_state_${state}@2x.png`);
    await eventually("the offline badge dims the plug-in's picture", async () => {
      const source = await imageSource();
      const difference = await differenceFrom(page, plain[Number(await keyState())]);
      return (source === "plugin" && difference >= 0.05) || { source, difference };
    });
    await page.click('[data-controller="start"]');
    await page.waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 });
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
    await eventually("the key shows the streamer's icon again", showsOwn);
  });
});

describe("OpenDeck's toggle action on the deck-sim page", { skip: !built && "build the linux preset first" }, () => {
  let sim;
  let browser;

  after(async () => {
    await browser?.close();
    await sim?.stop();
  });

  test("each press runs the next child once, with no key up, even when the child is set to hold to confirm", async () => {
    sim = await startDeckSim({ withController: true, host: "opendeck" });
    browser = await launchChromium();
    const page = await browser.context.newPage();
    await page.goto(sim.url);
    await page.waitForFunction(() => window.deckSim.allKeysDrawn(), null, { timeout: 10000 });
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
    const box = page.locator('.composite[data-composite="1"]');
    assert.match(await box.locator("h3").textContent(), /toggle action/);
    // The first child asks to be held (set as its page would; a step's page
    // does not offer it): OpenDeck never lets it go, so it must act at once.
    const watch = watchInspectorRegistration(page);
    await box.locator(".step").first().locator(".step-gear").click();
    await page.frameLocator("#inspector-frame").locator('#state[data-state="online"]').waitFor();
    watch.stop();
    const registration = watch.registration();
    assert.match(registration.uuid, /\.1$/); // OpenDeck's context of the first child
    await storeSettingsAsPage(page, registration, { hold_to_confirm: true, hold_seconds: 2 });
    await page.locator("#log li", { hasText: /stored settings of Pause Alerts: .*"hold_to_confirm":true/ }).first().waitFor();

    const commandLine = (name) => new RegExp(`^controller-sim: \\{.*"name":"${name}"`);
    const from = sim.log.lines.length;
    const toggle = page.locator('.host-key[data-composite="1"]');
    // Two presses at once: a child that waited for the hold would go after the second.
    await toggle.click();
    await toggle.click();
    await sim.log.waitFor(commandLine("alerts-pause-on"), { from });
    await sim.log.waitFor(commandLine("alerts-pause-off"), { from });
    await new Promise((resolve) => setTimeout(resolve, 2500));
    const sent = sim.log.lines.slice(from).filter((line) => /^controller-sim: \{.*"name":"alerts-pause-o(n|ff)"/.test(line));
    assert.equal(sent.length, 2);
    assert.match(sent[0], commandLine("alerts-pause-on"));
  });
});
