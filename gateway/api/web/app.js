// The gateway's page: one card per unit or, for a large rack, one compact row per unit, kept
// live from the event stream, and the firmware panel (the rack's group actions and snapshots are
// groups.js's and snapshots.js's). Plain script, no framework: the page is built into the gateway
// and fetches nothing from anywhere else.
"use strict";

// The unit's tables (buttons, levels, inputs, meter modes, lamps) come from GET /api/meta, so
// the page and the gateway never disagree; the page only says how to group the buttons.
let meta = null;
const GROUP_NAMES = [["input", "Input"], ["meter-mode", "Meter"], ["lamp", "Lamps"], ["other", "Channels and sound"]];
const CONFIRMATIONS = {
  "at-end": "stopped at the end of its range",
  nearest: "the nearest value the unit takes",
  "sent-unreported": "sent; the unit does not report it",
};
const OUTCOME_SHOWN_MS = 8000;
const RECONNECT_MS = 1000;
const LONGEST_RECONNECT_MS = 30000;

const latest = new Map(); // unit id -> its last state, in the order the gateway lists the units
const cards = new Map(); // unit id -> { card, unit, auditAsked }
const AUDIT_SHOWN = 5;
const AUDIT_EVERY_MS = 3000;
let followedJob = null; // { id, finished, units: unit id -> the furthest entry shown }

// ---- Calls to the gateway, with the token when one is set ----

const TOKEN_KEY = "vantrel-gateway-token";
let token = sessionStorage.getItem(TOKEN_KEY) || "";
let tokenAsked = null; // a promise while the token form is shown

function askToken(refused) {
  if (!tokenAsked) {
    tokenAsked = new Promise((resolve) => {
      const form = document.getElementById("token-form");
      const input = document.getElementById("token-input");
      document.getElementById("token-message").textContent = refused
        ? "The gateway refused that token. Enter it again."
        : "";
      form.hidden = false;
      input.value = "";
      input.focus();
      form.onsubmit = (event) => {
        event.preventDefault();
        token = input.value.trim();
        sessionStorage.setItem(TOKEN_KEY, token);
        form.hidden = true;
        tokenAsked = null;
        resolve();
      };
    });
  }
  return tokenAsked;
}

// fetch with the token; a 401 asks for the token and tries again with it.
async function call(path, init = {}) {
  for (;;) {
    const headers = new Headers(init.headers || {});
    const sent = token;
    if (sent) headers.set("Authorization", "Bearer " + sent);
    const response = await fetch(path, { ...init, headers, cache: "no-store" });
    if (response.status !== 401) return response;
    if (token === sent) await askToken(sent !== "");
  }
}

async function replyOf(response) {
  try {
    return await response.json();
  } catch {
    return {};
  }
}

// ---- The event stream, read with fetch so the token can go in a header ----

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Reads Server-Sent Events from a byte stream until it ends; calls onEvent(name, data).
async function readEvents(body, onEvent) {
  const reader = body.pipeThrough(new TextDecoderStream()).getReader();
  let buffer = "";
  let name = "message";
  let data = [];
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    buffer += value;
    let end;
    while ((end = buffer.indexOf("\n")) >= 0) {
      const line = buffer.slice(0, end).replace(/\r$/, "");
      buffer = buffer.slice(end + 1);
      if (line === "") {
        if (data.length) onEvent(name, data.join("\n"));
        name = "message";
        data = [];
        continue;
      }
      if (line.startsWith(":")) continue;
      const colon = line.indexOf(":");
      const field = colon < 0 ? line : line.slice(0, colon);
      const text = colon < 0 ? "" : line.slice(colon + 1).replace(/^ /, "");
      if (field === "event") name = text;
      else if (field === "data") data.push(text);
    }
  }
}

function onEvent(name, data) {
  let value;
  try {
    value = JSON.parse(data);
  } catch {
    return;
  }
  if (name === "unit") showUnit(value);
  else if (name === "job") followJob(value);
}

