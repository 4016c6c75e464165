// Group actions on the rack: a press or a level step sent once to every unit the filter shows,
// after the person has confirmed how many units that is. Loaded before app.js, whose calls,
// rack and unit states it uses once the page has started.
"use strict";

// The rack's units as the filter leaves them, in the order shown.
function shownUnits() {
  return rack.order.filter((id) => !rack.rows.get(id).hidden);
}

const unitName = (id) => (latest.get(id) && latest.get(id).name) || id;

// The filter's text as the gateway's label selector, when it is nothing but label terms.
function labelSelector() {
  const terms = document.getElementById("rack-filter").value.trim().split(/[\s,]+/).filter(Boolean);
  if (!terms.length || !terms.every((term) => /^[^=!]+!?=[^=]+$/.test(term))) return null;
  return terms.join(",");
}

// Whether the gateway's selector picks `text`'s units: its terms are exact, and `name` is the
// unit's name, where the page's filter ignores case.
function gatewayPicks(text, id) {
  const unit = latest.get(id);
  return text.split(",").every((term) => {
    const [, key, not, value] = /^([^=!]+)(!?)=(.*)$/.exec(term);
    const held = key === "name" ? unit.name : (unit.labels || {})[key];
    const same = held !== undefined && held !== null && String(held) === value;
    return same === (not === "");
  });
}

// How a body's "select" names `ids`: "all", the filter's label terms when the gateway picks
// the same units by them, or the list.
function selectorOf(ids) {
  if (ids.length === latest.size) return "all";
  const text = labelSelector();
  const wanted = new Set(ids);
  if (text && [...latest.keys()].every((id) => gatewayPicks(text, id) === wanted.has(id))) return text;
  return ids;
}

// Asks, in the page's dialog, whether to go on; with `named`, also for a name. Resolves to
// null when cancelled, or to the name given ("" when none is asked).
function ask(text, okLabel, named = false) {
  const dialog = document.getElementById("ask");
  const name = document.getElementById("ask-name");
  document.getElementById("ask-text").textContent = text;
  document.getElementById("ask-ok").textContent = okLabel;
  document.getElementById("ask-name-row").hidden = !named;
  name.required = named;
  name.value = "";
  dialog.returnValue = "";
  dialog.showModal();
  return new Promise((resolve) => {
    const answered = () => resolve(dialog.returnValue === "ok" ? name.value.trim() : null);
    dialog.addEventListener("close", answered, { once: true });
  });
}

const countText = (n) => n + (n === 1 ? " unit" : " units");

async function postJson(path, body) {
  const response = await call(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  return { response, reply: await replyOf(response) };
}

// ---- Group actions ----

// How the gateway counted each unit's outcome, as the person reads it.
const GROUP_OUTCOMES = {
  done: "done", failed: "refused", unavailable: "down", timed_out: "timed out", skipped: "skipped",
};

function groupMessage(text) {
  document.getElementById("group-message").textContent = text;
}

function showGroupOutcome(label, entries) {
  const counts = new Map();
  const list = document.getElementById("group-outcome");
  list.replaceChildren(...entries.map((entry) => {
    const word = GROUP_OUTCOMES[entry.outcome] || entry.outcome;
    counts.set(word, (counts.get(word) || 0) + 1);
    const item = document.createElement("li");
    item.dataset.unit = entry.unit;
    item.dataset.outcome = word;
    item.textContent = (word === "done" ? "✓ " : "✗ ") + unitName(entry.unit) +
      (word === "done" ? "" : " " + word + (entry.error ? ": " + entry.error : ""));
    return item;
  }));
  groupMessage(label + " on " + countText(entries.length) + ": " +
    [...counts].map(([word, n]) => n + " " + word).join(", ") + ".");
}

async function groupAct(label, path, body) {
  const ids = shownUnits();
  if (!ids.length) return groupMessage("The filter shows no unit.");
  if ((await ask(label + " on the " + countText(ids.length) + " shown?", label)) === null) return;
  document.getElementById("group-outcome").replaceChildren();
  groupMessage(label + " on " + countText(ids.length) + "…");
  try {
    const { response, reply } = await postJson(path, { ...body, select: selectorOf(ids), confirm: ids.length });
    if (!response.ok) {
      return groupMessage(label + " refused: " + (reply.error || "HTTP " + response.status));
    }
    showGroupOutcome(label, reply.units || []);
  } catch {
    groupMessage(label + ": the gateway did not answer.");
  }
}

// The controls take the unit's tables: the buttons as the cards group them, and the levels.
function groupActionsStart() {
  const buttons = document.getElementById("group-button");
  for (const [kind, groupName] of GROUP_NAMES) {
    const group = document.createElement("optgroup");
    group.label = groupName;
    group.append(...groupButtons(kind).map(({ name, label }) => new Option(label, name)));
    buttons.append(group);
  }
  const levels = document.getElementById("group-level");
  levels.append(...meta.levels.map((level) => new Option(level.label, level.name)));
  document.getElementById("group-press").addEventListener("click", () => {
    const chosen = buttons.selectedOptions[0];
    groupAct(chosen.text, "/api/groups/press/" + encodeURIComponent(chosen.value), {});
  });
  for (const step of document.querySelectorAll("#group-actions [data-step]")) {
    step.addEventListener("click", () => {
      const level = levels.selectedOptions[0];
      const path = "/api/groups/level/" + encodeURIComponent(level.value);
      groupAct(level.text + " " + step.dataset.step, path, { step: step.dataset.step });
    });
  }
}
