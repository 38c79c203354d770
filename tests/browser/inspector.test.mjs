// The property inspector pages of the plug-in folder, alone in a headless
// Chromium against a stand-in host: registration, the settings they send
// (integers, "1"/"0" flags, nothing when input is invalid), what they show
// from the plug-in's messages, and the link state sentence.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { HostStandIn } from "./host-stand-in.mjs";

const PREFIX = "com.vantora.kestrel.";
const NUDGE = PREFIX + "media-request-nudge-volume-up";
const LEVEL = PREFIX + "media-request-set-volume-level";
const SKIP = PREFIX + "alerts-skip";
// Every page carries the hold-to-confirm settings, off by default; a key's
// page also the choice of the streamer's own icons, off by default.
const DIAL_DEFAULTS = { hold_to_confirm: false, hold_seconds: 0.6 };
const HOLD_OFF = { ...DIAL_DEFAULTS, own_icons: false };

let host;
before(async () => { host = await HostStandIn.start(); });
after(async () => { await host?.stop(); });

async function openAndRegister(page, action, settings, options = {}) {
  await host.open(page, { action, settings, ...options });
  assert.deepEqual(await host.next("registration"),
    { event: "registerPropertyInspector", uuid: "PI-CONTEXT-1" });
}

async function nextSettings() {
  const message = await host.next("setSettings");
  assert.equal(message.event, "setSettings");
  assert.equal(message.context, "PI-CONTEXT-1");
  return message.payload;
}

const stateText = () => host.page.locator("#state").textContent();
const adviceText = () => host.page.locator("#advice").textContent();

describe("status page", () => {
  test("tells the streamer what each link state means and what to do", async () => {
    await openAndRegister("status.html", SKIP, {});
    assert.match(await stateText(), /Checking/);
    const seen = {};
    for (const id of ["offline", "login", "unsupported", "online"]) {
      host.send("sendToPropertyInspector", { settings: {}, state: { id } }, SKIP);
      await host.page.locator(`#state[data-state="${id}"]`).waitFor();
      seen[id] = [await stateText(), await adviceText()];
    }
    assert.match(seen.offline[1], /Start your streaming software with the Kestrel controller running/);
    assert.match(seen.login[1], /Sign in/);
    assert.match(seen.unsupported[1], /does not offer this action/);
    assert.match(seen.online[0], /Connected/);
    assert.equal(new Set(Object.values(seen).map((pair) => pair.join("|"))).size, 4);
    await host.screenshot("inspector-status.png");

    // An unknown id or a malformed message does not leave a stale sentence
    // claiming the link is fine.
    for (const id of ["rebooting", "constructor", "waiting", 7]) {
      host.send("sendToPropertyInspector", { settings: {}, state: { id: "online" } }, SKIP);
      await host.page.locator('#state[data-state="online"]').waitFor();
      host.send("sendToPropertyInspector", { settings: {}, state: { id } }, SKIP);
      await host.page.locator('#state[data-state=""]').waitFor();
      assert.match(await stateText(), /Checking/, String(id));
    }
    host.socket.send("not json");
    host.send("sendToPropertyInspector", null, SKIP);
    assert.match(await stateText(), /Checking/);
    assert.deepEqual(host.pageErrors, []);
  });

  test("inside a Flatpak sandbox shows the one command that grants access, as text", async () => {
    await openAndRegister("status.html", SKIP, {});
    const command = "flatpak override --user --filesystem=xdg-run/VantoraKestrelControllerServer <b>x</b>";
    host.send("sendToPropertyInspector", { settings: {}, state: { id: "sandboxed", command } }, SKIP);
    await host.page.locator('#state[data-state="sandboxed"]').waitFor();
    assert.match(await adviceText(), /Flatpak sandbox/);
    assert.equal(await host.page.locator("#command").textContent(), command);
    assert.equal(await host.page.locator("#command b").count(), 0);

    // Once the link is up the command goes away.
    host.send("sendToPropertyInspector", { settings: {}, state: { id: "online" } }, SKIP);
    await host.page.locator('#state[data-state="online"]').waitFor();
    assert.equal(await host.page.locator("#command").isVisible(), false);
    assert.deepEqual(host.pageErrors, []);
  });
});

