// deck-sim as a Stream Deck + in Chromium: 8 keys, the touch strip and 4
// dials. The dials' traffic is checked on the wire against a plug-in stand-in
// that prints what it receives (dial-plugin.mjs); the real plug-in then turns
// and pushes a volume dial through to controller-sim once it declares dials.

import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { defaultBin, launchChromium, startDeckSim } from "../../tools/deck-sim/session.mjs";
import { eventually } from "./eventually.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const setVolume = "com.vantora.kestrel.media-request-set-volume-level";
const built = existsSync(path.join(defaultBin, "deck-sim")) && existsSync(path.join(defaultBin, "kestrel-sdplugin"));
const withController = existsSync(path.join(defaultBin, "controller-sim"));

// Whether the built plug-in folder offers Set Media Volume on a dial.
function pluginDeclaresDials() {
  try {
    const manifest = JSON.parse(readFileSync(path.join(defaultBin, "manifest.json"), "utf8"));
    const action = manifest.Actions.find((entry) => entry.UUID === setVolume);
    return Boolean(action && action.Controllers.includes("Encoder"));
  } catch {
    return false;
  }
}

const knob = (page, dial) => page.locator(`.dial-cell[data-dial="${dial}"] .knob`);
const segment = (page, dial) => page.locator(`.strip .segment[data-dial="${dial}"]`);
const drawn = async (page, dial) => JSON.parse((await segment(page, dial).getAttribute("data-drawn")) || "{}");
const place = (page, dial, action) =>
  page.locator(`.dial-cell[data-dial="${dial}"] select`).selectOption(action);

// The colour of one pixel of a dial's part of the strip.
const pixel = (page, dial, x, y) =>
  segment(page, dial).evaluate((canvas, [x, y]) => Array.from(canvas.getContext("2d").getImageData(x, y, 1, 1).data),
    [x, y]);

let browser;
before(async () => {
  if (built) browser = await launchChromium();
});
after(async () => {
  await browser?.close();
});

// A plug-in folder with nothing but a layout file of three items.
function layoutFolder() {
  const folder = mkdtempSync(path.join(tmpdir(), "kestrel-layout-"));
  mkdirSync(path.join(folder, "layouts"));
  writeFileSync(path.join(folder, "layouts", "meter.json"), JSON.stringify({
    id: "meter",
    items: [
      { key: "label", type: "text", rect: [0, 0, 200, 30], alignment: "left" },
      { key: "badge", type: "pixmap", rect: [0, 40, 40, 40] },
      { key: "meter", type: "bar", rect: [50, 50, 150, 20], bar_fill_c: "#0000ff", border_w: 0, value: 0 },
      { key: "broken", type: "circle", rect: [0, 0, 10, 10] },
    ],
  }));
  return folder;
}

