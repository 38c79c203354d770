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

let host;
before(async () => { host = await HostStandIn.start(); });
after(async () => { await host?.stop(); });

async function openAndRegister(page, action, settings) {
  await host.open(page, { action, settings });
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
    host.send("sendToPropertyInspector", { settings: {}, state: { id: "rebooting" } }, SKIP);
    await host.page.locator('#state[data-state=""]').waitFor();
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
    assert.deepEqual(await nextSettings(), { volume_step: 25, auto_unmute: "0", note: "kept" });

    await host.page.check("#auto_unmute");
    assert.deepEqual(await nextSettings(), { volume_step: 25, auto_unmute: "1", note: "kept" });
    await host.page.uncheck("#auto_unmute");
    assert.deepEqual(await nextSettings(), { volume_step: 25, auto_unmute: "0", note: "kept" });
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
    assert.deepEqual(await nextSettings(), { volume_step: 100, auto_unmute: "1" });
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
    assert.deepEqual(await nextSettings(), { volume_step: 15, auto_unmute: "0" });

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
    assert.deepEqual(await nextSettings(), { volume_value: 41, auto_unmute: "1" });
    assert.equal(await host.page.inputValue("#volume_value"), "41");
    await host.page.keyboard.press("End");
    assert.deepEqual(await nextSettings(), { volume_value: 100, auto_unmute: "1" });

    await host.page.fill("#volume_value", "0");
    assert.deepEqual(await nextSettings(), { volume_value: 0, auto_unmute: "1" });
    assert.equal(await host.page.inputValue("#volume_slider"), "0");

    await host.page.fill("#volume_value", "101");
    assert.equal(await host.page.getAttribute("#volume_value", "aria-invalid"), "true");
    assert.equal(await host.page.inputValue("#volume_slider"), "0", "slider followed an invalid value");
    await host.page.uncheck("#auto_unmute");
    assert.deepEqual(await nextSettings(), { volume_value: 0, auto_unmute: "0" });

    await host.page.fill("#volume_value", "65");
    assert.deepEqual(await nextSettings(), { volume_value: 65, auto_unmute: "0" });
    host.send("sendToPropertyInspector", { settings: { volume_value: 65, auto_unmute: "0" }, state: { id: "login" } }, LEVEL);
    await host.page.locator('#state[data-state="login"]').waitFor();
    await host.screenshot("inspector-volume-level.png");
    assert.deepEqual(host.pageErrors, []);
  });
});