function showStream(text, live) {
  const state = document.getElementById("stream-state");
  state.textContent = text;
  state.dataset.live = live ? "yes" : "no";
}

// A stream refused (the gateway holds a bounded number) or lost is asked for again after a
// pause that grows while it keeps failing, so many open pages do not hammer the gateway.
async function followEvents() {
  let pause = RECONNECT_MS;
  for (;;) {
    try {
      const response = await call("/api/events", { headers: { Accept: "text/event-stream" } });
      if (!response.ok || !response.body) throw new Error("HTTP " + response.status);
      showStream("Live", true);
      pause = RECONNECT_MS;
      await readEvents(response.body, onEvent);
      showStream("The event stream ended; reconnecting…", false);
    } catch (error) {
      showStream("No event stream (" + error.message + "); trying again in " + pause / 1000 + " s…", false);
      await sleep(pause);
      pause = Math.min(pause * 2, LONGEST_RECONNECT_MS);
      continue;
    }
    await sleep(RECONNECT_MS);
  }
}

// ---- The unit's tables ----

// A meter mode other than 0 shows as DPPM, as on the panel; null while it is not known.
function meterModeOf(unit) {
  if (unit.meterMode === null || unit.meterMode === undefined) return null;
  return unit.meterMode === 0 ? 0 : 1;
}

// A group's buttons: inputs, meter modes and lamps in the order of their values, the rest as
// the gateway lists them.
function groupButtons(kind) {
  const buttons = meta.buttons.filter((button) => button.kind === kind);
  const order = { input: meta.inputs, "meter-mode": meta.meterModes, lamp: meta.lamps }[kind];
  if (!order) return buttons;
  return order.map((choice) => buttons.find((button) => button.name === choice.button)).filter(Boolean);
}

// ---- Cards ----

function ago(time) {
  const seconds = Math.max(0, Math.round((Date.now() - Date.parse(time)) / 1000));
  if (seconds < 60) return seconds + " s ago";
  if (seconds < 3600) return Math.floor(seconds / 60) + " min ago";
  if (seconds < 86400) {
    return Math.floor(seconds / 3600) + " h " + Math.floor((seconds % 3600) / 60) + " min ago";
  }
  return Math.floor(seconds / 86400) + " d ago";
}

function clockTime(time) {
  return new Date(time).toLocaleTimeString();
}

function field(card, name) {
  return card.querySelector('[data-field="' + name + '"]');
}

function makeButton(label, onClick) {
  const button = document.createElement("button");
  button.type = "button";
  button.textContent = label;
  button.addEventListener("click", onClick);
  return button;
}

function createCard(id) {
  const card = document.getElementById("card-template").content.firstElementChild.cloneNode(true);
  card.dataset.unit = id;
  field(card, "unit").textContent = id;
  card.setAttribute("aria-label", "Unit " + id);
  card.querySelector("[data-select]").setAttribute("aria-label", "Update the firmware of " + id);
  const unitPath = "/api/units/" + encodeURIComponent(id);

  const levels = card.querySelector(".levels");
  for (const level of meta.levels) {
    const row = document.getElementById("level-template").content.firstElementChild.cloneNode(true);
    row.dataset.level = level.name;
    row.querySelector('[data-part="name"]').textContent = level.label;
    row.querySelector('[data-part="bar"]').max = level.highest;
    row.querySelector('[data-part="bar"]').setAttribute("aria-label", level.label);
    for (const step of row.querySelectorAll("[data-step]")) {
      const direction = step.dataset.step;
      step.textContent = direction === "up" ? "+" : "−";
      step.setAttribute("aria-label", level.label + " " + direction);
      step.addEventListener("click", () =>
        command(card, level.label + " " + direction, step, unitPath + "/level/" + level.name,
                { step: direction }));
    }
    levels.append(row);
  }

  const buttons = card.querySelector(".buttons");
  buttons.setAttribute("aria-label", "Buttons of " + id);
  for (const [kind, groupName] of GROUP_NAMES) {
    const group = document.createElement("div");
    group.className = "button-group";
    group.setAttribute("role", "group");
    group.setAttribute("aria-label", groupName);
    for (const { name, label } of groupButtons(kind)) {
      const button = makeButton(label, () =>
        command(card, label, button, unitPath + "/press/" + name, {}));
      button.dataset.button = name;
      group.append(button);
    }
    buttons.append(group);
  }
  buttons.append(factoryResetButton(card, unitPath));

  // The factory reset is an admin's; the other buttons an operator's.
  card.querySelector('[data-button="factory-reset"]').classList.add("needs-admin");
  const cell = { card, unit: null, auditAsked: 0 };
  cards.set(id, cell);
  document.getElementById("units").append(card);
  return cell;
}

