// The monitoring kit against a real Prometheus (Debian's) scraping the gateway, which serves
// three simulated units: the units' vantrel_up through Prometheus's HTTP API, the alert rules
// as Prometheus loads them, and the dashboard's queries as Grafana would show them, before and
// after a unit and then the gateway stop.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { before, test } from 'node:test';
import {
  gatewayProcesses, root, startGateway, startPrometheus, startUnit, stop, waitFor,
} from './processes.mjs';

const units = ['127.0.0.3', '127.0.0.4', '127.0.0.5'];
// A scrape every two poll periods: the gateway tells of a lost unit by its next poll, so the
// second scrape after the loss must hold it.
const scrapeSeconds = 2;
const sims = {};
let gateway;
let prometheus;

before(async () => {
  for (const unit of units) sims[unit] = await startUnit(unit);
  gateway = await startGateway(units, 18024, 1);
  const rules = path.join(root, 'monitoring/vantrel-alerts.yml');
  prometheus = await startPrometheus(`
global: {scrape_interval: ${scrapeSeconds}s, evaluation_interval: ${scrapeSeconds}s}
rule_files: ['${rules}']
scrape_configs:
  - job_name: vantrel-gateway
    static_configs: [{targets: ['${new URL(gateway).host}']}]
`, 19090);
});

async function api(endpoint, params = {}) {
  const response = await fetch(`${prometheus}/api/v1/${endpoint}?${new URLSearchParams(params)}`);
  const body = await response.json();
  assert.equal(body.status, 'success', JSON.stringify(body));
  return body.data;
}
const query = async (expr) => (await api('query', { query: expr })).result;
const byUnit = (result) =>
  Object.fromEntries(result.map((r) => [r.metric.unit, Number(r.value[1])]));

test('Prometheus sees vantrel_up at 1 for each unit, and each one\'s poll period', async () => {
  const up = await waitFor('all three units up in Prometheus', async () => {
    const seen = byUnit(await query('vantrel_up{job="vantrel-gateway"}'));
    return units.every((u) => seen[u] === 1) && seen;
  }, 10000);
  assert.deepEqual(Object.keys(up).sort(), units);
  assert.deepEqual(byUnit(await query('vantrel_poll_period_seconds')),
    Object.fromEntries(units.map((u) => [u, 1])));
});

// The metric names of a PromQL expression: its identifiers that are not functions, keywords,
// label names or durations.
function metricNames(expr) {
  const keywords = new Set(['and', 'or', 'unless', 'bool', 'offset', 'inf', 'nan']);
  const bare = expr
    .replace(/"(?:[^"\\]|\\.)*"/g, '""')
    .replace(/\{[^}]*\}/g, '')
    .replace(/\[[^\]]*\]/g, '')
    .replace(/\b(by|without|on|ignoring|group_left|group_right)\s*\([^)]*\)/g, '');
  return [...bare.matchAll(/(?<![\w.])([A-Za-z_:][\w:]*)(\s*\()?/g)]
    .filter(([, name, call]) => !call && !keywords.has(name))
    .map(([, name]) => name);
}

// Grafana's variables, as the dashboard would fill them in over its default range: all
// gateways and units unless `chosen` picks some.
const filled = (expr, chosen = {}) => expr.replaceAll('$instance', chosen.instance ?? '.*')
  .replaceAll('$unit', chosen.unit ?? '.*').replaceAll('$__rate_interval', '30s');
const dashboard = JSON.parse(readFileSync(path.join(root, 'monitoring/vantrel-dashboard.json')));

// What a value shows as: its value mapping's text and colour or, failing one, the colour of the
// highest threshold step it reaches.
function display(panel, value) {
  const { mappings = [], thresholds } = panel.fieldConfig.defaults;
  for (const mapping of mappings.filter((m) => m.type === 'value')) {
    const hit = mapping.options[String(value)];
    if (hit) return { text: hit.text, color: hit.color };
  }
  const steps = (thresholds?.steps ?? []).filter((s) => s.value === null || value >= s.value);
  return { text: String(value), color: steps.at(-1)?.color };
}