describe("nudge volume page", () => {
  test("shows the key's settings and sends the whole settings on change", async () => {
    await openAndRegister("volume-nudge.html", NUDGE, { volume_step: 5, auto_unmute: "0", note: "kept" });
    assert.equal(await host.page.inputValue("#volume_step"), "5");
    assert.equal(await host.page.isChecked("#auto_unmute"), false);

    await host.page.fill("#volume_step", "25");
    assert.deepEqual(await nextSettings(), { volume_step: 25, auto_unmute: "0", note: "kept", ...HOLD_OFF });

    await host.page.check("#auto_unmute");
    assert.deepEqual(await nextSettings(), { volume_step: 25, auto_unmute: "1", note: "kept", ...HOLD_OFF });
    await host.page.uncheck("#auto_unmute");
    assert.deepEqual(await nextSettings(), { volume_step: 25, auto_unmute: "0", note: "kept", ...HOLD_OFF });
  });

  test("marks invalid steps and does not send them", async () => {
    await openAndRegister("volume-nudge.html", NUDGE, {});
    const step = host.page.locator("#volume_step");
    for (const typed of ["0", "101", "", "12.5", "-3", "1e2"]) {
      await step.fill(typed);
      assert.equal(await step.getAttribute("aria-invalid"), "true", `"${typed}" accepted`);
      assert.equal(await host.page.locator(".error.shown").count(), 1);
    }
    await host.screenshot("inspector-volume-nudge-invalid.png");
    // The first message after all that is the next valid value: nothing else was sent.
    await step.fill("100");
    assert.deepEqual(await nextSettings(), { volume_step: 100, auto_unmute: "1", ...HOLD_OFF });
    assert.equal(await step.getAttribute("aria-invalid"), "false");
    assert.equal(await host.page.locator(".error.shown").count(), 0);
    await host.screenshot("inspector-volume-nudge.png");
    assert.deepEqual(host.inbox.pending(), []);
  });

  test("reads settings as the plug-in does and keeps what the streamer is typing", async () => {
    await openAndRegister("volume-nudge.html", NUDGE, {});
    // Defaults until the plug-in's merged settings arrive.
    assert.equal(await host.page.inputValue("#volume_step"), "10");
    assert.equal(await host.page.isChecked("#auto_unmute"), true);

    host.send("didReceiveSettings", { settings: { volume_step: "55", auto_unmute: 0 } }, NUDGE);
    await host.page.waitForFunction(() => document.querySelector("#volume_step").value === "55");
    assert.equal(await host.page.isChecked("#auto_unmute"), false);

    // The plug-in echoes "1" after the streamer has typed "15": the field keeps 15.
    const step = host.page.locator("#volume_step");
    await step.fill("1");
    assert.equal((await nextSettings()).volume_step, 1);
    await step.pressSequentially("5");
    host.send("sendToPropertyInspector", { settings: { volume_step: 1, auto_unmute: "0" }, state: { id: "online" } }, NUDGE);
    await host.page.locator('#state[data-state="online"]').waitFor();
    assert.equal(await step.inputValue(), "15");
    assert.deepEqual(await nextSettings(), { volume_step: 15, auto_unmute: "0", ...HOLD_OFF });

    // A stored value out of range is shown, flagged, and replaced only by a valid edit.
    host.send("didReceiveSettings", { settings: { volume_step: 250, auto_unmute: "1" } }, NUDGE);
    await host.page.locator("#auto_unmute").focus();
    await host.page.waitForFunction(() => document.querySelector("#volume_step").value === "250");
    assert.equal(await step.getAttribute("aria-invalid"), "true");
  });
});