// A reset wipes the unit's settings, so it takes a second press within a few seconds.
function factoryResetButton(card, unitPath) {
  const idle = "Factory reset…";
  let armed = null;
  const button = makeButton(idle, () => {
    if (!armed) {
      button.textContent = "Press again to reset";
      button.classList.add("armed");
      armed = setTimeout(disarm, 5000);
      return;
    }
    disarm();
    command(card, "Factory reset", button, unitPath + "/factory-reset", { confirm: true });
  });
  function disarm() {
    clearTimeout(armed);
    armed = null;
    button.textContent = idle;
    button.classList.remove("armed");
  }
  button.dataset.button = "factory-reset";
  button.className = "danger";
  return button;
}

function shown(value, text) {
  return value === null || value === undefined ? "—" : text;
}

function renderCard(unit) {
  const cell = cards.get(unit.unit) || createCard(unit.unit);
  cell.unit = unit;
  const card = cell.card;
  card.dataset.link = unit.link;
  card.classList.toggle("stale", unit.stale);
  const badge = field(card, "link");
  badge.textContent = unit.link;
  badge.className = "badge link-" + unit.link;
  field(card, "reason").textContent = (unit.reason ? " — " + unit.reason : "") +
    (unit.reconnects ? " (link made again " + unit.reconnects + "×)" : "");

  // A button that chooses an input or a meter mode, or flips a lamp, shows as pressed while
  // the unit is in that state.
  const pressed = (button, on) =>
    card.querySelector('[data-button="' + button + '"]').setAttribute("aria-pressed", String(on));
  const input = meta.inputs.find((choice) => choice.value === unit.input);
  field(card, "input").textContent = shown(unit.input, input ? input.label : "none");
  for (const { value, button } of meta.inputs) pressed(button, unit.input === value);
  const meterMode = meterModeOf(unit);
  field(card, "meter").textContent = meterMode === null ? "—" : meta.meterModes[meterMode].label;
  for (const { value, button } of meta.meterModes) pressed(button, meterMode === value);
  for (const { field: key, button } of meta.lamps) {
    const lamp = card.querySelector('[data-lamp="' + key + '"]');
    lamp.textContent = shown(unit[key], unit[key] ? "lit" : "unlit");
    lamp.classList.toggle("lit", unit[key] === 1);
    pressed(button, unit[key] === 1);
  }
  meta.levels.forEach((level, i) => {
    const value = unit.levels ? unit.levels[i] : null;
    const row = card.querySelector('[data-level="' + level.name + '"]');
    const bar = row.querySelector('[data-part="bar"]');
    bar.value = value === null || value === undefined ? 0 : value;
    row.querySelector('[data-part="value"]').textContent = shown(value, String(value));
    row.dataset.value = shown(value, String(value));
  });
  field(card, "ip").textContent = unit.ip || "—";
  const mac = unit.mac || "—";
  field(card, "mac").textContent = /^[0-9A-Fa-f]{12}$/.test(mac) ? mac.match(/../g).join(":") : mac;

  // Nothing is sent to a unit whose link is not up, so its buttons say so by being disabled.
  for (const button of card.querySelectorAll(".buttons button, .levels button")) {
    button.disabled = unit.link !== "up";
  }
  renderTimes(cell);
  showAudit(cell);
}

