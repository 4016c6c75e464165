// The snapshots panel on the rack: the gateway's snapshots listed, one captured from the units
// the filter shows, and one checked (a dry run), applied or compared on the units shown that it
// holds. Uses groups.js's selection and dialog.
"use strict";

// A diff's units go in its URL; past this many characters the gateway is asked for all of them
// and the page keeps those shown, as the URL would not fit in the request's headers.
const LONGEST_SELECT = 4000;

const snapshotPath = (name) => "/api/snapshots/" + encodeURIComponent(name);

function snapshotMessage(text) {
  document.getElementById("snapshot-message").textContent = text;
}

function settingLabel(setting) {
  const level = meta.levels.find((choice) => choice.name === setting);
  const lamp = meta.lamps.find((choice) => choice.field === setting);
  const others = { input: "Input", meterMode: "Meter", network: "Network" };
  return (level || lamp || {}).label || others[setting] || setting;
}

function settingValue(setting, value) {
  if (value === null || value === undefined) return "—";
  if (setting === "input") {
    return (meta.inputs.find((choice) => choice.value === value) || { label: String(value) }).label;
  }
  if (setting === "meterMode") return meta.meterModes[value === 0 ? 0 : 1].label;
  if (meta.lamps.some((lamp) => lamp.field === setting)) return value ? "on" : "off";
  if (typeof value === "object") {
    if (value.mode === "dhcp") return "DHCP";
    return [value.mode, value.ip, value.mask, value.gateway].filter(Boolean).join(" ");
  }
  return String(value);
}

function refusalText(refusal) {
  return refusal.reason + (refusal.setting ? " (" + settingLabel(refusal.setting) + ")" : "") +
    (refusal.why ? ": " + refusal.why : "");
}

// One line per unit: its name, how it stands, then a part per setting. `describe` gives an
// entry's { state, text, parts: [{ setting, state, text }] }.
function showSnapshotUnits(title, entries, describe) {
  snapshotMessage(title);
  document.getElementById("snapshot-units").replaceChildren(...entries.map((entry) => {
    const { state, text, parts = [] } = describe(entry);
    const item = document.createElement("li");
    item.dataset.unit = entry.unit;
    item.dataset.state = state;
    const head = document.createElement("span");
    head.textContent = unitName(entry.unit) + ": " + text;
    item.append(head, ...parts.map((part) => {
      const span = document.createElement("span");
      span.className = "setting";
      span.dataset.setting = part.setting;
      span.dataset.state = part.state;
      span.textContent = settingLabel(part.setting) + " " + part.text;
      return span;
    }));
    return item;
  }));
}

async function guarded(work) {
  try {
    await work();
  } catch {
    snapshotMessage("The gateway did not answer.");
  }
}

const refused = (what, response, reply) =>
  snapshotMessage(what + " refused: " + (reply.error || "HTTP " + response.status));

async function snapshotsList() {
  const response = await call("/api/snapshots");
  const reply = await replyOf(response);
  if (!response.ok) return refused("The list of snapshots", response, reply);
  const rows = (reply.snapshots || []).map((snapshot) => {
    const row = document.createElement("tr");
    row.dataset.snapshot = snapshot.name;
    for (const text of [snapshot.name, new Date(snapshot.takenAt).toLocaleString(), snapshot.takenBy,
                        String(snapshot.units)]) {
      row.insertCell().textContent = text;
    }
    const actions = row.insertCell();
    const validate = makeButton("Dry run", () => guarded(() => validateSnapshot(snapshot.name)));
    const apply = makeButton("Apply…", () => guarded(() => applySnapshot(snapshot.name)));
    validate.className = apply.className = "needs-operator";
    validate.dataset.action = "validate";
    apply.dataset.action = "apply";
    const diff = makeButton("Diff", () => guarded(() => diffSnapshot(snapshot.name)));
    diff.dataset.action = "diff";
    actions.append(validate, apply, diff);
    return row;
  });
  document.querySelector("#snapshot-list tbody").replaceChildren(...rows);
}

async function captureShown() {
  const ids = shownUnits();
  if (!ids.length) return snapshotMessage("The filter shows no unit.");
  const name = await ask("Capture the " + countText(ids.length) + " shown as a snapshot named:", "Capture",
                         true);
  if (name === null) return;
  const body = { name, select: selectorOf(ids), confirm: ids.length };
  let { response, reply } = await postJson("/api/snapshots", body);
  const replace = () => ask("A snapshot named “" + name + "” exists. Replace it?", "Replace");
  if (response.status === 409 && (await replace()) !== null) {
    ({ response, reply } = await postJson("/api/snapshots", { ...body, replace: true }));
  }
  if (response.status !== 201) return refused("The capture", response, reply);
  const units = reply.units || [];
  const read = units.filter((unit) => unit.captured).length;
  showSnapshotUnits("Captured “" + name + "”: " + read + " of " + countText(units.length) + " read.",
                    units, (entry) => entry.captured
    ? { state: "done", text: "captured" }
    : { state: "failed", text: "not read: " + (entry.error || "no reason given") });
  await snapshotsList();
}