describe("volume level page", () => {
  test("slider and number box edit the same integer", async () => {
    await openAndRegister("volume-level.html", LEVEL, { volume_value: 40, auto_unmute: "1" });
    assert.equal(await host.page.inputValue("#volume_slider"), "40");
    assert.equal(await host.page.inputValue("#volume_value"), "40");

    await host.page.locator("#volume_slider").focus();
    await host.page.keyboard.press("ArrowRight");
    assert.deepEqual(await nextSettings(), { volume_value: 41, auto_unmute: "1", ...HOLD_OFF });
    assert.equal(await host.page.inputValue("#volume_value"), "41");
    await host.page.keyboard.press("End");
    assert.deepEqual(await nextSettings(), { volume_value: 100, auto_unmute: "1", ...HOLD_OFF });

    await host.page.fill("#volume_value", "0");
    assert.deepEqual(await nextSettings(), { volume_value: 0, auto_unmute: "1", ...HOLD_OFF });
    assert.equal(await host.page.inputValue("#volume_slider"), "0");

    await host.page.fill("#volume_value", "101");
    assert.equal(await host.page.getAttribute("#volume_value", "aria-invalid"), "true");
    assert.equal(await host.page.inputValue("#volume_slider"), "0", "slider followed an invalid value");
    await host.page.uncheck("#auto_unmute");
    assert.deepEqual(await nextSettings(), { volume_value: 0, auto_unmute: "0", ...HOLD_OFF });

    await host.page.fill("#volume_value", "65");
    assert.deepEqual(await nextSettings(), { volume_value: 65, auto_unmute: "0", ...HOLD_OFF });
    host.send("sendToPropertyInspector", { settings: { volume_value: 65, auto_unmute: "0" }, state: { id: "login" } }, LEVEL);
    await host.page.locator('#state[data-state="login"]').waitFor();
    await host.screenshot("inspector-volume-level.png");
    assert.deepEqual(host.pageErrors, []);
  });
});

describe("on a dial", () => {
  test("the volume pages show a step per tick, which only a dial's settings carry", async () => {
    await openAndRegister("volume-level.html", LEVEL, { volume_value: 40, auto_unmute: "1" }, { controller: "Encoder" });
    assert.equal(await host.page.isVisible("#dial_step"), true);
    assert.equal(await host.page.inputValue("#dial_step"), "5");
    await host.page.fill("#dial_step", "2");
    assert.deepEqual(await nextSettings(), { volume_value: 40, auto_unmute: "1", dial_step: 2, ...DIAL_DEFAULTS });
    await host.page.fill("#dial_step", "0");
    assert.equal(await host.page.getAttribute("#dial_step", "aria-invalid"), "true");

    // On a key the row is gone (the key's settings are checked exactly above).
    await openAndRegister("volume-level.html", LEVEL, { volume_value: 40 });
    assert.equal(await host.page.locator("#dial_step").count(), 0);

    await openAndRegister("volume-nudge.html", NUDGE, { volume_step: 5 }, { controller: "Encoder" });
    assert.equal((await host.page.locator(".unit:visible").allTextContents()).join(), "% per tick");
    await openAndRegister("volume-nudge.html", NUDGE, { volume_step: 5 });
    assert.equal((await host.page.locator(".unit:visible").allTextContents()).join(), "% per press");
    assert.deepEqual(host.pageErrors, []);
  });
});