describe("the Stream Deck + page on the wire", { skip: !built && "build the linux preset first" }, () => {
  let sim;
  let page;
  let folder;

  // What the stand-in received since line |from|: events named |event|.
  const received = (from, event) =>
    sim.log.lines.slice(from).filter((line) => line.startsWith("dial-plugin: "))
      .map((line) => JSON.parse(line.slice("dial-plugin: ".length)))
      .filter((message) => message.event === event);
  const waitForEvent = async (from, event) => {
    await sim.log.waitFor(new RegExp(`^dial-plugin: .*"event":"${event}"`), { from });
    return received(from, event)[0];
  };

  before(async () => {
    folder = layoutFolder();
    sim = await startDeckSim({ device: "plus", withController: false, plugin: path.join(here, "dial-plugin.mjs"),
      pluginFolder: folder });
    page = await browser.context.newPage();
    await page.goto(sim.url);
    await page.waitForSelector(".knob");
  });
  after(async () => {
    await page?.close();
    await sim?.stop();
    if (folder) rmSync(folder, { recursive: true, force: true });
  });

  test("shows 8 keys in 2 rows of 4 above the strip and 4 dials, and tells the plug-in it is a +", async () => {
    const boxes = await page.$$eval(".key", (keys) => keys.map((key) => key.getBoundingClientRect().toJSON()));
    assert.equal(boxes.length, 8);
    assert.ok(boxes.slice(1, 4).every((box) => box.y === boxes[0].y && box.x > boxes[0].x));
    assert.ok(boxes[4].y > boxes[0].y && boxes[4].x === boxes[0].x);
    assert.equal(await page.locator(".strip .segment").count(), 4);
    assert.equal(await page.locator(".knob").count(), 4);
    assert.match(await page.locator("#device-name").textContent(), /Stream Deck \+/);
    const device = JSON.parse(sim.log.lines.find((line) => /"event":"deviceDidConnect"/.test(line)).slice(13));
    assert.deepEqual(device.deviceInfo, { name: "Stream Deck +", size: { columns: 4, rows: 2 }, type: 7 });
    // Only actions that work on a dial are offered there.
    const offered = await knob(page, 0).locator("xpath=..").locator("select option").allTextContents();
    assert.equal(offered.length, 4);
  });

  test("a placed dial appears as an Encoder, turns by wheel and drag, and the strip draws the feedback", async () => {
    let from = sim.log.lines.length;
    await place(page, 1, setVolume);
    const appeared = await waitForEvent(from, "willAppear");
    assert.equal(appeared.action, setVolume);
    assert.equal(appeared.payload.controller, "Encoder");
    assert.deepEqual(appeared.payload.coordinates, { column: 1, row: 0 });
    await eventually("the strip shows the first level", async () => (await drawn(page, 1)).value === "50 %" || drawn(page, 1));
    assert.match(await page.locator('.dial-cell[data-dial="1"] .triggers').textContent(), /Turn: Volume.*Push: Mute/);

    from = sim.log.lines.length;
    await knob(page, 1).hover();
    await page.mouse.wheel(0, -100);
    await page.mouse.wheel(0, -100);
    await eventually("two clockwise ticks arrived", async () => received(from, "dialRotate").length === 2);
    for (const turn of received(from, "dialRotate")) {
      assert.deepEqual(turn.payload, { controller: "Encoder", coordinates: { column: 1, row: 0 }, settings: {},
        ticks: 1, pressed: false });
    }
    await eventually("the strip shows 60", async () => {
      const shown = await drawn(page, 1);
      return (shown.value === "60 %" && shown.indicator === 60) || shown;
    });
    // The bar is filled to 60 % of its width: green before, dark grey after.
    const [r, g] = await pixel(page, 1, 76 + 0.3 * 108, 82);
    assert.ok(g > 150 && r < 120, `filled part: ${[r, g]}`);
    const empty = await pixel(page, 1, 76 + 0.85 * 108, 82);
    assert.ok(empty.slice(0, 3).every((c) => c > 40 && c < 100), `empty part: ${empty}`);

    from = sim.log.lines.length;
    await page.mouse.wheel(0, 100);
    await eventually("a counter-clockwise tick arrived", async () => received(from, "dialRotate").length === 1);
    assert.equal(received(from, "dialRotate")[0].payload.ticks, -1);

    // A touchpad's small steps add up: 4 × 30 px is one tick, not four.
    from = sim.log.lines.length;
    for (let step = 0; step < 4; step++) await page.mouse.wheel(0, -30);
    await eventually("the small steps made a tick", async () => received(from, "dialRotate").length === 1);
    await page.waitForTimeout(200);
    assert.deepEqual(received(from, "dialRotate").map((turn) => turn.payload.ticks), [1]);

    // Dragging right by 40 px turns two ticks clockwise, and is no push.
    from = sim.log.lines.length;
    const box = await knob(page, 1).boundingBox();
    await page.mouse.move(box.x + 10, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + 50, box.y + box.height / 2, { steps: 5 });
    await page.mouse.up();
    await eventually("the drag turned two ticks", async () =>
      received(from, "dialRotate").reduce((sum, turn) => sum + turn.payload.ticks, 0) === 2);
    await eventually("the strip shows 70", async () => (await drawn(page, 1)).indicator === 70 || drawn(page, 1));
    assert.equal(received(from, "dialDown").length, 0);
  });

  test("a click pushes the dial, a tap and a held tap touch the strip where they land", async () => {
    let from = sim.log.lines.length;
    await knob(page, 1).click();
    await waitForEvent(from, "dialUp");
    const pushes = sim.log.lines.slice(from).filter((line) => /"event":"dial(Down|Up)"/.test(line));
    assert.deepEqual(pushes.map((line) => JSON.parse(line.slice(13)).event), ["dialDown", "dialUp"]);
    assert.deepEqual(received(from, "dialDown")[0].payload.coordinates, { column: 1, row: 0 });

    from = sim.log.lines.length;
    await segment(page, 1).click({ position: { x: 30, y: 60 } });
    const tap = await waitForEvent(from, "touchTap");
    assert.deepEqual(tap.payload.tapPos, [30, 60]);
    assert.equal(tap.payload.hold, false);
    assert.equal(tap.payload.controller, "Encoder");

    from = sim.log.lines.length;
    await segment(page, 1).hover({ position: { x: 150, y: 20 } });
    await page.mouse.down();
    await new Promise((resolve) => setTimeout(resolve, 700));
    await page.mouse.up();
    const held = await waitForEvent(from, "touchTap");
    assert.deepEqual(held.payload.tapPos, [150, 20]);
    assert.equal(held.payload.hold, true);

    // The stand-in answers a long touch with the folder's layout file.
    await eventually("the strip draws the layout file's items", async () => {
      const shown = await drawn(page, 1);
      return JSON.stringify(shown) === JSON.stringify({ label: "Meter", badge: true, meter: 70 }) || shown;
    });
    await eventually("the badge is drawn", async () => {
      const [r, g, b] = await pixel(page, 1, 20, 60);
      return (r > 200 && g < 60 && b < 60) || [r, g, b];
    });
    const [r, g, b] = await pixel(page, 1, 50 + 0.3 * 150, 60);
    assert.ok(b > 200 && r < 60 && g < 60, `the meter's filled part: ${[r, g, b]}`);
  });

  test("clearing the dial takes the action away and leaves the strip blank", async () => {
    const from = sim.log.lines.length;
    await place(page, 1, "");
    const gone = await waitForEvent(from, "willDisappear");
    assert.equal(gone.payload.controller, "Encoder");
    await eventually("the strip is blank", async () => (await segment(page, 1).getAttribute("data-drawn")) === "{}");
    await knob(page, 1).hover();
    await page.mouse.wheel(0, -100);
    await page.waitForTimeout(300);
    assert.equal(received(from, "dialRotate").length, 0);
  });
});