// An admin sees the unit's last changes on its card: who did what, and how it ended. A unit's
// events come with each change it shows, so they say when to look again, at most every few
// seconds.
async function showAudit(cell, now = false) {
  const admin = document.body.dataset.role === "admin";
  if (!admin || (!now && Date.now() - cell.auditAsked < AUDIT_EVERY_MS)) return;
  cell.auditAsked = Date.now();
  const id = cell.card.dataset.unit;
  const response = await call("/api/audit?unit=" + encodeURIComponent(id) + "&limit=" + AUDIT_SHOWN)
    .catch(() => null);
  if (!response || !response.ok) return;
  const list = field(cell.card, "audit");
  list.replaceChildren(...((await replyOf(response)).entries || []).map((entry) => {
    const item = document.createElement("li");
    const params = Object.values(entry.params || {}).join(" ");
    const outcome = entry.outcome || {};
    const ended = entry.phase === "begun" ? "begun"
      : outcome.state || (outcome.reply && outcome.reply.done ? "done" : "HTTP " + outcome.status);
    item.textContent = clockTime(entry.time) + " " + entry.who + " (" + entry.from + "): " +
      entry.action + (params ? " " + params : "") + " → " + ended;
    item.dataset.action = entry.action;
    return item;
  }));
}

// The relative times, also renewed every second.
function renderTimes(cell) {
  const { card, unit } = cell;
  if (!unit) return;
  const words = {
    up: "Up since", connecting: "Connecting since", down: "Down since",
    maintenance: "In maintenance since",
  };
  field(card, "link-word").textContent = words[unit.link] || unit.link;
  const since = field(card, "since");
  since.dateTime = unit.since;
  since.textContent = ago(unit.since);
  since.title = unit.since;
  // Events come only when something changes, so the read time of an up unit's values would
  // look old while they are current; it matters once the unit is not up.
  const read = field(card, "read");
  if (!unit.statusTime) {
    read.textContent = "Not read yet";
  } else if (unit.stale) {
    read.textContent = "Old values, read at " + clockTime(unit.statusTime) + " (" + ago(unit.statusTime) + ")";
  } else {
    read.textContent = "";
  }
}

// ---- Views: the cards, or the rack's rows past a few dozen units ----

const VIEW_KEY = "vantrel-gateway-view";
const RACK_FROM = 30; // units; fewer fit on the cards
let view = null; // "cards" or "rack" once the units are read

// A unit's state from the list or the stream, shown in the view on screen only: the other is
// built again from `latest` when chosen, so a large rack costs no cards.
function showUnit(unit) {
  latest.set(unit.unit, unit);
  if (view === "cards") renderCard(unit);
  else if (view === "rack") rackUpdate(unit);
}

function showView(chosen) {
  view = chosen === "rack" ? "rack" : "cards";
  document.getElementById("units").hidden = view !== "cards";
  document.getElementById("rack").hidden = view !== "rack";
  document.getElementById("view-cards").setAttribute("aria-pressed", String(view === "cards"));
  document.getElementById("view-rack").setAttribute("aria-pressed", String(view === "rack"));
  if (view === "cards") latest.forEach(renderCard);
  else rackBuild();
}

function chooseView(chosen) {
  localStorage.setItem(VIEW_KEY, chosen);
  showView(chosen);
}

// ---- The rack: one row per unit, sorted and filtered, each row kept by its own events ----

// Worst first: a unit that is down, then one in maintenance, then the rest.
const LINK_RANK = { down: 0, maintenance: 1, connecting: 2, up: 3 };
const byText = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" }).compare;

const labelsOf = (unit) => Object.entries(unit.labels || {}).map(([key, value]) => key + "=" + value);
const numberOr = (value) => (value === null || value === undefined ? -1 : value);

