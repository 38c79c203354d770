#!/usr/bin/env node
// A plug-in stand-in for the browser tests of the Stream Deck + page: deck-sim
// starts it as it starts the real plug-in. It prints every event it receives
// as "dial-plugin: <json>" (deck-sim passes its output on), and answers a
// dial the way a volume dial would: layout $B1, trigger descriptions, and the
// level as a number and a bar, 5 per tick, 50 to begin with. A long touch
// switches the dial to the plug-in folder's layouts/meter.json.
import { WebSocket } from "ws";

const argument = (name) => process.argv[process.argv.indexOf(name) + 1];
const socket = new WebSocket(`ws://127.0.0.1:${argument("-port")}`);
const levels = new Map(); // context -> level

const send = (event, context, payload) => socket.send(JSON.stringify({ event, context, payload }));
const meters = new Set(); // contexts showing layouts/meter.json
// A 2×2 red PNG.
const badge = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEElEQVR4nGP4z8AARAwQCgAf7gP9i18U1AAAAABJRU5ErkJggg==";
const showLevel = (context) => {
  const level = levels.get(context);
  if (meters.has(context)) send("setFeedback", context, { label: "Meter", meter: level, badge });
  else send("setFeedback", context, { value: `${level} %`, indicator: { value: level } });
};

socket.on("open", () => socket.send(JSON.stringify({ event: argument("-registerEvent"), uuid: argument("-pluginUUID") })));
socket.on("message", (data) => {
  const message = JSON.parse(data.toString());
  console.log(`dial-plugin: ${JSON.stringify(message)}`);
  const { event, context, payload } = message;
  if (event === "willAppear" && payload.controller === "Encoder") {
    levels.set(context, 50);
    send("setFeedbackLayout", context, { layout: "$B1" });
    send("setTriggerDescription", context, { rotate: "Volume", push: "Mute" });
    send("setFeedback", context, { title: "Volume", indicator: { bar_fill_c: "#3ec46d" } });
    showLevel(context);
  } else if (event === "dialRotate" && levels.has(context)) {
    levels.set(context, Math.min(100, Math.max(0, levels.get(context) + 5 * payload.ticks)));
    showLevel(context);
  } else if (event === "touchTap" && payload.hold && levels.has(context)) {
    meters.add(context);
    send("setFeedbackLayout", context, { layout: "layouts/meter.json" });
    showLevel(context);
  }
});
socket.on("close", () => process.exit(0));
socket.on("error", () => process.exit(1));