describe("languages", () => {
  const text = (selector) => host.page.locator(selector).first().textContent();

  test("a page in German and one in Japanese, in English where a text is missing", async () => {
    await openAndRegister("volume-nudge.html", NUDGE, { hold_to_confirm: true }, { language: "de" });
    assert.equal(await host.page.getAttribute("html", "lang"), "de");
    assert.equal(await stateText(), "Wird geprüft…");
    assert.equal(await text('label[for="volume_step"]'), "Schritt");
    assert.equal(await text('label[for="hold_to_confirm"]'), "Zum Bestätigen gedrückt halten");
    host.send("sendToPropertyInspector", { settings: { hold_to_confirm: true }, state: { id: "offline" } }, NUDGE);
    await host.page.locator('#state[data-state="offline"]').waitFor();
    assert.equal(await stateText(), "Kestrel ist offline");
    await host.page.fill("#volume_step", "0");
    assert.equal(await text(".error.shown"), "Gib eine ganze Zahl von 1 bis 100 ein.");
    await host.page.fill("#volume_step", "12");
    await nextSettings();
    const german = await host.page.screenshot({ fullPage: true });

    await openAndRegister("volume-level.html", LEVEL, { volume_value: 40, hold_to_confirm: true, hold_seconds: 1 }, {
      language: "ja",
      prepare: () => { delete window.KestrelTexts.ja["advice.online"]; },
    });
    assert.equal(await host.page.getAttribute("html", "lang"), "ja");
    assert.equal(await stateText(), "確認中…");
    assert.equal(await text('label[for="volume_value"]'), "音量");
    assert.equal(await host.page.getAttribute("#volume_slider", "aria-label"), "音量スライダー");
    host.send("sendToPropertyInspector", { settings: { volume_value: 40, hold_to_confirm: true }, state: { id: "online" } }, LEVEL);
    await host.page.locator('#state[data-state="online"]').waitFor();
    assert.equal(await stateText(), "接続済み");
    assert.equal(await adviceText(), "Ready: press the key to use it.", "no English fallback");
    const japanese = await host.page.screenshot({ fullPage: true });
    await saveSideBySide("settings-de-ja.png", german, japanese);

    // Languages the pages do not have are shown in English; "zh-TW" is zh_TW.
    for (const [language, waiting] of [["pt", "Checking…"], ["zh-TW", "檢查中…"], ["zh_CN", "正在检查…"]]) {
      await openAndRegister("status.html", SKIP, {}, { language });
      assert.equal(await stateText(), waiting, language);
    }
    assert.deepEqual(host.pageErrors, []);
  });
});

// Two screenshots next to each other, for the documentation.
async function saveSideBySide(name, left, right) {
  const image = (png) => `<img src="data:image/png;base64,${png.toString("base64")}">`;
  await host.page.setContent(
    `<body style="margin:0;display:flex;gap:12px;background:#1b1b1b;align-items:flex-start">${image(left)}${image(right)}</body>`);
  await host.page.waitForFunction(() => [...document.images].every((img) => img.complete && img.naturalWidth > 0));
  await host.screenshot(name);
}

describe("hold to confirm", () => {
  test("off by default; ticking it shows the hold time, which takes 0.3 to 2 seconds", async () => {
    await openAndRegister("status.html", SKIP, { note: "kept" });
    const seconds = host.page.locator("#hold_seconds");
    assert.equal(await seconds.isVisible(), false);
    await host.page.check("#hold_to_confirm");
    assert.deepEqual(await nextSettings(), { note: "kept", hold_to_confirm: true, hold_seconds: 0.6, own_icons: false });
    assert.equal(await seconds.isVisible(), true);
    assert.equal(await seconds.inputValue(), "0.6");

    await seconds.fill("1.5");
    assert.deepEqual(await nextSettings(), { note: "kept", hold_to_confirm: true, hold_seconds: 1.5, own_icons: false });
    for (const typed of ["2.5", "0.2", "", "-1", "1.234"]) {
      await seconds.fill(typed);
      assert.equal(await seconds.getAttribute("aria-invalid"), "true", `"${typed}" accepted`);
    }
    assert.match(await host.page.locator(".error.shown").textContent(), /from 0\.3 to 2/);
    await seconds.fill("0.8");
    assert.deepEqual(await nextSettings(), { note: "kept", hold_to_confirm: true, hold_seconds: 0.8, own_icons: false });
    await host.page.uncheck("#hold_to_confirm");
    assert.deepEqual(await nextSettings(), { note: "kept", hold_to_confirm: false, hold_seconds: 0.8, own_icons: false });
    assert.equal(await seconds.isVisible(), false);
    assert.deepEqual(host.inbox.pending(), []);

    // Stored settings (also as the text a hand edit may leave) open ticked.
    await openAndRegister("volume-nudge.html", NUDGE, { hold_to_confirm: true, hold_seconds: "1.2" });
    assert.equal(await host.page.isChecked("#hold_to_confirm"), true);
    assert.equal(await seconds.inputValue(), "1.2");
    assert.equal(await seconds.isVisible(), true);
  });

  test("the pump's page does not offer it: the pump acts on every press", async () => {
    await openAndRegister("pump.html", PREFIX + "emberfall-pump", { note: "kept" }, { language: "de" });
    assert.equal(await host.page.locator("#hold_to_confirm").count(), 0);
    assert.equal(await stateText(), "Wird geprüft…");
    host.send("sendToPropertyInspector", { settings: { note: "kept" }, state: { id: "online" } }, PREFIX + "emberfall-pump");
    await host.page.locator('#state[data-state="online"]').waitFor();
    assert.deepEqual(host.inbox.pending(), [], "the page wrote settings of its own");
    assert.deepEqual(host.pageErrors, []);
  });
});