// Each column: what it sorts by. The levels' columns are added from the unit's tables.
const RACK_COLUMNS = [
  { key: "unit", label: "Unit", sortBy: (unit) => unit.name || unit.unit, text: true },
  { key: "labels", label: "Labels", sortBy: (unit) => labelsOf(unit).join(" "), text: true },
  { key: "link", label: "Link", sortBy: (unit) => LINK_RANK[unit.link] ?? 2 },
  { key: "input", label: "Input", sortBy: (unit) => numberOr(unit.input) },
  { key: "meter", label: "Meter", sortBy: (unit) => numberOr(meterModeOf(unit)) },
];

const rack = {
  rows: new Map(), // unit id -> its row
  order: [], // unit ids as the rows stand
  listed: new Map(), // unit id -> its place in the gateway's list, the last tie-break
  sort: { key: "link", descending: false },
  terms: [],
};

function rackColumn(key) {
  return RACK_COLUMNS.find((column) => column.key === key);
}

function rackCompare(a, b) {
  const column = rackColumn(rack.sort.key);
  const x = column.sortBy(latest.get(a));
  const y = column.sortBy(latest.get(b));
  const order = column.text ? byText(x, y) : x - y;
  if (order !== 0) return rack.sort.descending ? -order : order;
  return rack.listed.get(a) - rack.listed.get(b);
}

// A query's terms, split at spaces and commas: `key=value` and `key!=value` match a label (or
// the name), anything else is looked for in the name, the address and the labels.
function parseQuery(query) {
  return query.toLowerCase().split(/[\s,]+/).filter(Boolean).map((term) => {
    const match = /^([^=!]+)(!?=)(.*)$/.exec(term);
    if (!match) return { text: term };
    return { key: match[1], value: match[3], negated: match[2] === "!=" };
  });
}

function matchesQuery(unit, terms) {
  const labels = Object.fromEntries(
    Object.entries(unit.labels || {}).map(([key, value]) => [key.toLowerCase(), String(value).toLowerCase()]));
  // `name=` is the unit's name, as in the gateway's selectors.
  if (unit.name) labels.name = unit.name.toLowerCase();
  const haystack = [unit.unit, unit.name || "", ...labelsOf(unit)].join(" ").toLowerCase();
  return terms.every((term) => {
    if (term.text !== undefined) return haystack.includes(term.text);
    return (labels[term.key] === term.value) !== term.negated;
  });
}

function rackBuild() {
  const head = document.getElementById("rack-head");
  if (!head.childElementCount) {
    meta.levels.forEach((level, i) => RACK_COLUMNS.push(
      { key: level.name, label: level.label, sortBy: (unit) => numberOr(unit.levels && unit.levels[i]) }));
    for (const column of RACK_COLUMNS) {
      const cell = document.createElement("div");
      cell.setAttribute("role", "columnheader");
      cell.dataset.column = column.key;
      cell.append(makeButton(column.label, () => rackSortBy(column.key)));
      head.append(cell);
    }
    document.getElementById("rack-filter").addEventListener("input", (event) => {
      rack.terms = parseQuery(event.target.value);
      for (const id of rack.order) rack.rows.get(id).hidden = !matchesQuery(latest.get(id), rack.terms);
      rackCount();
    });
  }
  let place = 0;
  for (const [id, unit] of latest) {
    rack.listed.set(id, place++);
    const row = rack.rows.get(id) || rackRow(id);
    rackRender(row, unit);
    row.hidden = !matchesQuery(unit, rack.terms);
  }
  rackSortBy(rack.sort.key, rack.sort.descending);
}

// Sorts by a column: a second click on the same column turns its order round.
function rackSortBy(key, descending = rack.sort.key === key && !rack.sort.descending) {
  rack.sort = { key, descending };
  for (const cell of document.getElementById("rack-head").children) {
    const sorted = descending ? "descending" : "ascending";
    cell.setAttribute("aria-sort", cell.dataset.column === key ? sorted : "none");
  }
  rack.order = [...rack.rows.keys()].sort(rackCompare);
  document.getElementById("rack-rows").append(...rack.order.map((id) => rack.rows.get(id)));
  rackCount();
}