// A panel's series as Grafana shows them: each target's query, at now if the target is
// instant, else over the last minute, reduced by the panel's first calculation.
async function shown(panel, chosen) {
  const calc = panel.options?.reduceOptions?.calcs?.[0] ?? 'lastNotNull';
  const reduce = {
    lastNotNull: (values) => values.filter((v) => !Number.isNaN(v)).at(-1),
    last: (values) => values.at(-1),
  }[calc];
  assert.ok(reduce, `no reduction ${calc} here`);
  const rows = [];
  for (const target of panel.targets) {
    const expr = filled(target.expr, chosen);
    const end = Date.now() / 1000;
    const series = target.instant
      ? (await query(expr)).map((r) => ({ metric: r.metric, values: [r.value] }))
      : (await api('query_range', { query: expr, start: end - 60, end, step: scrapeSeconds })).result;
    for (const { metric, values } of series) {
      const value = reduce(values.map(([, v]) => Number(v)));
      rows.push({ unit: metric.unit, instance: metric.instance, value, ...display(panel, value) });
    }
  }
  return rows.sort((a, b) => a.unit.localeCompare(b.unit));
}
const stats = dashboard.panels.filter((p) => p.type === 'stat');
const colours = async (panel, chosen) =>
  Object.fromEntries((await shown(panel, chosen)).map((r) => [r.unit, `${r.text} ${r.color}`]));

test('the dashboard\'s queries use only metrics the gateway exports, and each returns data', async () => {
  const exported = new Set((await (await fetch(`${gateway}/metrics`)).text())
    .split('\n').filter((l) => l.startsWith('# TYPE ')).map((l) => l.split(' ')[2]));
  const exprs = dashboard.panels.flatMap((p) => p.targets.map((t) => t.expr));
  for (const variable of dashboard.templating.list.filter((v) => v.type === 'query')) {
    exprs.push(variable.query.query.replace(/^label_values\(([^,]+),.*\)$/, '$1'));
  }
  const used = new Set(exprs.flatMap(metricNames));
  assert.deepEqual([...used].filter((name) => !exported.has(name)), [], 'not exported');
  for (const name of ['vantrel_up', 'vantrel_level', 'vantrel_input', 'vantrel_meter_mode',
    'vantrel_reconnects_total', 'vantrel_poll_age_seconds']) {
    assert.ok(used.has(name), `no panel shows ${name}`);
  }
  // A rate needs two scrapes in its window.
  for (const expr of exprs) {
    await waitFor(`data for ${expr}`, async () => (await query(filled(expr))).length > 0, 10000);
  }
});

test('Prometheus loads the alert rules and evaluates them without error', async () => {
  const rules = await waitFor('the rules evaluated', async () => {
    const all = (await api('rules')).groups.flatMap((g) => g.rules);
    return all.every((r) => Date.parse(r.lastEvaluation) > 0) && all;
  }, 10000);
  assert.deepEqual(rules.map((r) => r.name).sort(), ['VantrelCommandsFailing',
    'VantrelFirmwareUpdateFailed', 'VantrelGatewayLeaseLost', 'VantrelGatewayNotScraped',
    'VantrelGatewayRestarting', 'VantrelGatewayScrapesFailing', 'VantrelPollStale',
    'VantrelUnitDown', 'VantrelUnitDrifted', 'VantrelUnitFlapping', 'VantrelUnitReconnecting',
    'VantrelUnitUnowned', 'vantrel:unit_maintenance:held',
    'vantrel:up:held']);
  for (const rule of rules) assert.equal(rule.health, 'ok', `${rule.name}: ${rule.lastError}`);
});

