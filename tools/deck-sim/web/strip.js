/*
 * The Stream Deck + part of deck-sim's page: the touch strip, drawn from each
 * dial's layout and the feedback the plug-in sent (merged by the simulator),
 * and the dials below it. Wheel or drag turns a dial (one wheel notch is one
 * tick, up is clockwise), a click pushes it, a wheel turn while holding it
 * down is a pressed turn; a tap on the strip touches it (held half a second:
 * a long touch). The ⚙ by a dial opens its action's settings page. Loaded
 * before deck.js, which calls DeckStrip.
 */
var DeckStrip = (function () {
  "use strict";

  var WIDTH = 200; // one dial's part of the strip
  var HEIGHT = 100;
  var LONG_TOUCH_MS = 500;
  var DRAG_PX_PER_TICK = 16;
  var NOTCH_PX = 40; // a wheel event this long is one notch (Chromium: 100, Firefox: about 50)
  var TOUCHPAD_PX_PER_TICK = 100;

  // The built-in layouts: items with their places and defaults.
  var TITLE = { key: "title", type: "text", rect: [8, 6, 184, 24], font: { size: 15, weight: 600 } };
  var ICON = { key: "icon", type: "pixmap", rect: [16, 36, 48, 48] };
  var VALUE = { key: "value", type: "text", rect: [76, 38, 108, 30], alignment: "right", font: { size: 20, weight: 600 } };
  var BUILT_IN = {
    $X1: [TITLE, { key: "icon", type: "pixmap", rect: [76, 36, 48, 48] }],
    $A0: [TITLE, { key: "full-canvas", type: "pixmap", rect: [0, 30, 200, 70] }],
    $A1: [TITLE, ICON, VALUE],
    $B1: [TITLE, ICON, VALUE, { key: "indicator", type: "bar", rect: [76, 74, 108, 16], value: 0 }],
    $B2: [TITLE, ICON, VALUE, { key: "indicator", type: "gbar", rect: [76, 72, 108, 20], value: 0 }],
    $C1: [TITLE,
      { key: "icon1", type: "pixmap", rect: [16, 34, 28, 28] },
      { key: "indicator1", type: "bar", rect: [54, 42, 130, 12], value: 0 },
      { key: "icon2", type: "pixmap", rect: [16, 66, 28, 28] },
      { key: "indicator2", type: "bar", rect: [54, 74, 130, 12], value: 0 }],
  };

  var send = function () {};
  var log = function () {};
  var views = [];
  var segments = [];
  var cells = [];
  var images = {}; // source -> Image
  var layoutFiles = {}; // path -> items, or null while loading or unusable

  // ---- layouts

  function usableItem(item) {
    return item && typeof item.key === "string" && ["text", "pixmap", "bar", "gbar"].indexOf(item.type) >= 0 &&
      Array.isArray(item.rect) && item.rect.length === 4 && item.rect.every(function (n) { return typeof n === "number"; });
  }

  function layoutItems(layout) {
    if (BUILT_IN[layout]) return BUILT_IN[layout];
    if (!(layout in layoutFiles)) {
      layoutFiles[layout] = null;
      fetch("/plugin/" + layout)
        .then(function (response) { return response.ok ? response.json() : Promise.reject(response.status); })
        .then(function (file) {
          var items = file && Array.isArray(file.items) ? file.items.filter(usableItem) : [];
          if (!items.length) log("host", "the layout file " + layout + " has no usable items");
          layoutFiles[layout] = items;
          redrawAll();
        })
        .catch(function () {
          log("host", "cannot read the layout file " + layout);
          layoutFiles[layout] = [];
        });
    }
    return layoutFiles[layout] || [];
  }

  // ---- drawing

  function picture(source, redraw) {
    if (!source) return null;
    if (!/^data:/.test(source) && source.indexOf("/plugin/") !== 0) {
      source = "/plugin/" + source + (/\.[a-z]+$/i.test(source) ? "" : ".png");
    }
    var image = images[source];
    if (!image) {
      image = images[source] = new Image();
      image.onload = redraw;
      image.src = source;
    }
    return image.complete && image.naturalWidth ? image : null;
  }

  // A colour, or a gradient "offset:colour,…" across |width| from |x|.
  function paint(context, colour, x, width, fallback) {
    colour = typeof colour === "string" && colour ? colour : fallback;
    if (colour.indexOf(":") < 0) return colour;
    var gradient = context.createLinearGradient(x, 0, x + width, 0);
    colour.split(",").forEach(function (stop) {
      var parts = stop.split(":");
      var offset = Number(parts[0]);
      if (parts.length === 2 && offset >= 0 && offset <= 1) gradient.addColorStop(offset, parts[1].trim());
    });
    return gradient;
  }

  function share(item) {
    var range = item.range || {};
    var min = typeof range.min === "number" ? range.min : 0;
    var max = typeof range.max === "number" ? range.max : 100;
    var value = Number(item.value);
    if (!isFinite(value) || max <= min) return 0;
    return Math.min(1, Math.max(0, (value - min) / (max - min)));
  }

  function drawText(context, item, r) {
    var font = item.font || {};
    var size = typeof font.size === "number" ? font.size : 14;
    context.font = (font.weight || 400) + " " + size + "px 'DejaVu Sans', sans-serif";
    context.fillStyle = paint(context, item.color, r[0], r[2], "white");
    context.textBaseline = "middle";
    var alignment = item.alignment || "center";
    context.textAlign = alignment;
    var x = alignment === "left" ? r[0] : alignment === "right" ? r[0] + r[2] : r[0] + r[2] / 2;
    context.save();
    context.beginPath();
    context.rect(r[0], r[1], r[2], r[3]);
    context.clip();
    context.fillText(String(item.value === undefined || item.value === null ? "" : item.value), x, r[1] + r[3] / 2);
    context.restore();
  }

  function drawBar(context, item, r) {
    var border = typeof item.border_w === "number" ? item.border_w : 2;
    var barHeight = item.type === "gbar" ? Math.min(r[3], typeof item.bar_h === "number" ? item.bar_h : 10) : r[3];
    context.fillStyle = paint(context, item.bar_bg_c, r[0], r[2], "#444");
    context.fillRect(r[0], r[1], r[2], barHeight);
    var filled = share(item) * r[2];
    if (item.type === "bar") {
      context.fillStyle = paint(context, item.bar_fill_c, r[0], r[2], "white");
      context.fillRect(r[0], r[1], filled, barHeight);
    } else {
      // The indicator: a triangle beneath the bar at the value.
      context.fillStyle = paint(context, item.bar_fill_c, r[0], r[2], "white");
      context.beginPath();
      context.moveTo(r[0] + filled, r[1] + barHeight);
      context.lineTo(r[0] + filled - 5, r[1] + r[3]);
      context.lineTo(r[0] + filled + 5, r[1] + r[3]);
      context.fill();
    }
    if (border > 0) {
      context.lineWidth = border;
      context.strokeStyle = paint(context, item.bar_border_c, r[0], r[2], "white");
      context.strokeRect(r[0] + border / 2, r[1] + border / 2, r[2] - border, barHeight - border);
    }
  }

  // The item as shown: the layout's, then what the host fills in itself,
  // then the plug-in's feedback.
  function shownItem(view, item) {
    var shown = Object.assign({}, item);
    if (item.key === "title") shown.value = view.title || view.name;
    if (item.key === "icon") shown.value = view.image || view.defaultImage;
    var feedback = view.feedback && view.feedback[item.key];
    if (feedback && typeof feedback === "object") Object.assign(shown, feedback);
    return shown;
  }

  function draw(index) {
    var canvas = segments[index];
    var view = views[index];
    if (!canvas || !view) return;
    var context = canvas.getContext("2d");
    context.globalAlpha = 1;
    context.fillStyle = "#000";
    context.fillRect(0, 0, WIDTH, HEIGHT);
    var drawn = {};
    if (!view.occupied) {
      canvas.dataset.drawn = "{}";
      return;
    }
    var items = layoutItems(view.layout).map(function (item) { return shownItem(view, item); });
    items.sort(function (a, b) { return (a.zOrder || 0) - (b.zOrder || 0); });
    items.forEach(function (item) {
      if (item.enabled === false) return;
      var r = item.rect;
      context.globalAlpha = typeof item.opacity === "number" ? Math.min(1, Math.max(0, item.opacity)) : 1;
      if (typeof item.background === "string" && item.background) {
        context.fillStyle = paint(context, item.background, r[0], r[2], "black");
        context.fillRect(r[0], r[1], r[2], r[3]);
      }
      if (item.type === "text") drawText(context, item, r);
      else if (item.type === "pixmap") {
        var image = typeof item.value === "string" ? picture(item.value, function () { draw(index); }) : null;
        if (image) context.drawImage(image, r[0], r[1], r[2], r[3]);
      } else drawBar(context, item, r);
      drawn[item.key] = item.type === "pixmap" ? Boolean(item.value) : item.value;
    });
    context.globalAlpha = 1;
    canvas.dataset.drawn = JSON.stringify(drawn);
  }

  function redrawAll() {
    views.forEach(function (view, index) { draw(index); });
  }

  // ---- the dial's controls

  var TRIGGER_NAMES = { rotate: "Turn", push: "Push", touch: "Touch", longTouch: "Long touch" };

  function describeTriggers(view) {
    var triggers = (view && view.triggers) || {};
    return Object.keys(TRIGGER_NAMES).filter(function (key) { return triggers[key]; }).map(function (key) {
      return TRIGGER_NAMES[key] + ": " + triggers[key];
    });
  }

  // Ticks of one wheel event, clockwise positive (wheel up): one per notch;
  // a touchpad's small steps add up to a tick per 100 px.
  function wheelTicks(event, wheel) {
    if (event.deltaMode !== 0 || Math.abs(event.deltaY) >= NOTCH_PX) {
      wheel.travel = 0;
      return event.deltaY < 0 ? 1 : event.deltaY > 0 ? -1 : 0;
    }
    wheel.travel -= event.deltaY;
    var ticks = Math.trunc(wheel.travel / TOUCHPAD_PX_PER_TICK);
    wheel.travel -= ticks * TOUCHPAD_PX_PER_TICK;
    return ticks;
  }

  function bindKnob(knob, index) {
    var wheel = { travel: 0 };
    var held = null; // {x, y, travel, downSent, dragged}
    function rotate(ticks, pressed) {
      if (ticks) send({ type: "dialRotate", dial: index, ticks: ticks, pressed: pressed });
    }
    knob.addEventListener("wheel", function (event) {
      event.preventDefault();
      var ticks = wheelTicks(event, wheel);
      if (!ticks) return;
      if (held && !held.downSent) {
        held.downSent = true;
        send({ type: "dialDown", dial: index });
      }
      rotate(ticks, Boolean(held));
    }, { passive: false });
    knob.addEventListener("pointerdown", function (event) {
      if (event.button !== 0) return;
      knob.setPointerCapture(event.pointerId);
      held = { x: event.clientX, y: event.clientY, travel: 0, downSent: false, dragged: false };
      knob.classList.add("pressed");
    });
    knob.addEventListener("pointermove", function (event) {
      if (!held) return;
      // Right or up turns clockwise.
      held.travel += (event.clientX - held.x) - (event.clientY - held.y);
      held.x = event.clientX;
      held.y = event.clientY;
      var ticks = Math.trunc(held.travel / DRAG_PX_PER_TICK);
      if (!ticks) return;
      held.travel -= ticks * DRAG_PX_PER_TICK;
      held.dragged = true;
      rotate(ticks, held.downSent);
    });
    function release() {
      if (!held) return;
      if (!held.dragged && !held.downSent) send({ type: "dialDown", dial: index });
      if (!held.dragged || held.downSent) send({ type: "dialUp", dial: index });
      held = null;
      knob.classList.remove("pressed");
    }
    knob.addEventListener("pointerup", release);
    knob.addEventListener("pointercancel", release);
    knob.addEventListener("keydown", function (event) {
      if (event.key === "ArrowUp" || event.key === "ArrowRight") rotate(1, false);
      else if (event.key === "ArrowDown" || event.key === "ArrowLeft") rotate(-1, false);
      else if ((event.key === " " || event.key === "Enter") && !event.repeat) send({ type: "dialDown", dial: index });
      else return;
      event.preventDefault();
    });
    knob.addEventListener("keyup", function (event) {
      if (event.key === " " || event.key === "Enter") send({ type: "dialUp", dial: index });
    });
  }

  function bindStrip(canvas, index) {
    var touched = null;
    var wheel = { travel: 0 };
    canvas.addEventListener("pointerdown", function (event) {
      if (event.button !== 0) return;
      touched = {
        at: Date.now(),
        x: Math.min(WIDTH - 1, Math.max(0, Math.round((event.offsetX * WIDTH) / canvas.clientWidth))),
        y: Math.min(HEIGHT - 1, Math.max(0, Math.round((event.offsetY * HEIGHT) / canvas.clientHeight))),
      };
    });
    canvas.addEventListener("pointerup", function () {
      if (!touched) return;
      var hold = Date.now() - touched.at >= LONG_TOUCH_MS;
      send({ type: "touchTap", dial: index, x: touched.x, y: touched.y, hold: hold });
      touched = null;
    });
    canvas.addEventListener("pointerleave", function () { touched = null; });
    canvas.addEventListener("wheel", function (event) {
      event.preventDefault();
      var ticks = wheelTicks(event, wheel);
      if (ticks) send({ type: "dialRotate", dial: index, ticks: ticks, pressed: false });
    }, { passive: false });
  }

  // Opens the settings page of the action on the dial, as the keys' ⚙ does.
  function buildGear(index) {
    var gear = document.createElement("span");
    gear.className = "gear";
    gear.setAttribute("role", "button");
    gear.setAttribute("aria-label", "Settings of dial " + (index + 1));
    gear.tabIndex = 0;
    gear.dataset.inspectDial = index;
    gear.textContent = "⚙";
    gear.hidden = true;
    function open(event) {
      event.stopPropagation();
      send({ type: "inspect", dial: index });
    }
    gear.addEventListener("click", open);
    gear.addEventListener("keydown", function (event) {
      if (event.key === " " || event.key === "Enter") {
        event.preventDefault();
        open(event);
      }
    });
    return gear;
  }

  function buildCell(index, actions) {
    var cell = document.createElement("div");
    cell.className = "dial-cell";
    cell.dataset.dial = index;
    var knob = document.createElement("div");
    knob.className = "knob";
    knob.tabIndex = 0;
    knob.setAttribute("role", "slider");
    knob.setAttribute("aria-label", "Dial " + (index + 1));
    bindKnob(knob, index);
    var choice = document.createElement("select");
    choice.className = "dial-action";
    choice.setAttribute("aria-label", "Action on dial " + (index + 1));
    choice.add(new Option("— empty —", ""));
    actions.forEach(function (action) { choice.add(new Option(action.name, action.action)); });
    choice.addEventListener("change", function () {
      send({ type: "placeDial", dial: index, action: choice.value || null });
    });
    var triggers = document.createElement("ul");
    triggers.className = "triggers";
    cell.append(knob, buildGear(index), choice, triggers);
    return cell;
  }

  function showCell(index) {
    var cell = cells[index];
    var view = views[index];
    if (!cell || !view) return;
    cell.querySelector(".dial-action").value = view.occupied ? view.action : "";
    cell.dataset.action = view.occupied ? view.action : "";
    cell.querySelector(".gear").hidden = !(view.occupied && view.hasInspector);
    var lines = describeTriggers(view);
    var list = cell.querySelector(".triggers");
    list.textContent = "";
    lines.forEach(function (line) {
      var item = document.createElement("li");
      item.textContent = line;
      list.appendChild(item);
    });
    var tip = view.occupied ? [view.name].concat(lines).join("\n") : "Empty: choose an action below";
    cell.querySelector(".knob").title = tip;
    segments[index].title = tip;
  }

  return {
    // Builds the strip and the dials; |dials| are the simulator's views.
    build: function (strip, row, dials, actions, sendMessage, logLine) {
      send = sendMessage;
      log = logLine;
      strip.textContent = "";
      row.textContent = "";
      views = dials.slice();
      segments = [];
      cells = [];
      strip.hidden = row.hidden = dials.length === 0;
      dials.forEach(function (view, index) {
        var canvas = document.createElement("canvas");
        canvas.className = "segment";
        canvas.width = WIDTH;
        canvas.height = HEIGHT;
        canvas.dataset.dial = index;
        bindStrip(canvas, index);
        strip.appendChild(canvas);
        segments.push(canvas);
        var cell = buildCell(index, actions);
        row.appendChild(cell);
        cells.push(cell);
        draw(index);
        showCell(index);
      });
    },
    update: function (view) {
      views[view.index] = view;
      draw(view.index);
      showCell(view.index);
    },
    flash: function (index, kind) {
      var canvas = segments[index];
      if (!canvas) return;
      canvas.classList.add("flash-" + kind);
      setTimeout(function () { canvas.classList.remove("flash-" + kind); }, 1200);
    },
    // Marks the dial whose settings are open; null: none.
    select: function (index) {
      cells.forEach(function (cell, i) { cell.classList.toggle("selected", i === index); });
    },
    view: function (index) {
      return views[index];
    },
  };
})();