function rackCount() {
  const shown = rack.order.filter((id) => !rack.rows.get(id).hidden).length;
  document.getElementById("rack-count").textContent = shown + " of " + rack.order.length + " units shown";
}

function rackRow(id) {
  const row = document.getElementById("rack-row-template").content.firstElementChild.cloneNode(true);
  row.dataset.row = id;
  row.querySelector('[data-cell="unit"]').textContent = id;
  const levels = row.querySelector('[data-cell="levels"]');
  for (const level of meta.levels) {
    const cell = document.getElementById("rack-level-template").content.firstElementChild.cloneNode(true);
    cell.dataset.level = level.name;
    levels.before(cell);
  }
  levels.remove();
  row.shown = {}; // what each cell shows, so that an update writes only what changed
  rack.rows.set(id, row);
  return row;
}

// Writes what changed only, so that an update touches no more of its row than it must.
function rackChanged(row, key, value) {
  if (row.shown[key] === value) return false;
  row.shown[key] = value;
  return true;
}

function rackText(row, name, text) {
  if (rackChanged(row, name, text)) row.querySelector('[data-cell="' + name + '"]').textContent = text;
}

function rackRender(row, unit) {
  row.classList.toggle("stale", unit.stale);
  const badge = row.querySelector('[data-cell="link"]');
  if (rackChanged(row, "link", unit.link)) {
    row.dataset.link = unit.link;
    badge.textContent = unit.link;
    badge.className = "badge link-" + unit.link;
  }
  if (rackChanged(row, "reason", unit.reason || "")) badge.title = unit.reason || "";
  rackText(row, "name", unit.name || "");
  rackText(row, "labels", labelsOf(unit).join(" "));
  const input = meta.inputs.find((choice) => choice.value === unit.input);
  rackText(row, "input", shown(unit.input, input ? input.label : "none"));
  const meterMode = meterModeOf(unit);
  rackText(row, "meter", meterMode === null ? "—" : meta.meterModes[meterMode].label);
  meta.levels.forEach((level, i) => {
    const value = unit.levels ? unit.levels[i] : null;
    const text = shown(value, String(value));
    if (!rackChanged(row, level.name, text)) return;
    const cell = row.querySelector('[data-level="' + level.name + '"]');
    cell.dataset.value = text;
    cell.querySelector(".rack-value").textContent = text;
    // A transform only: the bar moves without laying out the row again.
    const fill = value ? value / level.highest : 0;
    cell.querySelector(".rack-fill").style.transform = "scaleX(" + fill + ")";
  });
}

// One unit's event: its row only is written, and moved if it now sorts elsewhere.
function rackUpdate(unit) {
  const id = unit.unit;
  let row = rack.rows.get(id);
  const added = !row;
  if (added) {
    rack.listed.set(id, rack.listed.size);
    row = rackRow(id);
  } else {
    rack.order.splice(rack.order.indexOf(id), 1);
  }
  rackRender(row, unit);
  const hidden = !matchesQuery(unit, rack.terms);
  const counted = added || row.hidden !== hidden;
  row.hidden = hidden;
  // Where it goes among the others: the first that sorts after it.
  let low = 0;
  let high = rack.order.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    if (rackCompare(rack.order[middle], id) < 0) low = middle + 1;
    else high = middle;
  }
  const next = rack.order[low];
  rack.order.splice(low, 0, id);
  if (row.nextElementSibling !== (next ? rack.rows.get(next) : null)) {
    document.getElementById("rack-rows").insertBefore(row, next ? rack.rows.get(next) : null);
  }
  if (counted) rackCount();
}

// ---- Commands ----

function describe(reply, status) {
  if (reply.done) {
    let text = "done";
    if (reply.confirmation && CONFIRMATIONS[reply.confirmation]) {
      text += " (" + CONFIRMATIONS[reply.confirmation] + ")";
    }
    if (reply.level !== undefined) text += ", now " + reply.level;
    return text;
  }
  return "failed: " + (reply.error || "HTTP " + status);
}

