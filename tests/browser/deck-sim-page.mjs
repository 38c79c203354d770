// What the deck-sim browser tests share: opening the page, reading a key's
// picture and acting as a key's settings page.

import { launchChromium, startDeckSim } from "../../tools/deck-sim/session.mjs";

// Starts deck-sim with |options| and opens its page in Chromium once the
// plug-in has drawn every key.
export async function openDeckSim(options) {
  const sim = await startDeckSim(options);
  const browser = await launchChromium();
  const page = await browser.context.newPage();
  await page.goto(sim.url);
  await page.waitForFunction(() => window.deckSim.allKeysDrawn(), null, { timeout: 10000 });
  return { sim, browser, page };
}

// How far the image a deck-sim key shows is from a picture: the share of
// pixels whose colour differs clearly (0 = the same picture). The picture
// (a page address or a data URL) is drawn at the size of the key's image.
export async function keyDifference(page, selector, source) {
  return page.evaluate(
    async ({ selector, source }) => {
      const decode = async (from, width, height) => {
        const image = new Image();
        image.src = from;
        await image.decode();
        const canvas = document.createElement("canvas");
        canvas.width = width || image.naturalWidth;
        canvas.height = height || image.naturalHeight;
        const context = canvas.getContext("2d");
        context.drawImage(image, 0, 0, canvas.width, canvas.height);
        return context.getImageData(0, 0, canvas.width, canvas.height);
      };
      const key = await decode(document.querySelector(selector + " img").src);
      const picture = await decode(source, key.width, key.height);
      let differing = 0;
      for (let i = 0; i < key.data.length; i += 4) {
        let delta = 0;
        for (let c = 0; c < 4; c++) delta = Math.max(delta, Math.abs(key.data[i + c] - picture.data[i + c]));
        if (delta > 48) differing++;
      }
      return differing / (key.data.length / 4);
    },
    { selector, source },
  );
}

// Watches the page's WebSockets for a settings page's registration until
// stop(): registration() gives its host endpoint and key ({url, uuid}) once seen.
export function watchInspectorRegistration(page) {
  let registration;
  const listener = (socket) =>
    socket.on("framesent", ({ payload }) => {
      const message = typeof payload === "string" && payload.startsWith("{") ? JSON.parse(payload) : {};
      if (message.event === "registerPropertyInspector") registration = { url: socket.url(), uuid: message.uuid };
    });
  page.on("websocket", listener);
  return { registration: () => registration, stop: () => page.off("websocket", listener) };
}

// Stores |settings| for the key of |registration| the way its settings page does.
export async function storeSettingsAsPage(page, registration, settings) {
  await page.evaluate(
    async ({ url, uuid, settings }) => {
      const socket = new WebSocket(url);
      await new Promise((resolve) => (socket.onopen = resolve));
      socket.send(JSON.stringify({ event: "registerPropertyInspector", uuid }));
      socket.send(JSON.stringify({ event: "setSettings", context: uuid, payload: settings }));
    },
    { ...registration, settings },
  );
}
