/*
 * The host's own keys of deck-sim's page whose steps are the plug-in's
 * actions: the Stream Deck application's Multi Action (with its state picker
 * for a two-state step) and, under --host opendeck, OpenDeck's multi and
 * toggle actions. Draws them on the device, sends their presses, and lists
 * their steps in a panel where steps are added, removed, given the state they
 * bring about, and their settings pages opened. Loaded before deck.js, which
 * calls DeckComposites.
 */
var DeckComposites = (function () {
  "use strict";

  var send = function () {};
  var views = [];
  var keys = []; // composite index -> key button
  var actions = []; // what may become a step: {action, name}
  var panel = null;

  function keyFace(view) {
    var button = document.createElement("button");
    button.className = "host-key"; // not a plug-in key: no ".key"
    button.dataset.composite = view.index;
    var glyph = document.createElement("span");
    glyph.className = "composite-glyph";
    glyph.textContent = view.kind === "toggle" ? "⇄" : "▤";
    var title = document.createElement("span");
    title.className = "title";
    button.append(glyph, title);
    button.addEventListener("pointerdown", function (event) {
      if (event.button !== 0) return;
      button.classList.add("pressed");
      send({ type: "compositePress", composite: view.index });
    });
    ["pointerup", "pointerleave", "pointercancel"].forEach(function (type) {
      button.addEventListener(type, function () {
        button.classList.remove("pressed");
      });
    });
    button.addEventListener("keydown", function (event) {
      if ((event.key === " " || event.key === "Enter") && !event.repeat) {
        event.preventDefault();
        send({ type: "compositePress", composite: view.index });
      }
    });
    return button;
  }

  // The device's slot of a composite key.
  function slot(view) {
    var element = document.createElement("div");
    element.className = "slot";
    element.dataset.composite = view.index;
    var label = document.createElement("div");
    label.className = "key-name";
    keys[view.index] = keyFace(view);
    var tools = document.createElement("div");
    tools.className = "key-tools"; // the row where a plug-in key has its controls
    element.append(keys[view.index], tools, label);
    return element;
  }

  function stepRow(view, step, index) {
    var row = document.createElement("li");
    row.className = "step";
    row.dataset.step = index;
    row.dataset.action = step.action;
    var name = document.createElement("span");
    name.className = "step-name";
    name.textContent = step.name;
    row.appendChild(name);
    if (step.desiredState !== null) {
      var picker = document.createElement("select");
      picker.className = "step-state";
      picker.setAttribute("aria-label", "State this step brings about");
      step.states.forEach(function (stateName, state) {
        var option = document.createElement("option");
        option.value = state;
        option.textContent = stateName;
        picker.appendChild(option);
      });
      picker.value = String(step.desiredState);
      picker.addEventListener("change", function () {
        send({ type: "compositePick", composite: view.index, step: index, state: Number(picker.value) });
      });
      row.appendChild(picker);
    }
    if (step.states.length > 1) {
      var now = document.createElement("span");
      now.className = "step-now";
      now.textContent = DeckTexts.get("multi.now", { state: step.states[step.state] });
      row.appendChild(now);
    }
    if (view.kind === "toggle" && view.next === index) row.classList.add("next");
    var gear = document.createElement("button");
    gear.className = "step-gear";
    gear.textContent = "⚙";
    gear.title = "Settings of this step";
    gear.hidden = !step.hasInspector;
    gear.addEventListener("click", function () {
      send({ type: "inspect", composite: view.index, step: index });
    });
    var remove = document.createElement("button");
    remove.className = "step-remove";
    remove.textContent = "✕";
    remove.title = "Remove this step";
    remove.addEventListener("click", function () {
      send({ type: "compositeRemove", composite: view.index, step: index });
    });
    row.append(gear, remove);
    return row;
  }

  function section(view) {
    var box = document.createElement("section");
    box.className = "composite";
    box.dataset.composite = view.index;
    var heading = document.createElement("h3");
    var list = document.createElement("ol");
    list.className = "steps";
    var adder = document.createElement("div");
    adder.className = "step-adder";
    var choice = document.createElement("select");
    choice.setAttribute("aria-label", "Action to add");
    actions.forEach(function (entry) {
      var option = document.createElement("option");
      option.value = entry.action;
      option.textContent = entry.name;
      choice.appendChild(option);
    });
    var add = document.createElement("button");
    add.className = "step-add";
    add.addEventListener("click", function () {
      send({ type: "compositeAdd", composite: view.index, action: choice.value });
    });
    adder.append(choice, add);
    box.append(heading, list, adder);
    return box;
  }

  function kindName(view) {
    if (view.kind === "toggle") return DeckTexts.get("multi.toggleKind");
    if (!view.picksStates) return DeckTexts.get("multi.pressKind");
    return DeckTexts.get("multi.statesKind");
  }

  function update(view) {
    views[view.index] = view;
    var button = keys[view.index];
    if (button) {
      // A toggle action's face names the child the next press runs.
      var next = view.kind === "toggle" && view.steps.length ? DeckTexts.get("multi.next", { name: view.steps[view.next].name }) : "";
      button.querySelector(".title").textContent = view.kind === "toggle" ? next : view.name;
      button.setAttribute("aria-label", view.name);
      button.closest(".slot").querySelector(".key-name").textContent = view.name;
    }
    var box = panel && panel.querySelector('.composite[data-composite="' + view.index + '"]');
    if (!box) return;
    box.querySelector("h3").textContent = view.name + " · " + kindName(view);
    box.querySelector(".step-add").textContent = DeckTexts.get(view.kind === "toggle" ? "multi.addChild" : "multi.addStep");
    var list = box.querySelector(".steps");
    list.textContent = "";
    view.steps.forEach(function (step, index) {
      list.appendChild(stepRow(view, step, index));
    });
    if (!view.steps.length) {
      var empty = document.createElement("li");
      empty.className = "step-empty";
      empty.textContent = DeckTexts.get("multi.empty");
      list.appendChild(empty);
    }
  }

  return {
    // |into| is the panel that lists the steps; |stepActions| what may be a step.
    build: function (into, composites, stepActions, sendMessage) {
      send = sendMessage;
      panel = into;
      actions = stepActions;
      views = [];
      keys = [];
      var boxes = into.querySelector(".composites");
      boxes.textContent = "";
      into.hidden = !composites.length;
      composites.forEach(function (view) {
        boxes.appendChild(section(view));
      });
    },
    slot: slot,
    update: update,
    // Draws every composite again, in the language the page now shows.
    retell: function () {
      views.forEach(function (view) {
        if (view) update(view);
      });
    },
    // The step whose settings page is open is marked; null for none.
    select: function (composite, step) {
      if (!panel) return;
      panel.querySelectorAll(".step").forEach(function (row) {
        var box = row.closest(".composite");
        row.classList.toggle(
          "selected", Number(box.dataset.composite) === composite && Number(row.dataset.step) === step);
      });
    },
    flash: function (composite, kind) {
      var button = keys[composite];
      if (!button) return;
      button.classList.add("flash-" + kind);
      setTimeout(function () {
        button.classList.remove("flash-" + kind);
      }, 1200);
    },
  };
})();