function showOutcome(card, label, done, text) {
  const outcome = field(card, "outcome");
  outcome.textContent = (done ? "✓ " : "✗ ") + label + ": " + text;
  outcome.dataset.outcome = done ? "done" : "failed";
  clearTimeout(outcome.hideTimer);
  outcome.hideTimer = setTimeout(() => {
    outcome.textContent = "";
    delete outcome.dataset.outcome;
  }, OUTCOME_SHOWN_MS);
}

async function command(card, label, button, path, body) {
  button.setAttribute("aria-busy", "true");
  try {
    const response = await call(path, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body),
    });
    const reply = await replyOf(response);
    showOutcome(card, label, response.ok && reply.done === true, describe(reply, response.status));
    showAudit(cards.get(card.dataset.unit), true);
  } catch {
    showOutcome(card, label, false, "the gateway did not answer");
  } finally {
    button.removeAttribute("aria-busy");
  }
}

// ---- Firmware ----

function firmwareMessage(text) {
  document.getElementById("firmware-message").textContent = text;
}

// A net update waits for the power cycle before it runs.
const STATE_ORDER = ["queued", "power-cycle", "running", "done", "failed", "not started"];

// A job's progress only goes forward, but the units' threads report it separately, so a read
// can come after a newer one: each unit keeps the furthest of what it has been shown.
function furthest(shown, entry) {
  if (!shown) return entry;
  const rank = (e) => Math.min(STATE_ORDER.indexOf(e.state), 3);
  if (rank(shown) > rank(entry) || (rank(shown) === rank(entry) && shown.done > entry.done)) {
    return shown;
  }
  return entry;
}

// Shows a job's units; the stream's events for another job are taken up only once the one
// followed has finished, so a burn started elsewhere still shows.
function followJob(job) {
  if (followedJob && followedJob.id !== job.job && !followedJob.finished) return;
  if (!followedJob || followedJob.id !== job.job) {
    followedJob = { id: job.job, finished: false, units: new Map() };
  }
  followedJob.finished ||= job.finished;
  const list = document.getElementById("firmware-job");
  list.dataset.job = job.job;
  list.dataset.finished = String(followedJob.finished);
  for (const read of job.units) {
    const entry = furthest(followedJob.units.get(read.unit), read);
    followedJob.units.set(read.unit, entry);
    let row = list.querySelector('[data-job-unit="' + entry.unit + '"]');
    if (!row) {
      row = document.createElement("li");
      row.dataset.jobUnit = entry.unit;
      row.innerHTML = '<span class="job-unit"></span><progress></progress><span class="job-state"></span>';
      row.querySelector(".job-unit").textContent = entry.unit;
      row.querySelector("progress").setAttribute("aria-label", "Firmware progress of " + entry.unit);
      list.append(row);
    }
    row.dataset.state = entry.state;
    const bar = row.querySelector("progress");
    bar.max = entry.total > 0 ? entry.total : 1;
    bar.value = entry.done;
    const state = row.querySelector(".job-state");
    if (entry.state === "failed") state.textContent = "✗ failed: " + (entry.error || "no reason given");
    else if (entry.state === "done") state.textContent = "✓ done, " + entry.total + " bytes";
    else if (entry.state === "not started") state.textContent = "not started: " + entry.error;
    else if (entry.state === "power-cycle") state.textContent = "line in break: power-cycle the unit, then Continue";
    else if (entry.state === "running") state.textContent = entry.done + " / " + entry.total + " bytes";
    else state.textContent = "queued";
  }
  for (const row of list.querySelectorAll("[data-job-unit]")) {
    if (!job.units.some((entry) => entry.unit === row.dataset.jobUnit)) row.remove();
  }
  const waiting = !followedJob.finished && job.units.some((entry) => entry.state === "power-cycle");
  document.getElementById("power-cycled").hidden = !waiting;
  if (followedJob.finished) {
    const shown = [...followedJob.units.values()];
    const failed = shown.filter((entry) => entry.state === "failed").length;
    firmwareMessage("Job " + job.job + " finished: " + (shown.length - failed) + " done, " + failed + " failed.");
  }
}

