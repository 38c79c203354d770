// The scripted demo: starts deck-sim with the plug-in and controller-sim,
// connects Chromium, signs in, presses a few keys, opens the set-volume key's
// settings (on a Stream Deck +: puts the volume actions on dials and turns
// one), writes a screenshot of the page and ends everything.
//
//   node tools/deck-sim/demo-session.mjs --screenshot FILE [--bin DIR] [--host streamdeck|opendeck]
//                                        [--device xl|plus]

import path from "node:path";
import { defaultBin, launchChromium, startDeckSim } from "./session.mjs";

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 && at + 1 < process.argv.length ? process.argv[at + 1] : fallback;
}

const screenshot = option("--screenshot");
const bin = option("--bin", defaultBin);
const host = option("--host", "streamdeck");
const device = option("--device", "xl");
if (!screenshot) {
  console.error("usage: demo-session.mjs --screenshot FILE [--bin DIR] [--host streamdeck|opendeck] [--device xl|plus]");
  process.exit(1);
}

const keyByAction = (page, name) => page.locator(`.key[data-action="com.vantora.kestrel.${name}"]`);

async function press(page, name) {
  if (!(await keyByAction(page, name).count())) return; // not among the keys of this device
  await keyByAction(page, name).click();
  await page.waitForTimeout(400);
}

// The volume actions on the first dials of a Stream Deck +, one turned up.
async function useDials(page) {
  const actions = ["media-request-set-volume-level", "media-request-nudge-volume-up", "media-request-nudge-volume-down"];
  for (const [dial, name] of actions.entries()) {
    await page.locator(`.dial-cell[data-dial="${dial}"] select`).selectOption(`com.vantora.kestrel.${name}`);
  }
  await page.waitForTimeout(600);
  await page.locator('.dial-cell[data-dial="0"] .knob').hover();
  for (let tick = 0; tick < 2; tick++) {
    await page.mouse.wheel(0, -100);
    await page.waitForTimeout(150);
  }
}

async function run() {
  const sim = await startDeckSim({ bin, host, device });
  const browser = await launchChromium();
  let status = 1;
  try {
    const page = await browser.context.newPage();
    await page.goto(sim.url);
    await page.waitForSelector(".key", { timeout: 10000 });
    const drawn = await page
      .waitForFunction(() => window.deckSim.allKeysDrawn(), null, { timeout: 10000 })
      .then(() => true, () => false);
    if (!drawn) console.log("demo: the plug-in has not drawn every key; continuing");

    if (sim.controllerSim) {
      const linked = await page
        .waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 })
        .then(() => true, () => false);
      if (!linked) console.log("demo: the plug-in has not connected to controller-sim; continuing");
      await page.click('[data-controller="signin"]');
      await page.waitForSelector("#link-user[data-ok=true]");
      await page.waitForTimeout(800); // the keys drop their badges at the next redraw
    }
    await press(page, "streaming-state");
    await press(page, "alerts-mute");
    await press(page, "media-request-play-pause");
    await press(page, "emberfall");
    if (device === "plus") await useDials(page);
    const gear = page.locator('.slot:has(.key[data-action="com.vantora.kestrel.media-request-set-volume-level"]) [data-inspect]');
    if ((await gear.count()) && (await gear.isVisible())) {
      await gear.click();
      await page.frameLocator("#inspector-frame").locator('#state:not([data-state=""])')
        .waitFor({ timeout: 5000 }).catch(() => {});
    }
    await page.waitForTimeout(1700); // past the success marks of the presses
    await page.screenshot({ path: screenshot });
    console.log(`demo: screenshot written to ${path.resolve(screenshot)}`);
    await page.click("#quit");
    status = await sim.exited;
    console.log(`demo: deck-sim ended with status ${status}`);
  } finally {
    await browser.close();
    await sim.stop();
  }
  return status;
}

run().then(
  (status) => process.exit(status),
  (error) => {
    console.error(`demo: ${error.message}`);
    process.exit(1);
  },
);
