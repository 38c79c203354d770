// What the deck-sim page tells a newcomer, in Chromium against the real
// native plug-in and controller-sim: a status badge in plain view beside the
// key's own controls, "What happened" with every panel action and each press
// that was not sent and why, the language picker reaching the plug-in's keys,
// a page that fits a 900 px window, and the name of the host it plays.

import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";
import { existsSync, readFileSync } from "node:fs";
import path from "node:path";
import { defaultBin, launchChromium, startDeckSim } from "../../tools/deck-sim/session.mjs";
import { eventually } from "./eventually.mjs";
import { keyDifference, openDeckSim, storeSettingsAsPage, watchInspectorRegistration } from "./deck-sim-page.mjs";

const prefix = "com.vantora.kestrel.";
const built = ["deck-sim", "kestrel-sdplugin", "controller-sim"].every((name) => existsSync(path.join(defaultBin, name)));
const skip = !built && "build the linux preset first";
const keySelector = (action) => `.key[data-action="${prefix}${action}"]`;
const slotSelector = (action) => `.slot:has(${keySelector(action)})`;
// The plug-in's texts for the host in a language, as its folder ships them.
const pluginTexts = (language) => JSON.parse(readFileSync(path.join(defaultBin, language + ".json"), "utf8"));

// The part of a status overlay picture that is its badge, as fractions of the
// picture: the pixels that stand out from the overlay's commonest one (the
// veil that dims the whole key).
async function badgeArea(page, file) {
  return page.evaluate(async (source) => {
    const image = new Image();
    image.src = source;
    await image.decode();
    const canvas = document.createElement("canvas");
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    const context = canvas.getContext("2d");
    context.drawImage(image, 0, 0);
    const { data, width, height } = context.getImageData(0, 0, canvas.width, canvas.height);
    const counts = new Map();
    for (let i = 0; i < data.length; i += 4) {
      const pixel = data.slice(i, i + 4).join();
      counts.set(pixel, (counts.get(pixel) || 0) + 1);
    }
    const veil = [...counts.entries()].sort((a, b) => b[1] - a[1])[0][0].split(",").map(Number);
    let left = width, top = height, right = -1, bottom = -1;
    for (let y = 0; y < height; y++) {
      for (let x = 0; x < width; x++) {
        const i = (y * width + x) * 4;
        // A badge pixel has another colour than the veil or covers more; the
        // veil's rounded corners fade out and are no badge.
        const colour = [0, 1, 2].some((c) => Math.abs(data[i + c] - veil[c]) > 48);
        if (!colour && data[i + 3] <= veil[3] + 48) continue;
        left = Math.min(left, x);
        top = Math.min(top, y);
        right = Math.max(right, x + 1);
        bottom = Math.max(bottom, y + 1);
      }
    }
    return right < 0 ? null : { left: left / width, top: top / height, right: right / width, bottom: bottom / height };
  }, "/plugin/" + file);
}

const overlap = (a, b) => a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;

// Everything a reader uses lies inside the window's width.
async function cutOff(page) {
  return page.evaluate(() => {
    const width = document.documentElement.clientWidth;
    const cut = [];
    if (document.documentElement.scrollWidth > width) cut.push(`the page is ${document.documentElement.scrollWidth} px wide`);
    for (const element of document.querySelectorAll("button, select, h1, h2, .links li, .key-name, #log")) {
      const box = element.getBoundingClientRect();
      if (box.width === 0) continue; // not shown
      if (box.left < 0 || box.right > width) cut.push(`${element.id || element.textContent.trim().slice(0, 30)}: ${box.left}..${box.right}`);
    }
    return cut.length ? cut : true;
  });
}