// The units shown that the snapshot holds: the others would only be refused.
async function heldShown(name) {
  const response = await call(snapshotPath(name));
  const reply = await replyOf(response);
  if (!response.ok) {
    refused("Reading “" + name + "”", response, reply);
    return null;
  }
  const held = new Set((reply.units || []).map((unit) => unit.unit));
  const ids = shownUnits().filter((id) => held.has(id));
  if (!ids.length) snapshotMessage("None of the units shown is in “" + name + "”.");
  return ids.length ? ids : null;
}

async function validateSnapshot(name) {
  const ids = await heldShown(name);
  if (!ids) return;
  const { response, reply } = await postJson(snapshotPath(name) + "/validate",
                                             { select: selectorOf(ids), confirm: ids.length });
  if (!response.ok) return refused("The dry run", response, reply);
  showSnapshotUnits("Dry run of “" + name + "” on " + countText(ids.length) + ": nothing was sent.",
                    reply.units || [], (entry) => {
    if (entry.refusal) {
      return { state: "refused", text: "would send nothing: " + refusalText(entry.refusal) };
    }
    const plan = entry.plan || [];
    if (!plan.length) return { state: "same", text: "nothing to change" };
    return {
      state: "plan", text: "would set",
      parts: plan.map((step) => ({
        setting: step.setting, state: "plan",
        text: settingValue(step.setting, step.live) + " → " +
          settingValue(step.setting, step.snapshot),
      })),
    };
  });
}

async function applySnapshot(name) {
  const ids = await heldShown(name);
  if (!ids) return;
  const question = "Apply “" + name + "” to the " + countText(ids.length) + " shown that it holds?";
  if ((await ask(question, "Apply")) === null) return;
  snapshotMessage("Applying “" + name + "” to " + countText(ids.length) + "…");
  const { response, reply } = await postJson(snapshotPath(name) + "/apply",
                                             { select: selectorOf(ids), confirm: ids.length });
  if (!response.ok) return refused("The apply", response, reply);
  const units = reply.units || [];
  for (const unit of units) unit.steps ||= [];
  const done = (entry) => !entry.refusal && entry.steps.every((step) => step.state === "done");
  const title = "Applied “" + name + "”: " + units.filter(done).length + " of " + countText(units.length) +
    " done.";
  showSnapshotUnits(title, units, (entry) => {
    if (entry.refusal) return { state: "refused", text: "refused: " + refusalText(entry.refusal) };
    return {
      state: done(entry) ? "done" : "failed",
      text: entry.steps.length ? (done(entry) ? "done" : "not all done") : "nothing to change",
      parts: entry.steps.map((step) => ({
        setting: step.setting, state: step.state, text: step.state + (step.why ? ": " + step.why : ""),
      })),
    };
  });
}

async function diffSnapshot(name) {
  const ids = await heldShown(name);
  if (!ids) return;
  const selector = selectorOf(ids);
  let text = typeof selector === "string" ? selector : selector.join(",");
  if (text.length > LONGEST_SELECT) text = "all";
  const response = await call(snapshotPath(name) + "/diff?select=" + encodeURIComponent(text));
  const reply = await replyOf(response);
  if (!response.ok) return refused("The diff", response, reply);
  const wanted = new Set(ids);
  const units = (reply.units || []).filter((unit) => wanted.has(unit.unit));
  showSnapshotUnits("Differences from “" + name + "”:", units, (entry) => {
    if (entry.down) return { state: "down", text: "down, not read" };
    const differs = entry.differs || [];
    if (!differs.length) return { state: "same", text: "as in the snapshot" };
    return {
      state: "differs", text: "differs",
      parts: differs.map((difference) => ({
        setting: difference.setting, state: "differs",
        text: settingValue(difference.setting, difference.live) + ", in the snapshot " +
          settingValue(difference.setting, difference.snapshot),
      })),
    };
  });
}

function snapshotsStart() {
  document.getElementById("snapshot-capture").addEventListener("click", () => guarded(captureShown));
  document.getElementById("snapshot-reload").addEventListener("click", () => guarded(snapshotsList));
  guarded(snapshotsList);
}