describe("a volume dial with the real plug-in", {
  skip: (!built && "build the linux preset first") || (!withController && "controller-sim is not built") ||
    (!pluginDeclaresDials() && "the built plug-in does not offer Set Media Volume on a dial yet"),
}, () => {
  let sim;
  let page;

  before(async () => {
    sim = await startDeckSim({ device: "plus", withController });
    page = await browser.context.newPage();
    await page.goto(sim.url);
    await page.waitForSelector(".knob");
    await page.waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 });
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
  });
  after(async () => {
    await page?.close();
    await sim?.stop();
  });

  test("the plug-in draws the 8 keys", async () => {
    await page.waitForFunction(() => window.deckSim.allKeysDrawn(), null, { timeout: 10000 });
    assert.equal(await page.locator(".key").count(), 8);
  });

  test("turning sends the level to Kestrel and the strip shows that level as bar and number", async () => {
    await place(page, 0, setVolume);
    await eventually("the plug-in drew the strip", async () => typeof (await drawn(page, 0)).indicator === "number" || drawn(page, 0));
    const from = sim.log.lines.length;
    await knob(page, 0).hover();
    await page.mouse.wheel(0, -100);
    const line = await sim.log.waitFor(/^controller-sim: \{.*media-request-set-volume-level-percent/, { from });
    const level = JSON.parse(line.slice("controller-sim: ".length)).payload.command.data.value;
    await eventually(`the strip shows ${level}`, async () => {
      const shown = await drawn(page, 0);
      return (shown.indicator === level && String(shown.value).includes(String(level))) || shown;
    });
  });

  test("a push toggles mute in Kestrel", async () => {
    const from = sim.log.lines.length;
    await knob(page, 0).click();
    await sim.log.waitFor(/^controller-sim: \{.*media-request-mute-(on|off)/, { from });
  });
  test("a dial's settings page shows the dial's step, and the step set there moves the level", async () => {
    await place(page, 2, setVolume);
    await eventually("the plug-in drew the strip", async () => typeof (await drawn(page, 2)).indicator === "number" || drawn(page, 2));
    await page.click('.dial-cell[data-dial="2"] [data-inspect-dial]');
    const step = page.frameLocator("#inspector-frame").locator("#dial_step");
    await step.waitFor({ state: "visible" });
    assert.match(await page.locator("#inspector-name").textContent(), /Set Media Volume on dial 3/);
    await step.fill("2");
    await eventually("the dial's settings were stored", async () =>
      (await page.locator("#log li", { hasText: /stored settings of Set Media Volume: .*"dial_step":2[,}]/ }).count()) > 0);

    const before = (await drawn(page, 2)).indicator;
    const from = sim.log.lines.length;
    await knob(page, 2).hover();
    await page.mouse.wheel(0, before < 98 ? -100 : 100);
    const line = await sim.log.waitFor(/^controller-sim: \{.*media-request-set-volume-level-percent/, { from });
    const level = JSON.parse(line.slice("controller-sim: ".length)).payload.command.data.value;
    assert.equal(level, before < 98 ? before + 2 : before - 2);
  });
});

describe("a key's settings page of a dial-capable action", {
  skip: (!built && "build the linux preset first") ||
    (!pluginDeclaresDials() && "the built plug-in does not offer Set Media Volume on a dial yet"),
}, () => {
  // Set Media Volume is no key of the +: the XL has it.
  test("has no dial rows", async () => {
    const sim = await startDeckSim({ withController: false });
    const page = await browser.context.newPage();
    try {
      await page.goto(sim.url);
      await page.click(`.slot:has(.key[data-action="${setVolume}"]) [data-inspect]`);
      const frame = page.frameLocator("#inspector-frame");
      await frame.locator("#volume_value").waitFor({ state: "visible" });
      assert.equal(await frame.locator("#dial_step").count(), 0);
    } finally {
      await page.close();
      await sim.stop();
    }
  });
});