describe("the deck-sim page tells the whole story", { skip }, () => {
  let sim;
  let browser;
  let page;

  const logLines = () => page.$$eval("#log li", (items) => items.map((item) => item.textContent));
  const logShows = (pattern) => async () => (await logLines()).some((line) => pattern.test(line)) || (await logLines()).slice(-6);

  before(async () => {
    ({ sim, browser, page } = await openDeckSim({ withController: true }));
  });

  after(async () => {
    await browser?.close();
    await sim?.stop();
  });

  // Sets |action| to hold to confirm the way its settings page does.
  async function holdToConfirm(action) {
    const watch = watchInspectorRegistration(page);
    await page.click(`${slotSelector(action)} [data-inspect]`);
    await eventually("the settings page registered", async () => watch.registration() !== undefined);
    watch.stop();
    await storeSettingsAsPage(page, watch.registration(), { hold_to_confirm: true, hold_seconds: 0.5 });
    await page.locator("#log li", { hasText: /stored settings of .*"hold_to_confirm":true/ }).first().waitFor();
  }

  async function tap(action) {
    await page.locator(keySelector(action)).hover();
    await page.mouse.down();
    await page.mouse.up();
  }

  test("no key's own controls cover the status badge it shows", async () => {
    await page.click('[data-controller="stop"]');
    await page.waitForSelector("#link-controller[data-ok=false]");
    const badge = await badgeArea(page, "state_offline.png");
    assert.ok(badge, "the offline overlay has a badge");
    assert.ok((badge.right - badge.left) * (badge.bottom - badge.top) < 0.5, `the badge is a part of the key: ${JSON.stringify(badge)}`);
    // The badge shows on the key: the key's picture is far from the plain one.
    await eventually("Skip Alert shows the offline badge", async () => {
      const difference = await keyDifference(page, keySelector("alerts-skip"), "/plugin/alerts_skip.png");
      return difference >= 0.05 || difference;
    });
    await page.hover(slotSelector("alerts-skip")); // the controls show in full while the pointer is over the key
    const slots = await page.$$(".slot:has(.key)");
    assert.ok(slots.length >= 20);
    for (const slot of slots) {
      const picture = await (await slot.$(".key img")).boundingBox();
      const area = {
        x: picture.x + badge.left * picture.width,
        y: picture.y + badge.top * picture.height,
        width: (badge.right - badge.left) * picture.width,
        height: (badge.bottom - badge.top) * picture.height,
      };
      for (const control of await slot.$$("[data-inspect], [data-icons]")) {
        const box = await control.boundingBox();
        if (!box) continue;
        assert.ok(!overlap(box, area), `${await slot.textContent()}: a control covers the badge ${JSON.stringify({ box, area })}`);
      }
    }
    await page.click('[data-controller="start"]');
    await page.waitForSelector("#link-controller[data-ok=true]", { timeout: 10000 });
  });

  test("What happened lists the panel's actions and each press that was not sent, with the reason", async () => {
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
    await page.click('[data-controller="signout"]');
    await page.waitForSelector("#link-user[data-ok=false]");
    await eventually("the sign-out is listed", logShows(/^you signed out of Kestrel$/));
    const skipName = await page.locator(`${slotSelector("alerts-skip")} .key-name`).textContent();

    await tap("alerts-skip");
    await eventually(
      "the press while signed out is listed as not sent",
      logShows(new RegExp(`^${skipName}: not sent because nobody is signed in to Kestrel$`)),
    );

    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
    await holdToConfirm("alerts-skip");
    await tap("alerts-skip");
    await eventually("the short hold is listed as not sent", logShows(new RegExp(`^${skipName}: not sent because the key was not held long enough$`)));

    // A press that reaches Kestrel is not listed as not sent.
    const from = sim.log.lines.length;
    await tap("emberfall");
    await sim.log.waitFor(/^controller-sim: \{.*"name":"emberfall"/, { from });
    await new Promise((resolve) => setTimeout(resolve, 3500));
    assert.ok(!(await logLines()).some((line) => /^Emberfall: not sent/.test(line)));

    // The newest line is in view in the panel, far more than eight lines tall.
    const view = await page.$eval("#log", (list) => {
      const box = list.getBoundingClientRect();
      const last = list.lastElementChild.getBoundingClientRect();
      return { height: box.height, line: last.height, lastInView: last.bottom <= box.bottom + 1 && last.top >= box.top - 1 };
    });
    assert.ok(view.height >= 16 * view.line, JSON.stringify(view));
    assert.ok(view.lastInView, JSON.stringify(view));
  });

  test("a restart reads in plain words, without the exit status", async () => {
    const before = (await logLines()).filter((line) => line === "Stream Deck started the plug-in (language en)").length;
    await page.click("#restart-plugin");
    await eventually("the restart is listed", logShows(/^the plug-in was ended for its restart$/));
    await eventually("the new start is listed", async () =>
      (await logLines()).filter((line) => line === "Stream Deck started the plug-in (language en)").length === before + 1);
    await page.waitForSelector("#link-plugin[data-ok=true]", { timeout: 10000 });
    assert.ok(!(await logLines()).some((line) => /status 137/.test(line)));
  });

  test("nothing is cut off in a window 900 px wide, Quit included", async () => {
    const narrow = await browser.context.newPage();
    await narrow.setViewportSize({ width: 900, height: 900 });
    await narrow.goto(sim.url);
    await narrow.waitForSelector(".key");
    await eventually("nothing sticks out", () => cutOff(narrow));
    const quit = await narrow.locator("#quit").boundingBox();
    assert.ok(quit.y + quit.height <= 900, "Quit is on the first screen");
    await narrow.close();
  });

  test("a language picked on the page reaches the plug-in's keys, its names and the page", async () => {
    const german = pluginTexts("de");
    await page.selectOption("#language", "de");
    await eventually("the page speaks German", async () => (await page.locator("#log-panel h2").textContent()) === "Was geschah");
    await eventually("the restart for the language is listed", logShows(/^Sprache: Deutsch; das Plug-in liest sie beim Start/));
    await eventually("the plug-in's new start is listed", logShows(/^Stream Deck hat das Plug-in gestartet \(Sprache: Deutsch\)$/));
    await page.waitForSelector("#link-plugin[data-ok=true]", { timeout: 10000 });
    assert.equal(await page.locator(`${slotSelector("alerts-skip")} .key-name`).textContent(), german[prefix + "alerts-skip"].Name);
    // The settings page open since the last test opens again in the language.
    await eventually("the open settings page speaks German", async () => {
      const frame = page.frames().find((candidate) => candidate.url().includes("/plugin/pi/"));
      if (!frame) return "no settings page";
      return frame
        .evaluate(() => {
          const label = document.querySelector('[data-text="holdToConfirm"]');
          return (label && label.textContent === window.KestrelTexts.de.holdToConfirm) || (label && label.textContent);
        })
        .catch((error) => error.message);
    });

    // The hint a key set to hold to confirm shows when let go early is the plug-in's, in German.
    await page.click('[data-controller="signin"]');
    await page.waitForSelector("#link-user[data-ok=true]");
    await tap("alerts-skip");
    await eventually("the key asks to be held, in German", async () => (await page.locator(`${keySelector("alerts-skip")} .title`).textContent()) === "Halten");
    await eventually(
      "the short hold is listed in German",
      logShows(new RegExp(`^${german[prefix + "alerts-skip"].Name}: nicht gesendet, weil die Taste nicht lange genug gehalten wurde$`)),
    );

    const narrow = await browser.context.newPage();
    await narrow.setViewportSize({ width: 900, height: 900 });
    await narrow.goto(sim.url);
    await narrow.waitForSelector(".key");
    await eventually("a page opened later shows German", async () => (await narrow.locator("#quit").textContent()) === "Simulator beenden");
    await eventually("nothing sticks out in German either", () => cutOff(narrow));
    await narrow.close();
  });

  test("a language the host does not offer changes nothing and is listed once", async () => {
    const from = sim.log.lines.length;
    await page.evaluate(() => {
      const socket = new WebSocket("ws://" + location.host + "/ws");
      socket.onopen = () => socket.send(JSON.stringify({ type: "language", language: "xx<b>" }));
    });
    await eventually("the refusal is listed", logShows(/^ignored a language the host does not offer: "xx<b>"$/));
    assert.equal(await page.locator("#language").inputValue(), "de");
    assert.ok(!sim.log.lines.slice(from).some((line) => /plug-in exited/.test(line)), "the plug-in was not restarted");
  });
});

describe("the deck-sim page as OpenDeck", { skip }, () => {
  test("says that it plays OpenDeck", async () => {
    const sim = await startDeckSim({ withController: false, host: "opendeck" });
    const browser = await launchChromium();
    try {
      const page = await browser.context.newPage();
      await page.goto(sim.url);
      await eventually("the heading names OpenDeck", async () => (await page.locator("h1").textContent()).includes("OpenDeck simulator"));
      assert.match(await page.title(), /OpenDeck/);
      assert.doesNotMatch(await page.locator("h1").textContent(), /Stream Deck/);
    } finally {
      await browser.close();
      await sim.stop();
    }
  });
});