async function burn(event) {
  event.preventDefault();
  const units = [...document.querySelectorAll("[data-select]:checked")].map(
    (box) => box.closest("[data-unit]").dataset.unit);
  const file = document.getElementById("firmware-file").files[0];
  const controller = document.querySelector('input[name="controller"]:checked').value;
  if (!units.length) return firmwareMessage("Tick the units to update first.");
  if (!file) return firmwareMessage("Choose an image first.");
  const button = document.getElementById("firmware-burn");
  button.disabled = true;
  try {
    // The canary units (the first ticked) go first, and the rest only if they are all done.
    const canary = document.getElementById("firmware-canary").value;
    const maxFailures = document.getElementById("firmware-max-failures").value;
    const query = "units=" + units.map(encodeURIComponent).join(",") + "&controller=" + controller +
      (canary && canary !== "0" ? "&canary=" + canary : "") +
      (maxFailures ? "&maxFailures=" + maxFailures : "");
    const response = await call("/api/firmware?" + query, {
      method: "POST",
      headers: { "Content-Type": "application/octet-stream" },
      body: await file.arrayBuffer(),
    });
    const reply = await replyOf(response);
    if (response.status !== 202) {
      firmwareMessage("Refused: " + (reply.error || "HTTP " + response.status));
      return;
    }
    if (!followedJob || followedJob.id !== reply.job) {
      followedJob = { id: reply.job, finished: false, units: new Map() };
      document.getElementById("firmware-job").replaceChildren();
    }
    firmwareMessage("Job " + reply.job + ": burning " + file.name + " into " + units.join(", ") + "…");
    const read = await call("/api/jobs/" + encodeURIComponent(reply.job));
    if (read.ok) followJob(await replyOf(read));
  } catch {
    firmwareMessage("The gateway did not answer.");
  } finally {
    button.disabled = false;
  }
}

// A net controller's update holds the line in break until the user says the unit was
// power-cycled.
async function powerCycled() {
  if (!followedJob) return;
  const response = await call("/api/jobs/" + encodeURIComponent(followedJob.id) + "/continue", {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: "{}",
  }).catch(() => null);
  if (!response || !response.ok) firmwareMessage("The gateway did not take the power cycle.");
}

// ---- Start ----

// GETs `path` until the gateway answers it, saying meanwhile why it is asked again.
async function readUntilAnswered(path) {
  for (;;) {
    try {
      const response = await call(path);
      if (response.ok) return await response.json();
      showStream("The gateway answered HTTP " + response.status + "; trying again…", false);
    } catch {
      showStream("The gateway does not answer; trying again…", false);
    }
    await sleep(RECONNECT_MS);
  }
}

async function start() {
  document.getElementById("firmware-form").addEventListener("submit", burn);
  document.getElementById("power-cycled").addEventListener("click", powerCycled);
  document.getElementById("view-cards").addEventListener("click", () => chooseView("cards"));
  document.getElementById("view-rack").addEventListener("click", () => chooseView("rack"));
  setInterval(() => view === "cards" && cards.forEach(renderTimes), 1000);
  // The tables first: a card is built from them. Then who this token is, which says what the
  // page shows (the style sheet hides what the role may not do).
  meta = await readUntilAnswered("/api/meta");
  const me = await call("/api/whoami").then(replyOf, () => ({}));
  document.body.dataset.role = me.role || "viewer";
  groupActionsStart();
  snapshotsStart();
  const listed = (await readUntilAnswered("/api/units")).units || [];
  for (const unit of listed) latest.set(unit.unit, unit);
  showView(localStorage.getItem(VIEW_KEY) || (listed.length > RACK_FROM ? "rack" : "cards"));
  followEvents();
}

start();
