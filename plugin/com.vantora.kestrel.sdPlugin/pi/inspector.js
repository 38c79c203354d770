/*
 * Shared script of the Kestrel property inspector pages.
 *
 * The Stream Deck application loads a page and calls the global
 * connectElgatoStreamDeckSocket(). The page then registers on the host's
 * WebSocket, shows the key's settings in the inputs marked with
 * data-setting="<key>", and sends the whole settings object with "setSettings"
 * whenever the streamer changes a valid value. While the page is shown the
 * plug-in answers every change (and every change of the controller link) with
 * "sendToPropertyInspector" holding {"settings": ..., "state": {"id": ...}},
 * which updates the inputs and the link state shown on every page. Inside a
 * Flatpak sandbox the state also carries "command", the one command that
 * grants access, shown under the advice.
 *
 * Values are stored the way the plug-in reads them: whole numbers as JSON
 * integers, check boxes as the strings "1" and "0" (data-format="bool": JSON
 * booleans), data-format="decimal" as JSON numbers. Values the plug-in would
 * reject or misread (empty, malformed, out of range) are marked and not sent.
 *
 * The telemetry switch ("Send anonymous usage statistics") is one for the
 * whole plug-in, kept in the host's global settings: a click sends
 * "setGlobalSettings", which the host hands on to the plug-in. The plug-in
 * tells each page the switch's state with {"telemetry": {"on", "locked",
 * "offBy"}}; until then the switch waits, disabled. When the environment keeps
 * telemetry off ("locked"), the switch stays off and disabled and one line
 * says which variable does it.
 *
 * Texts come from texts.js in the language the host names in its info
 * (application.language), English where a language lacks one.
 */