describe("own icons", () => {
  test("every key's page offers them, off by default; a dial's page does not", async () => {
    for (const [page, action] of [["status.html", SKIP], ["pump.html", PREFIX + "emberfall-pump"],
      ["volume-nudge.html", NUDGE], ["volume-level.html", LEVEL]]) {
      await openAndRegister(page, action, { note: "kept" });
      const hint = host.page.locator('[data-text="ownIconsHint"]');
      assert.equal(await host.page.isChecked("#own_icons"), false, page);
      assert.equal(await hint.isVisible(), false, page);
      await host.page.check("#own_icons");
      const sent = await nextSettings();
      assert.equal(sent.own_icons, true, page);
      assert.equal(sent.note, "kept", page);
      assert.match(await hint.textContent(), /icons you set/);
      assert.equal(await hint.isVisible(), true, page);
      assert.deepEqual(host.inbox.pending(), [], page);
    }
    await host.screenshot("inspector-own-icons.png");

    // Stored on, they open ticked; unticking stores false.
    await openAndRegister("status.html", SKIP, { own_icons: true });
    assert.equal(await host.page.isChecked("#own_icons"), true);
    await host.page.uncheck("#own_icons");
    assert.deepEqual(await nextSettings(), { ...HOLD_OFF, own_icons: false });

    // A dial draws on the touch strip: no option, and none written into its settings.
    await openAndRegister("volume-nudge.html", NUDGE, { volume_step: 5 }, { controller: "Encoder" });
    assert.equal(await host.page.locator("#own_icons").count(), 0);
    await host.page.fill("#volume_step", "6");
    assert.deepEqual(await nextSettings(), { volume_step: 6, auto_unmute: "1", ...DIAL_DEFAULTS });
    assert.deepEqual(host.pageErrors, []);
  });
});

describe("in a Multi Action", () => {
  const stored = { hold_to_confirm: true, hold_seconds: "1.2", own_icons: true, note: "kept" };

  test("a step's page offers neither hold to confirm nor own icons and keeps what is stored", async () => {
    await openAndRegister("status.html", PREFIX + "streaming-state", stored, { inMultiAction: true });
    assert.equal(await host.page.locator("#hold_to_confirm, #own_icons, hr").count(), 0);
    host.send("sendToPropertyInspector", { settings: stored, state: { id: "online" } }, PREFIX + "streaming-state");
    await host.page.locator('#state[data-state="online"]').waitFor();
    await host.screenshot("inspector-multi-action-step.png");

    // A step's own settings still work, and send the stored ones back untouched.
    await openAndRegister("volume-nudge.html", NUDGE, stored, { inMultiAction: true });
    assert.equal(await host.page.locator("#hold_to_confirm, #own_icons").count(), 0);
    await host.page.fill("#volume_step", "25");
    assert.deepEqual(await nextSettings(), { ...stored, volume_step: 25, auto_unmute: "1" });
    assert.deepEqual(host.inbox.pending(), []);

    // The same key outside a Multi Action offers both.
    await openAndRegister("status.html", PREFIX + "streaming-state", stored);
    assert.equal(await host.page.isChecked("#hold_to_confirm"), true);
    assert.equal(await host.page.isChecked("#own_icons"), true);
    assert.deepEqual(host.pageErrors, []);
  });

  test("held keys and Key Logic: the page says they do not mix, in every language", async () => {
    const seen = new Set();
    for (const language of ["en", "de", "es", "fr", "ja", "ko", "zh_CN", "zh_TW"]) {
      await openAndRegister("status.html", SKIP, { hold_to_confirm: false }, { language });
      const note = host.page.locator('[data-text="keyLogicHint"]');
      assert.equal(await note.isVisible(), false, language);
      await host.page.check("#hold_to_confirm");
      await nextSettings();
      assert.equal(await note.isVisible(), true, language);
      const text = await note.textContent();
      assert.match(text, /Key Logic/, language);
      const label = await host.page.locator('label[for="own_icons"]').textContent();
      assert.ok(!seen.has(text) && !seen.has(label), `${language} repeats another language`);
      seen.add(text).add(label);
    }
    assert.deepEqual(host.pageErrors, []);
  });
});

