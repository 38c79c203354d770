/*
 * Shared script of the Kestrel property inspector pages.
 *
 * The Stream Deck application loads a page and calls the global
 * connectElgatoStreamDeckSocket(). The page then registers on the host's
 * WebSocket, shows the key's settings in the inputs marked with
 * data-setting="<key>", and sends the whole settings object with "setSettings"
 * whenever the streamer changes a valid value. The plug-in answers every change
 * (and every change of the controller link) with "sendToPropertyInspector"
 * holding {"settings": ..., "state": {"id": ...}}, which updates the inputs and
 * the link state shown on every page. Inside a Flatpak sandbox the state also
 * carries "command", the one command that grants access, shown under the advice.
 *
 * Values are stored the way the plug-in reads them: numbers as JSON integers,
 * check boxes as the strings "1" and "0". Values the plug-in would reject or
 * misread (empty, not a whole number, out of range) are marked and not sent.
 */
(function () {
  "use strict";

  // What each link state means for the streamer and what to do about it.
  var STATES = {
    offline: {
      title: "Kestrel is offline",
      advice: "Start your streaming software with the Kestrel controller running.",
    },
    login: {
      title: "Signed out",
      advice: "Sign in to Kestrel in your streaming software.",
    },
    unsupported: {
      title: "Not supported",
      advice: "Your Kestrel controller does not offer this action. Update Kestrel in your streaming software.",
    },
    online: {
      title: "Connected",
      advice: "Ready: press the key to use it.",
    },
    sandboxed: {
      title: "Kestrel is out of reach",
      advice:
        "Your Stream Deck app runs in a Flatpak sandbox that hides Kestrel. Start your streaming software; " +
        "if this stays, run this command once, then restart the Stream Deck app:",
    },
  };
  var WAITING = {
    title: "Checking…",
    advice: "Waiting for the plug-in. If this stays, restart the Stream Deck application.",
  };

  // Reads a stored setting as the plug-in does: strings like C's atoi
  // (leading blanks, optional sign, digits up to the first non-digit),
  // booleans as 0 or 1, numbers truncated toward zero. Anything else is null.
  function settingToInt(value) {
    if (typeof value === "boolean") return value ? 1 : 0;
    if (typeof value === "number") return isFinite(value) ? Math.trunc(value) : null;
    if (typeof value !== "string") return null;
    var match = /^\s*([+-]?)(\d*)/.exec(value);
    if (!match[2]) return 0;
    var number = parseInt(match[2], 10);
    return match[1] === "-" ? -number : number;
  }

  // A whole decimal number typed by the streamer, or null.
  function parseWholeNumber(text) {
    var trimmed = String(text).trim();
    return /^\d{1,9}$/.test(trimmed) ? parseInt(trimmed, 10) : null;
  }

  function Inspector(doc) {
    this.doc = doc;
    this.socket = null;
    this.context = "";
    this.action = "";
    this.settings = {};
    this.fields = {}; // setting key -> list of inputs showing it
    var inputs = doc.querySelectorAll("[data-setting]");
    for (var i = 0; i < inputs.length; i++) {
      var key = inputs[i].getAttribute("data-setting");
      (this.fields[key] = this.fields[key] || []).push(inputs[i]);
    }
  }

  Inspector.prototype.connect = function (port, uuid, registerEvent, actionInfoText) {
    this.context = uuid;
    var actionInfo = parseJson(actionInfoText) || {};
    this.action = actionInfo.action || "";
    var payload = actionInfo.payload || {};
    this.applySettings(payload.settings);
    this.showState(null);
    this.bindInputs();

    var self = this;
    this.socket = new WebSocket("ws://127.0.0.1:" + port);
    this.socket.onopen = function () {
      self.send({ event: registerEvent, uuid: uuid });
    };
    this.socket.onmessage = function (message) {
      self.receive(parseJson(message.data));
    };
  };

  Inspector.prototype.send = function (document) {
    if (this.socket && this.socket.readyState === WebSocket.OPEN) {
      this.socket.send(JSON.stringify(document));
    }
  };

  Inspector.prototype.receive = function (message) {
    if (!message || typeof message !== "object") return;
    var payload = message.payload;
    if (!payload || typeof payload !== "object") return;
    if (message.event === "didReceiveSettings") {
      this.applySettings(payload.settings);
    } else if (message.event === "sendToPropertyInspector") {
      this.applySettings(payload.settings);
      if (payload.state && typeof payload.state === "object") this.showState(payload.state.id, payload.state.command);
    }
  };

  // Takes the settings the host or the plug-in holds now. Pages start from
  // their own defaults (data-default) so that what they send is complete.
  Inspector.prototype.applySettings = function (incoming) {
    if (incoming && typeof incoming === "object" && !Array.isArray(incoming)) {
      this.settings = Object.assign({}, incoming);
    }
    for (var key in this.fields) {
      if (!(key in this.settings)) this.settings[key] = defaultOf(this.fields[key][0]);
      this.showSetting(key);
    }
  };

  // Puts a setting into its inputs, except into the one being edited: the
  // plug-in echoes every change, and an echo of an older value must not
  // overwrite what the streamer is typing.
  Inspector.prototype.showSetting = function (key) {
    var value = this.settings[key];
    var inputs = this.fields[key];
    for (var i = 0; i < inputs.length; i++) {
      var input = inputs[i];
      if (input === this.doc.activeElement) continue;
      if (input.type === "checkbox") {
        input.checked = settingToInt(value) !== 0;
      } else {
        var number = settingToInt(value);
        input.value = number === null ? "" : String(number);
        this.markValidity(key, input, number);
      }
    }
  };

  Inspector.prototype.bindInputs = function () {
    var self = this;
    Object.keys(this.fields).forEach(function (key) {
      self.fields[key].forEach(function (input) {
        var event = input.type === "checkbox" ? "change" : "input";
        input.addEventListener(event, function () {
          self.edited(key, input);
        });
        // Leaving a valid field shows the stored value in it again. An
        // invalid one keeps its text and its error, so the streamer sees
        // what was not taken (and the rows below do not jump under a click).
        input.addEventListener("blur", function () {
          if (!input.classList.contains("invalid")) self.showSetting(key);
        });
      });
    });
  };

  Inspector.prototype.edited = function (key, input) {
    var value;
    if (input.type === "checkbox") {
      value = input.checked ? "1" : "0";
    } else {
      var number = parseWholeNumber(input.value);
      if (!this.markValidity(key, input, number)) return;
      value = number;
    }
    this.settings[key] = value;
    this.normaliseSettings();
    this.showSetting(key);
    this.send({ event: "setSettings", context: this.context, payload: this.settings });
  };

  // Older or hand-edited settings may hold a flag as a number or a boolean, or
  // a number as text. What goes back is written the one way the plug-in
  // expects; a value outside its range is left as it is, not silently changed.
  Inspector.prototype.normaliseSettings = function () {
    for (var key in this.fields) {
      var input = this.fields[key][0];
      var number = settingToInt(this.settings[key]);
      if (input.type === "checkbox") {
        this.settings[key] = number ? "1" : "0";
      } else if (number !== null && inRange(input, number)) {
        this.settings[key] = number;
      }
    }
  };

  // Marks a number input valid or not and shows why; returns whether valid.
  Inspector.prototype.markValidity = function (key, input, number) {
    var valid = number !== null && inRange(input, number);
    var min = input.getAttribute("min");
    var max = input.getAttribute("max");
    input.classList.toggle("invalid", !valid);
    input.setAttribute("aria-invalid", valid ? "false" : "true");
    var error = this.doc.querySelector('[data-error-for="' + key + '"]');
    if (error && (input.type !== "range" || !valid)) {
      error.textContent = valid ? "" : "Enter a whole number from " + min + " to " + max + ".";
      error.classList.toggle("shown", !valid);
    }
    return valid;
  };

  Inspector.prototype.showState = function (id, command) {
    var known = Object.prototype.hasOwnProperty.call(STATES, id);
    var text = known ? STATES[id] : WAITING;
    var badge = this.doc.getElementById("state");
    var advice = this.doc.getElementById("advice");
    if (badge) {
      badge.textContent = text.title;
      badge.setAttribute("data-state", known ? id : "");
    }
    if (advice) advice.textContent = text.advice;
    this.showCommand(id === "sandboxed" && typeof command === "string" ? command : "");
  };

  // The command to copy, as text (never markup), in its own line after the advice.
  Inspector.prototype.showCommand = function (command) {
    var shown = this.doc.getElementById("command");
    var advice = this.doc.getElementById("advice");
    if (!shown && command && advice) {
      shown = this.doc.createElement("code");
      shown.id = "command";
      shown.className = "command";
      advice.parentNode.insertBefore(shown, advice.nextSibling);
    }
    if (!shown) return;
    shown.textContent = command;
    shown.hidden = !command;
  };

  function inRange(input, number) {
    return number >= parseInt(input.getAttribute("min"), 10) && number <= parseInt(input.getAttribute("max"), 10);
  }

  function defaultOf(input) {
    var text = input.getAttribute("data-default");
    if (input.type === "checkbox") return text === "0" ? "0" : "1";
    return parseInt(text, 10);
  }

  function parseJson(text) {
    try {
      return JSON.parse(text);
    } catch (e) {
      return null;
    }
  }

  window.connectElgatoStreamDeckSocket = function (inPort, inUUID, inRegisterEvent, inInfo, inActionInfo) {
    new Inspector(document).connect(inPort, inUUID, inRegisterEvent, inActionInfo);
  };
})();