(function () {
  "use strict";

  // A slider sends while it is dragged at most this often, and once more
  // with the value where the drag ends.
  var SLIDER_SEND_INTERVAL_MS = 250;

  // Parts that several pages show, written once: a page names them with
  // <div data-block="...">, which is replaced by the part before the page is read.
  var BLOCKS = {
    // The state of the link to Kestrel and what to do about it.
    link:
      '<div class="row">' +
      '<span class="label" data-text="kestrel"></span>' +
      '<div class="value"><span id="state" class="state" role="status"></span></div>' +
      "</div>" +
      '<p id="advice" class="advice"></p>',
    // Hold to confirm: off by default; its time shows only while it is on. A
    // Multi Action step acts at once, so its page does not offer it; Key
    // Logic's presses look like short taps, so the page warns of them.
    hold:
      "<div data-not-in-multi-action>" +
      '<div class="row">' +
      '<span class="label" data-text="confirm"></span>' +
      '<div class="value">' +
      '<input id="hold_to_confirm" type="checkbox" data-setting="hold_to_confirm" data-format="bool" data-default="false">' +
      '<label for="hold_to_confirm" data-text="holdToConfirm"></label>' +
      "</div>" +
      "</div>" +
      '<div data-shown-with="hold_to_confirm" hidden>' +
      '<div class="row">' +
      '<label for="hold_seconds" data-text="holdTime"></label>' +
      '<div class="value">' +
      '<input id="hold_seconds" type="number" min="0.3" max="2" step="0.1" data-setting="hold_seconds" data-format="decimal" data-default="0.6">' +
      '<span class="unit" data-text="seconds"></span>' +
      "</div>" +
      "</div>" +
      '<div class="error" data-error-for="hold_seconds" role="alert"></div>' +
      '<p class="hint" data-text="holdHint"></p>' +
      '<p class="hint" data-text="keyLogicHint"></p>' +
      "</div>" +
      "</div>",
    // The streamer's own icons: while the key works the host shows the icon
    // set for each state. Only a key of its own shows an image of its own.
    icons:
      "<div data-key-only data-not-in-multi-action>" +
      '<div class="row">' +
      '<span class="label" data-text="icons"></span>' +
      '<div class="value">' +
      '<input id="own_icons" type="checkbox" data-setting="own_icons" data-format="bool" data-default="false">' +
      '<label for="own_icons" data-text="ownIcons"></label>' +
      "</div>" +
      "</div>" +
      '<p class="hint" data-shown-with="own_icons" data-text="ownIconsHint" hidden></p>' +
      "</div>",
    // The plug-in's one telemetry switch: not a key setting, so no
    // data-setting. A Multi Action step's page keeps to the step.
    telemetry:
      "<div data-not-in-multi-action>" +
      "<hr>" +
      '<div class="row">' +
      '<span class="label" data-text="privacy"></span>' +
      '<div class="value">' +
      '<input id="send_usage_statistics" type="checkbox" disabled>' +
      '<label for="send_usage_statistics" data-text="usageStatistics"></label>' +
      "</div>" +
      "</div>" +
      '<p id="usage-statistics-lock" class="hint" role="status" hidden></p>' +
      '<p class="hint" data-text="usageStatisticsScope"></p>' +
      "</div>",
  };

  function insertBlocks(doc) {
    forEach(doc.querySelectorAll("[data-block]"), function (placeholder) {
      var template = doc.createElement("template");
      template.innerHTML = BLOCKS[placeholder.getAttribute("data-block")] || "";
      placeholder.parentNode.replaceChild(template.content, placeholder);
    });
  }

  // Stored settings are read exactly as the plug-in reads them, so that what
  // a page shows is what the keys do (tests/data/stored-settings.json holds
  // the cases both sides are checked against).
  var INT_MAX = 2147483647;
  var INT_MIN = -2147483648;
  var BLANKS = "[ \\t\\n\\v\\f\\r]*"; // what C's atoi skips; not every Unicode space

  // A whole number: strings like C's atoi (leading blanks, optional sign,
  // digits up to the first non-digit, saturating at 32 bits), booleans as 0
  // or 1, whole numbers cut to 32 bits, fractions truncated toward zero
  // (saturating). Anything else is null.
  function settingToInt(value) {
    if (typeof value === "boolean") return value ? 1 : 0;
    if (typeof value === "number") {
      if (!isFinite(value)) return null;
      if (Number.isSafeInteger(value)) return value | 0; // a JSON integer: its low 32 bits
      return Math.min(INT_MAX, Math.max(INT_MIN, Math.trunc(value)));
    }
    if (typeof value !== "string") return null;
    var match = new RegExp("^" + BLANKS + "([+-]?)(\\d*)").exec(value);
    if (!match[2]) return 0;
    var number = parseInt(match[2], 10);
    return match[1] === "-" ? Math.max(INT_MIN, -number) : Math.min(INT_MAX, number);
  }

  // A flag: a boolean as it is, a number or text non-zero as settingToInt
  // reads it; anything else is null (the setting's default applies).
  function settingToFlag(value) {
    if (typeof value === "boolean") return value;
    if (typeof value === "number" || typeof value === "string") return settingToInt(value) !== 0;
    return null;
  }

  // A decimal: a finite number, or text holding just an optionally signed
  // decimal number with blanks around it; otherwise null.
  var DECIMAL_TEXT = new RegExp("^" + BLANKS + "([+-]?\\d+(\\.\\d+)?)" + BLANKS + "$");
  function settingToDecimal(value) {
    if (typeof value === "number") return isFinite(value) ? value : null;
    var match = typeof value === "string" ? DECIMAL_TEXT.exec(value) : null;
    return match ? parseFloat(match[1]) : null;
  }

  // A whole decimal number typed by the streamer, or null.
  function parseWholeNumber(text) {
    var trimmed = String(text).trim();
    return /^\d{1,9}$/.test(trimmed) ? parseInt(trimmed, 10) : null;
  }

  // A number with up to two decimals typed by the streamer ("0.6", "2"), or null.
  function parseDecimal(text) {
    var trimmed = String(text).trim();
    return /^\d{1,3}(\.\d{1,2})?$/.test(trimmed) ? parseFloat(trimmed) : null;
  }

  // The host names its language as "de", "zh_CN", …; OpenDeck may use "zh-CN".
  function chooseLanguage(info, tables) {
    var application = (info && info.application) || {};
    var name = String(application.language || "").replace("-", "_");
    return Object.prototype.hasOwnProperty.call(tables, name) ? name : "en";
  }

  function Texts(language) {
    var tables = window.KestrelTexts || { en: {} };
    this.language = chooseLanguage({ application: { language: language } }, tables);
    this.table = tables[this.language];
    this.english = tables.en;
  }

  Texts.prototype.has = function (key) {
    return Object.prototype.hasOwnProperty.call(this.english, key);
  };

  Texts.prototype.get = function (key, values) {
    var own = Object.prototype.hasOwnProperty;
    var text = own.call(this.table, key) ? this.table[key] : this.english[key];
    if (typeof text !== "string") text = own.call(this.english, key) ? this.english[key] : key;
    return text.replace(/\{(\w+)\}/g, function (whole, name) {
      return values && name in values ? String(values[name]) : whole;
    });
  };

  function Inspector(doc) {
    this.doc = doc;
    this.socket = null;
    this.context = "";
    this.action = "";
    this.settings = {};
    this.stateId = null;
    this.texts = new Texts("en");
    this.telemetryOffBy = null; // null: not locked; otherwise the variable's name ("" for none)
    this.lastSentAt = 0;
    this.sendTimer = null;
    this.fields = {}; // setting key -> list of inputs showing it
    var inputs = doc.querySelectorAll("[data-setting]");
    for (var i = 0; i < inputs.length; i++) {
      var key = inputs[i].getAttribute("data-setting");
      (this.fields[key] = this.fields[key] || []).push(inputs[i]);
    }
  }

  Inspector.prototype.connect = function (port, uuid, registerEvent, infoText, actionInfoText) {
    this.context = uuid;
    var info = parseJson(infoText) || {};
    this.useLanguage(chooseLanguage(info, window.KestrelTexts || { en: {} }));
    applyTheme(this.doc, info);
    var actionInfo = parseJson(actionInfoText) || {};
    this.action = actionInfo.action || "";
    var payload = actionInfo.payload || {};
    this.usePlace(payload.controller === "Encoder", payload.isInMultiAction === true);
    this.applySettings(payload.settings);
    this.bindInputs();
    this.bindTelemetry();

    var self = this;
    this.socket = new WebSocket("ws://127.0.0.1:" + port);
    this.socket.onopen = function () {
      self.send({ event: registerEvent, uuid: uuid });
    };
    this.socket.onmessage = function (message) {
      self.receive(parseJson(message.data));
    };
  };

  // Puts every text of the page in |language| and shows the state again.
  Inspector.prototype.useLanguage = function (language) {
    this.texts = new Texts(language);
    var root = this.doc.documentElement;
    root.setAttribute("lang", this.texts.language.replace("_", "-"));
    var self = this;
    forEach(this.doc.querySelectorAll("[data-text]"), function (element) {
      element.textContent = self.texts.get(element.getAttribute("data-text"));
    });
    forEach(this.doc.querySelectorAll("[data-text-label]"), function (element) {
      element.setAttribute("aria-label", self.texts.get(element.getAttribute("data-text-label")));
    });
    this.showState(this.stateId, this.stateCommand);
    this.showTelemetryLock();
  };

  Inspector.prototype.send = function (document) {
    if (this.socket && this.socket.readyState === WebSocket.OPEN) {
      this.socket.send(JSON.stringify(document));
    }
  };

  Inspector.prototype.sendSettings = function () {
    clearTimeout(this.sendTimer);
    this.sendTimer = null;
    this.lastSentAt = Date.now();
    this.send({ event: "setSettings", context: this.context, payload: this.settings });
  };

  // A dragged slider: the first move is sent at once, later ones at most
  // every SLIDER_SEND_INTERVAL_MS, always ending with the latest value.
  Inspector.prototype.sendSettingsSoon = function () {
    var wait = this.lastSentAt + SLIDER_SEND_INTERVAL_MS - Date.now();
    if (wait <= 0) return this.sendSettings();
    if (this.sendTimer) return;
    var self = this;
    this.sendTimer = setTimeout(function () {
      self.sendSettings();
    }, wait);
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
      if (payload.telemetry && typeof payload.telemetry === "object") this.showTelemetry(payload.telemetry);
    }
  };

  Inspector.prototype.bindTelemetry = function () {
    var box = this.doc.getElementById("send_usage_statistics");
    if (!box) return;
    var self = this;
    box.addEventListener("change", function () {
      // The switch is the plug-in's only global setting: the whole object.
      self.send({ event: "setGlobalSettings", context: self.context, payload: { send_usage_statistics: box.checked } });
    });
  };

  // {"on", "locked", "offBy"} from the plug-in: anything else leaves the switch as it is.
  Inspector.prototype.showTelemetry = function (telemetry) {
    var box = this.doc.getElementById("send_usage_statistics");
    if (!box || typeof telemetry.on !== "boolean" || typeof telemetry.locked !== "boolean") return;
    box.checked = telemetry.on && !telemetry.locked;
    box.disabled = telemetry.locked;
    this.telemetryOffBy = telemetry.locked ? (typeof telemetry.offBy === "string" ? telemetry.offBy : "") : null;
    this.showTelemetryLock();
  };

  // Why the environment holds the switch off, as text (never markup).
  Inspector.prototype.showTelemetryLock = function () {
    var line = this.doc.getElementById("usage-statistics-lock");
    if (!line) return;
    var offBy = this.telemetryOffBy;
    line.hidden = offBy === null;
    if (offBy === null) return (line.textContent = "");
    line.textContent = offBy
      ? this.texts.get("usageStatisticsOffBy", { name: offBy })
      : this.texts.get("usageStatisticsNoCollector");
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
  // overwrite what the streamer is typing or dragging.
  Inspector.prototype.showSetting = function (key) {
    var value = this.settings[key];
    var inputs = this.fields[key];
    for (var i = 0; i < inputs.length; i++) {
      var input = inputs[i];
      if (input.type === "checkbox") {
        if (input !== this.doc.activeElement) input.checked = readFlag(input, value);
        this.showDependentRows(key, input.checked);
      } else if (input !== this.doc.activeElement) {
        var number = readNumber(input, value);
        input.value = number === null ? "" : String(number);
        this.markValidity(key, input, number);
      }
    }
  };

  // A page opened for a dial shows the rows marked data-dial-only; on a key
  // they go, and on a dial the ones marked data-key-only go. A Multi Action
  // step's page drops the rows marked data-not-in-multi-action. Rows go with
  // their settings: what is stored for them stays exactly what it was.
  Inspector.prototype.usePlace = function (dial, inMultiAction) {
    this.removeRows(dial ? "[data-key-only]" : "[data-dial-only]");
    if (inMultiAction) this.removeRows("[data-not-in-multi-action]");
    forEach(this.doc.querySelectorAll("[data-dial-only]"), function (row) {
      row.hidden = false;
    });
  };

  Inspector.prototype.removeRows = function (selector) {
    var self = this;
    forEach(this.doc.querySelectorAll(selector), function (row) {
      forEach(row.querySelectorAll("[data-setting]"), function (input) {
        delete self.fields[input.getAttribute("data-setting")];
      });
      row.parentNode.removeChild(row);
    });
  };

  // Rows marked data-shown-with="<key>" appear only while that box is ticked.
  Inspector.prototype.showDependentRows = function (key, shown) {
    forEach(this.doc.querySelectorAll('[data-shown-with="' + key + '"]'), function (row) {
      row.hidden = !shown;
    });
  };

  Inspector.prototype.bindInputs = function () {
    var self = this;
    Object.keys(this.fields).forEach(function (key) {
      self.fields[key].forEach(function (input) {
        var event = input.type === "checkbox" ? "change" : "input";
        input.addEventListener(event, function () {
          self.edited(key, input);
        });
        // The end of a drag (or a key press on the slider) sends what waits.
        if (input.type === "range") {
          input.addEventListener("change", function () {
            if (self.sendTimer) self.sendSettings();
          });
        }
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
      value = input.getAttribute("data-format") === "bool" ? input.checked : input.checked ? "1" : "0";
    } else {
      var number = isDecimal(input) ? parseDecimal(input.value) : parseWholeNumber(input.value);
      if (!this.markValidity(key, input, number)) return;
      value = number;
    }
    this.settings[key] = value;
    this.normaliseSettings();
    this.showSetting(key);
    if (input.type === "range") this.sendSettingsSoon();
    else this.sendSettings();
  };

  // Older or hand-edited settings may hold a flag as a number or a boolean, or
  // a number as text. What goes back is written the one way the plug-in
  // expects; a value outside its range is left as it is, not silently changed.
  Inspector.prototype.normaliseSettings = function () {
    for (var key in this.fields) {
      var input = this.fields[key][0];
      if (input.type === "checkbox") {
        var on = readFlag(input, this.settings[key]);
        this.settings[key] = input.getAttribute("data-format") === "bool" ? on : on ? "1" : "0";
        continue;
      }
      var number = readNumber(input, this.settings[key]);
      if (number !== null && inRange(input, number)) this.settings[key] = number;
    }
  };

  // Marks a number input valid or not and shows why; returns whether valid.
  Inspector.prototype.markValidity = function (key, input, number) {
    var valid = number !== null && inRange(input, number);
    input.classList.toggle("invalid", !valid);
    input.setAttribute("aria-invalid", valid ? "false" : "true");
    var error = this.doc.querySelector('[data-error-for="' + key + '"]');
    if (error && (input.type !== "range" || !valid)) {
      var limits = { min: input.getAttribute("min"), max: input.getAttribute("max") };
      var sentence = isDecimal(input) ? "numberRange" : "wholeNumberRange";
      error.textContent = valid ? "" : this.texts.get(sentence, limits);
      error.classList.toggle("shown", !valid);
    }
    return valid;
  };

  // A link state is known when the English table names it ("state.<id>").
  Inspector.prototype.showState = function (id, command) {
    var known = typeof id === "string" && id !== "waiting" && this.texts.has("state." + id);
    this.stateId = known ? id : null;
    this.stateCommand = known && id === "sandboxed" && typeof command === "string" ? command : "";
    var name = known ? id : "waiting";
    var badge = this.doc.getElementById("state");
    var advice = this.doc.getElementById("advice");
    if (badge) {
      badge.textContent = this.texts.get("state." + name);
      badge.setAttribute("data-state", known ? id : "");
    }
    if (advice) advice.textContent = this.texts.get("advice." + name);
    this.showCommand(this.stateCommand);
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

  // The host's colours, when it passes them, decide between the dark and the
  // light look (OpenDeck can run light); without them the system's choice does.
  function applyTheme(doc, info) {
    var colors = (info && info.colors) || {};
    var background = parseColor(colors.buttonPressedBackgroundColor);
    if (background) doc.documentElement.setAttribute("data-theme", luminance(background) > 0.5 ? "light" : "dark");
    var highlight = parseColor(colors.highlightColor);
    if (highlight) doc.documentElement.style.setProperty("--focus", "#" + colors.highlightColor.slice(1, 7));
  }

  // "#RRGGBB" or "#RRGGBBAA" as [r, g, b] from 0 to 1, or null.
  function parseColor(text) {
    if (typeof text !== "string" || !/^#[0-9a-fA-F]{6}([0-9a-fA-F]{2})?$/.test(text)) return null;
    return [1, 3, 5].map(function (at) {
      return parseInt(text.slice(at, at + 2), 16) / 255;
    });
  }

  function luminance(rgb) {
    return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
  }

  function isDecimal(input) {
    return input.getAttribute("data-format") === "decimal";
  }

  function readNumber(input, value) {
    return isDecimal(input) ? settingToDecimal(value) : settingToInt(value);
  }

  // A check box's stored flag, or its default when the value says nothing.
  function readFlag(input, value) {
    var flag = settingToFlag(value);
    return flag === null ? settingToFlag(defaultOf(input)) : flag;
  }

  function inRange(input, number) {
    return number >= parseFloat(input.getAttribute("min")) && number <= parseFloat(input.getAttribute("max"));
  }

  function defaultOf(input) {
    var text = input.getAttribute("data-default");
    if (input.type === "checkbox") {
      if (input.getAttribute("data-format") === "bool") return text === "true";
      return text === "0" ? "0" : "1";
    }
    return isDecimal(input) ? parseFloat(text) : parseInt(text, 10);
  }

  function forEach(list, visit) {
    for (var i = 0; i < list.length; i++) visit(list[i]);
  }

  function parseJson(text) {
    try {
      return JSON.parse(text);
    } catch (e) {
      return null;
    }
  }

  insertBlocks(document);
  var inspector = new Inspector(document);
  inspector.useLanguage("en"); // until the host names its own

  window.connectElgatoStreamDeckSocket = function (inPort, inUUID, inRegisterEvent, inInfo, inActionInfo) {
    inspector.connect(inPort, inUUID, inRegisterEvent, inInfo, inActionInfo);
  };
})();
