/*
 * The page of deck-sim. It draws the virtual Stream Deck from what the
 * simulator pushes over the page's WebSocket (key images and titles as the
 * plug-in sets them, the link state, the controller's traffic), sends key
 * presses back, and hosts the property inspector of one key or dial in an iframe,
 * which it connects to the simulator's host endpoint the way the Stream Deck
 * application does: by calling the page's connectElgatoStreamDeckSocket().
 */
(function () {
  "use strict";

  var socket = new WebSocket("ws://" + location.host + "/ws");
  var grid = document.getElementById("grid");
  var slots = []; // key index -> slot element
  var keyViews = []; // key index -> the latest view of the key
  var iconsFor = null; // the key whose own icons the icons panel shows
  var device = { columns: 8, rows: 4 };
  var controller = {};
  var pluginConnected = false;
  var inspectorToken = 0;
  var inspected = null; // the "inspect" request of the settings page shown, to open it again
  var ended = false;
  var hostName = "Stream Deck";
  var actionNames = {}; // action UUID -> its name in the host's language, from the plug-in's texts
  var namesToken = 0;

  function send(message) {
    if (socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  // ---- the keys

  function buildGrid(keys, composites) {
    grid.textContent = "";
    grid.style.gridTemplateColumns = "repeat(" + device.columns + ", var(--key))";
    slots = [];
    var byPosition = {};
    keys.forEach(function (key) {
      byPosition[key.row * device.columns + key.column] = { key: key };
    });
    composites.forEach(function (composite) {
      byPosition[composite.row * device.columns + composite.column] = { composite: composite };
    });
    for (var position = 0; position < device.columns * device.rows; position++) {
      var placed = byPosition[position];
      if (!placed) grid.appendChild(buildEmptySlot());
      else if (placed.key) grid.appendChild(buildKey(placed.key));
      else grid.appendChild(DeckComposites.slot(placed.composite));
    }
  }

  function buildEmptySlot() {
    var slot = document.createElement("div");
    slot.className = "slot";
    var face = document.createElement("div");
    face.className = "empty-key";
    var name = document.createElement("div");
    name.className = "key-name";
    slot.append(face, emptyTools(), name);
    return slot;
  }

  // The row under a key where its own controls sit, empty where it has none.
  function emptyTools() {
    var tools = document.createElement("div");
    tools.className = "key-tools";
    return tools;
  }

  function buildKey(key) {
    var slot = document.createElement("div");
    slot.className = "slot";
    slot.dataset.index = key.index;

    var button = document.createElement("button");
    button.className = "key";
    button.dataset.index = key.index;
    button.dataset.action = key.action;
    var image = document.createElement("img");
    image.alt = "";
    image.addEventListener("error", function () {
      image.removeAttribute("src"); // a missing picture shows a plain key, not a broken image
    });
    var title = document.createElement("span");
    title.className = "title";
    button.append(image, title);
    bindPresses(button, key.index);

    // The key's own controls sit under it, so that they never cover what the
    // plug-in draws (a status badge sits in a corner of the picture).
    var tools = emptyTools();
    var icons = toolButton("✎", "Set my own icon", function () {
      showIcons(key.index);
    });
    icons.dataset.icons = key.index;
    icons.className = "icon-pick";
    var gear = toolButton("⚙", "Settings", function () {
      send({ type: "inspect", index: key.index });
    });
    gear.dataset.inspect = key.index;
    gear.className = "gear";
    gear.hidden = !key.hasInspector;
    tools.append(icons, gear);

    var name = document.createElement("div");
    name.className = "key-name";
    slot.append(button, tools, name);
    slots[key.index] = slot;
    updateKey(key);
    return slot;
  }

  function toolButton(glyph, label, onClick) {
    var tool = document.createElement("button");
    tool.type = "button";
    tool.textContent = glyph;
    tool.title = label;
    tool.setAttribute("aria-label", label);
    tool.addEventListener("click", onClick);
    return tool;
  }

  function keyName(key) {
    return actionNames[key.action] || key.name;
  }

  function updateKey(key) {
    var slot = slots[key.index];
    if (!slot) return;
    keyViews[key.index] = key;
    var image = slot.querySelector("img");
    var fromPlugin = Boolean(key.image);
    var source = fromPlugin ? key.image : key.defaultImage;
    if (source) {
      if (image.getAttribute("src") !== source) image.src = source;
    } else {
      image.removeAttribute("src");
    }
    // Who chose the picture: the plug-in, the user (own icon) or the manifest.
    image.dataset.source = fromPlugin ? "plugin" : key.ownIcon ? "own" : "default";
    slot.querySelector(".key").dataset.state = key.state;
    if (iconsFor === key.index) showIcons(key.index);
    slot.querySelector(".title").textContent = key.title || "";
    slot.querySelector(".key-name").textContent = keyName(key);
    slot.querySelector(".key").setAttribute("aria-label", keyName(key));
  }

  function bindPresses(button, index) {
    var down = false;
    function press() {
      if (down) return;
      down = true;
      button.classList.add("pressed");
      send({ type: "keyDown", index: index });
    }
    function release() {
      if (!down) return;
      down = false;
      button.classList.remove("pressed");
      send({ type: "keyUp", index: index });
    }
    button.addEventListener("pointerdown", function (event) {
      if (event.button === 0) press();
    });
    button.addEventListener("pointerup", release);
    button.addEventListener("pointerleave", release);
    button.addEventListener("pointercancel", release);
    button.addEventListener("keydown", function (event) {
      if ((event.key === " " || event.key === "Enter") && !event.repeat) {
        event.preventDefault();
        press();
      }
    });
    button.addEventListener("keyup", function (event) {
      if (event.key === " " || event.key === "Enter") release();
    });
  }

  function flash(index, kind) {
    var slot = slots[index];
    if (!slot) return;
    var button = slot.querySelector(".key");
    button.classList.add("flash-" + kind);
    setTimeout(function () {
      button.classList.remove("flash-" + kind);
    }, 1200);
  }

  // ---- own icons

  function showIcons(index) {
    var key = keyViews[index];
    var panel = document.getElementById("icons-panel");
    iconsFor = key ? index : null;
    panel.hidden = !key;
    if (!key) return;
    document.getElementById("icons-name").textContent = "· " + key.name;
    var list = document.getElementById("icons-states");
    list.textContent = "";
    key.states.forEach(function (state, number) {
      list.appendChild(iconRow(key, state, number));
    });
  }

  function iconRow(key, state, number) {
    var row = document.createElement("li");
    row.dataset.state = number;
    row.classList.toggle("current", key.state === number);
    var preview = document.createElement("img");
    preview.alt = "";
    if (state.ownIcon || state.picture) preview.src = state.ownIcon || state.picture;
    var name = document.createElement("span");
    name.className = "state-name";
    name.textContent = state.name + (key.state === number ? " (shown now)" : "");
    var file = document.createElement("input");
    file.type = "file";
    file.accept = "image/*";
    file.dataset.state = number;
    file.setAttribute("aria-label", "Own icon for " + state.name);
    file.addEventListener("change", function () {
      var chosen = file.files && file.files[0];
      if (!chosen) return;
      var reader = new FileReader();
      reader.onload = function () {
        send({ type: "ownIcon", index: key.index, state: number, image: String(reader.result) });
      };
      reader.readAsDataURL(chosen);
    });
    var remove = document.createElement("button");
    remove.textContent = "Use the plug-in's";
    remove.disabled = !state.ownIcon;
    remove.addEventListener("click", function () {
      send({ type: "ownIcon", index: key.index, state: number, image: "" });
    });
    row.append(preview, name, file, remove);
    return row;
  }

  // ---- the link state

  function setLink(id, ok, text) {
    var item = document.getElementById(id);
    item.dataset.ok = ok ? "true" : "false";
    item.querySelector(".text").textContent = text;
  }

  function showLinks() {
    var t = DeckTexts.get;
    setLink("link-plugin", pluginConnected, t(pluginConnected ? "link.pluginRunning" : "link.pluginDown"));
    if (!controller.available) {
      setLink("link-controller", false, t("link.kestrelNotSimulated"));
    } else if (!controller.running) {
      setLink("link-controller", false, t("link.kestrelClosed"));
    } else {
      setLink("link-controller", controller.linked, t(controller.linked ? "link.kestrelConnected" : "link.kestrelWaiting"));
    }
    setLink("link-user", controller.signedIn, t(controller.signedIn ? "link.signedIn" : "link.signedOut"));
    showControllerButtons();
  }

  function showControllerButtons() {
    var running = Boolean(controller.available && controller.running);
    document.querySelectorAll("[data-controller]").forEach(function (button) {
      var command = button.dataset.controller;
      if (!controller.available) button.disabled = true;
      else if (command === "start") button.disabled = running;
      else if (command === "drop") button.disabled = !running || !controller.linked;
      else button.disabled = !running;
    });
    var note = !controller.available ? "note.notSimulated"
      : !controller.running ? "note.closed"
      : !controller.linked ? "note.waiting"
      : !controller.signedIn ? "note.signedOut"
      : "note.ready";
    document.getElementById("controller-note").textContent = DeckTexts.get(note);
  }

  // ---- the property inspector

  function showInspector(message) {
    var frame = document.getElementById("inspector-frame");
    var token = ++inspectorToken;
    var onDial = typeof message.dial === "number";
    var inComposite = typeof message.composite === "number";
    var open = onDial || inComposite || typeof message.index === "number";
    slots.forEach(function (slot, index) {
      if (slot) slot.classList.toggle("selected", !onDial && index === message.index);
    });
    DeckStrip.select(onDial ? message.dial : null);
    DeckComposites.select(inComposite ? message.composite : null, inComposite ? message.step : null);
    inspected = !open ? null
      : onDial ? { type: "inspect", dial: message.dial }
      : inComposite ? { type: "inspect", composite: message.composite, step: message.step }
      : { type: "inspect", index: message.index };
    var where = onDial ? " on dial " + (message.dial + 1) : inComposite ? " (step " + (message.step + 1) + ")" : "";
    var name = !open ? "" : "· " + message.name + where;
    document.getElementById("inspector-name").textContent = name;
    document.getElementById("inspector-empty").hidden = open;
    frame.hidden = !open;
    frame.onload = null;
    if (!open) {
      frame.removeAttribute("src");
      return;
    }
    frame.onload = function () {
      if (token !== inspectorToken) return;
      var page = frame.contentWindow;
      if (page && typeof page.connectElgatoStreamDeckSocket === "function") {
        page.connectElgatoStreamDeckSocket(
          String(message.port), message.uuid, message.registerEvent, message.info, message.actionInfo);
      } else {
        log("host", "the settings page of " + message.name + " has no connectElgatoStreamDeckSocket()");
      }
    };
    frame.src = message.url;
  }

  // ---- the activity list

  // The list follows the newest line unless the reader has scrolled up to an older one.
  function log(kind, text) {
    var list = document.getElementById("log");
    var following = list.scrollHeight - list.scrollTop - list.clientHeight < 24;
    var item = document.createElement("li");
    item.dataset.kind = kind;
    item.textContent = text;
    list.appendChild(item);
    while (list.children.length > 300) list.removeChild(list.firstChild);
    if (following) list.scrollTop = list.scrollHeight;
  }

  // ---- the language

  function showLanguage(code) {
    document.getElementById("language").value = code;
    DeckTexts.use(code, { host: hostName });
    showLinks();
    DeckComposites.retell();
    var token = ++namesToken;
    // The host names the actions in its language from the plug-in's own texts.
    fetch("/plugin/" + code + ".json")
      .then(function (response) {
        return response.ok ? response.json() : {};
      })
      .catch(function () {
        return {};
      })
      .then(function (texts) {
        if (token !== namesToken) return;
        actionNames = {};
        Object.keys(texts).forEach(function (uuid) {
          if (texts[uuid] && typeof texts[uuid].Name === "string") actionNames[uuid] = texts[uuid].Name;
        });
        keyViews.forEach(function (key) {
          if (key) updateKey(key);
        });
      });
  }

  function buildLanguagePicker() {
    var picker = document.getElementById("language");
    DeckTexts.languages.forEach(function (entry) {
      var option = document.createElement("option");
      option.value = entry.code;
      option.textContent = entry.name;
      picker.appendChild(option);
    });
    picker.addEventListener("change", function () {
      send({ type: "language", language: picker.value });
    });
  }

  function describeControllerMessage(message) {
    var command = message && message.payload && message.payload.command;
    if (!command) return "Kestrel received " + JSON.stringify(message);
    if (command.name === "SYS$QUERY:STATE") return DeckTexts.get("log.askedState");
    var data = command.data === null || command.data === undefined ? "" : " " + JSON.stringify(command.data);
    return DeckTexts.get("log.received", { command: command.name + data });
  }

  // ---- messages from the simulator

  var handlers = {
    snapshot: function (message) {
      hostName = message.host || hostName;
      document.title = "Kestrel – " + hostName;
      document.body.dataset.host = hostName;
      device = message.device;
      controller = message.controller || {};
      pluginConnected = message.plugin.connected;
      var composites = message.composites || [];
      DeckComposites.build(document.getElementById("composites-panel"), composites, message.stepActions || [], send);
      buildGrid(message.keys, composites);
      composites.forEach(DeckComposites.update);
      document.getElementById("device").setAttribute("aria-label", device.name);
      document.getElementById("device").dataset.model = device.model || "xl";
      document.getElementById("device-name").textContent = device.name + " · " + device.id;
      document.getElementById("dial-hint").hidden = !(message.dials || []).length;
      DeckStrip.build(document.getElementById("strip"), document.getElementById("dials"),
        message.dials || [], message.dialActions || [], send, log);
      showLanguage(message.language || "en");
    },
    language: function (message) {
      showLanguage(message.language);
      // A settings page reads the language when it opens: it opens again.
      if (inspected) send(inspected);
    },
    key: function (message) {
      updateKey(message.key);
    },
    dial: function (message) {
      DeckStrip.update(message.dial);
    },
    composite: function (message) {
      DeckComposites.update(message.composite);
    },
    plugin: function (message) {
      pluginConnected = message.connected;
      showLinks();
    },
    controller: function (message) {
      controller = message.controller;
      showLinks();
    },
    controllerMessage: function (message) {
      log("controller", describeControllerMessage(message.message));
    },
    inspector: function (message) {
      showInspector(message);
    },
    flash: function (message) {
      if ("dial" in message) DeckStrip.flash(message.dial, message.kind);
      else if ("composite" in message) DeckComposites.flash(message.composite, message.kind);
      else flash(message.index, message.kind);
    },
    log: function (message) {
      log(message.kind, DeckTexts.logLine(message, actionNames));
    },
    bye: function () {
      ended = true;
      document.getElementById("ended").hidden = false;
    },
  };

  socket.onmessage = function (event) {
    var message;
    try {
      message = JSON.parse(event.data);
    } catch (e) {
      return;
    }
    var handler = handlers[message.type];
    if (handler) handler(message);
  };
  socket.onclose = function () {
    document.getElementById("ended").hidden = false;
    if (!ended) log("host", DeckTexts.get("log.lostSimulator"));
  };

  // ---- controls

  buildLanguagePicker();
  document.querySelectorAll("[data-controller]").forEach(function (button) {
    button.addEventListener("click", function () {
      send({ type: "controller", command: button.dataset.controller });
    });
  });
  document.getElementById("quit").addEventListener("click", function () {
    send({ type: "quit" });
  });
  document.getElementById("wake").addEventListener("click", function () {
    send({ type: "wake" });
  });
  document.getElementById("restart-plugin").addEventListener("click", function () {
    send({ type: "restart" });
  });
  document.getElementById("icons-close").addEventListener("click", function () {
    showIcons(null);
  });
  window.deckSim = {
    // For tests and the scripted demo: true once the plug-in has drawn every key.
    allKeysDrawn: function () {
      return slots.length > 0 && slots.every(function (slot) {
        return slot.querySelector("img").dataset.source === "plugin";
      });
    },
  };
})();