describe("volume slider", () => {
  test("a drag sends a few settings a second and the value where it ends", async () => {
    await openAndRegister("volume-level.html", LEVEL, { volume_value: 0 });
    await host.page.evaluate(() => {
      window.inputEvents = 0;
      document.querySelector("#volume_slider").addEventListener("input", () => window.inputEvents++);
    });
    const box = await host.page.locator("#volume_slider").boundingBox();
    const y = box.y + box.height / 2;
    await host.page.mouse.move(box.x + 2, y);
    await host.page.mouse.down();
    const started = Date.now();
    const steps = 30;
    for (let i = 1; i <= steps; i++) await host.page.mouse.move(box.x + 2 + ((box.width - 4) * i) / steps, y);
    await host.page.mouse.up();
    const elapsed = Date.now() - started;
    const final = Number(await host.page.inputValue("#volume_slider"));
    assert.equal(final, 100);

    const sent = [];
    do sent.push(await nextSettings());
    while (sent.at(-1).volume_value !== final);
    await new Promise((resolve) => setTimeout(resolve, 400)); // nothing comes after the last value
    const inputs = await host.page.evaluate(() => window.inputEvents);
    assert.ok(inputs >= 20, `only ${inputs} input events: the drag did not happen`);
    assert.ok(sent.length >= 2, `${sent.length} messages`);
    assert.ok(sent.length <= elapsed / 250 + 2, `${sent.length} messages in ${elapsed} ms for ${inputs} moves`);
    assert.deepEqual(host.inbox.pending(), []);
    assert.equal(await host.page.inputValue("#volume_value"), "100");
  });
});

describe("look", () => {
  const background = () => host.page.evaluate(() => getComputedStyle(document.body).backgroundColor);

  test("dark like the host, light when the host's colours or the system ask for it", async () => {
    const dark = { buttonPressedBackgroundColor: "#303030FF", highlightColor: "#F7821BFF" };
    await openAndRegister("status.html", SKIP, {}, { colors: dark });
    assert.equal(await background(), "rgb(45, 45, 45)");
    const accent = await host.page.evaluate(() => getComputedStyle(document.documentElement).getPropertyValue("--focus"));
    assert.equal(accent.trim().toLowerCase(), "#f7821b");

    await openAndRegister("volume-level.html", LEVEL, {}, { colors: { buttonPressedBackgroundColor: "#E8E8E8FF" } });
    assert.equal(await background(), "rgb(245, 245, 245)");
    await host.screenshot("inspector-volume-level-light.png");

    try {
      await host.page.emulateMedia({ colorScheme: "light" });
      await openAndRegister("status.html", SKIP, {});
      assert.equal(await background(), "rgb(245, 245, 245)");
      await openAndRegister("status.html", SKIP, {}, { colors: dark }); // the host's word counts first
      assert.equal(await background(), "rgb(45, 45, 45)");
    } finally {
      await host.page.emulateMedia({ colorScheme: "dark" });
    }
    assert.deepEqual(host.pageErrors, []);
  });
});