test('the dashboard imports with a data-source choice that every query uses', () => {
  assert.deepEqual(dashboard.__inputs.map((i) => [i.name, i.type, i.pluginId]),
    [['DS_PROMETHEUS', 'datasource', 'prometheus']]);
  const required = (type) => dashboard.__requires.filter((r) => r.type === type).map((r) => r.id);
  assert.deepEqual(required('datasource'), ['prometheus']);
  assert.deepEqual(required('grafana'), ['grafana']);
  assert.deepEqual(required('panel').sort(), [...new Set(dashboard.panels.map((p) => p.type))].sort());
  const sources = [...dashboard.templating.list, ...dashboard.panels,
    ...dashboard.panels.flatMap((p) => p.targets)].map((o) => o.datasource);
  assert.deepEqual([...new Set(sources.map((d) => `${d.type} ${d.uid}`))],
    ['prometheus ${DS_PROMETHEUS}']);
});

test('the units-up stat shows each unit of the chosen gateway up, and none of another', async () => {
  const [panel] = stats;
  const instance = new URL(gateway).host;
  assert.deepEqual(await colours(panel, { instance }),
    Object.fromEntries(units.map((u) => [u, 'Up green'])));
  assert.deepEqual(await shown(panel, { instance: '127.0.0.1:1' }), []);
  for (const variable of dashboard.templating.list) {
    assert.ok(variable.name !== 'unit' || variable.query.query.includes('$instance'),
      'the unit list follows the chosen gateway');
  }
  for (const target of dashboard.panels.flatMap((p) => p.targets)) {
    assert.ok(target.expr.includes('instance=~"$instance"'), target.expr);
  }
});

test('a unit whose simulator stops shows vantrel_up 0 within two scrapes, and its alert waits', async () => {
  const lost = units[1];
  const stopped = Date.now() / 1000;
  await stop(sims[lost]);
  const samples = await waitFor(`vantrel_up 0 for ${lost}`, async () => {
    const [series] = await query(`vantrel_up{unit="${lost}"}[30s]`);
    const after = series.values.filter(([time]) => time > stopped);
    return after.some(([, value]) => value === '0') && after;
  }, (3 * scrapeSeconds + 2) * 1000);
  const firstDown = samples.findIndex(([, value]) => value === '0');
  assert.ok(firstDown < 2, `scrapes after the stop: ${JSON.stringify(samples)}`);

  assert.deepEqual(byUnit(await query('vantrel_up')),
    Object.fromEntries(units.map((u) => [u, u === lost ? 0 : 1])));
  // Pending for its 2 minutes, for that unit alone.
  const alerts = await waitFor('the down alert pending', async () => {
    const list = (await api('alerts')).alerts.filter((a) => a.labels.alertname === 'VantrelUnitDown');
    return list.length > 0 && list;
  }, 3 * scrapeSeconds * 1000);
  assert.deepEqual(alerts.map((a) => [a.labels.unit, a.state]), [[lost, 'pending']]);
});

test('once the gateway stops, the units-up stat shows nothing green and the down alert holds', async () => {
  const lost = units[1];
  const [panel] = stats;
  assert.deepEqual(await colours(panel),
    Object.fromEntries(units.map((u) => [u, u === lost ? 'Down red' : 'Up green'])));

  await stop(gatewayProcesses.get(gateway));
  const after = await waitFor('the stat without the gateway', async () => {
    const seen = await colours(panel);
    return Object.values(seen).every((c) => !c.endsWith('green')) && seen;
  }, (3 * scrapeSeconds + 2) * 1000);
  assert.deepEqual(after, Object.fromEntries(units.map((u) => [u, 'No data red'])));
  // Its series are stale now: the lost unit's alert goes on waiting rather than resolving, and
  // the units that were up are not called down.
  const stale = Date.now();
  await waitFor('the rules evaluated again', async () => (await api('rules')).groups
    .every((g) => Date.parse(g.lastEvaluation) > stale), 3 * scrapeSeconds * 1000);
  const alerts = (await api('alerts')).alerts.filter((a) => a.labels.alertname === 'VantrelUnitDown');
  assert.deepEqual(alerts.map((a) => [a.labels.unit, a.state]), [[lost, 'pending']]);
  // The time series keep what was seen before.
  for (const other of dashboard.panels.filter((p) => p.type !== 'stat')) {
    assert.ok((await shown(other)).length > 0, other.title);
  }
});
