// The README's set-up of the gateway as a service, run as written: its marked files written and
// its marked commands run under a scratch root, the gateway started with its options and
// Debian's Prometheus with its config. Only what cannot stay as written on loopback changes:
// the units become simulated ones, the gateway's name localhost, its port and the scrape
// interval the test's, and every owner root, who runs the test.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import https from 'node:https';
import path from 'node:path';
import { before, test } from 'node:test';
import {
  build, root, scratchPath, start, startPrometheus, startUnit, waitFor,
} from './processes.mjs';

const port = 18025;
const units = ['127.0.0.6', '127.0.0.7', '127.0.0.8'];
const base = scratchPath('root');
const moves = [
  ['/etc/', `${base}/etc/`], ['/var/log/', `${base}/var/log/`], ['/var/lib/', `${base}/var/lib/`],
  ['/usr/share/vantrel/monitoring', path.join(root, 'monitoring')],
  ['gateway.example.net', 'localhost'], ['0.0.0.0:8023', `127.0.0.1:${port}`],
  [':8023', `:${port}`], ['scrape_interval: 15s', 'scrape_interval: 1s'],
];
const local = (text) => moves
  .reduce((moved, [from, to]) => moved.replaceAll(from, to), text)
  .replace(/chown [\w-]+:/g, 'chown root:');
const read = (file) => readFileSync(local(file), 'utf8');

// The README's marked blocks, in their order: a file to write, or commands to run.
const readme = readFileSync(path.join(root, 'README.md'), 'utf8');
const steps = [...readme.matchAll(/<!-- setup-(?:file: (\S+)|run) -->\n```\w*\n([\s\S]*?)```\n/g)]
  .map(([, file, text]) => ({ file, text }));

// The one line of the tokens file whose token is in `file`.
function tokenLine(file) {
  const token = read(file).trim();
  return read('/etc/vantrel-gateway/tokens').split('\n')
    .map((line) => line.trim().split(/\s+/))
    .find((fields) => fields[2] === token) ?? [];
}

function post(url, token) {
  return new Promise((resolve, reject) => {
    const request = https.request(url, {
      method: 'POST', servername: 'localhost', ca: read('/etc/prometheus/vantrel-ca.crt'),
      headers: { authorization: `Bearer ${token}`, 'content-type': 'application/json' },
    }, (response) => {
      let body = '';
      response.on('data', (chunk) => (body += chunk));
      response.on('end', () => resolve({ status: response.statusCode, body }));
    });
    request.on('error', reject);
    request.end('{}');
  });
}

let prometheus;

before(async () => {
  // Commands run where the CA is, as the Prometheus machine's are run where it was copied to.
  const tls = local('/etc/vantrel-gateway/tls');
  mkdirSync(tls, { recursive: true });
  mkdirSync(local('/etc/prometheus'), { recursive: true });
  mkdirSync(local('/var/log/vantrel-gateway'), { recursive: true }); // the unit's LogsDirectory
  mkdirSync(local('/var/lib/vantrel-gateway'), { recursive: true }); // and its StateDirectory
  for (const { file, text } of steps) {
    if (file) mkdirSync(path.dirname(local(file)), { recursive: true });
    if (file === '/etc/vantrel-gateway/units') {
      const addresses = text.split('\n').filter((line) => line && !line.startsWith('#'));
      assert.equal(addresses.length, units.length, 'the README names three units');
      writeFileSync(local(file), `${units.join('\n')}\n`);
    } else if (file) {
      writeFileSync(local(file), local(text));
    } else {
      execFileSync('bash', ['-euo', 'pipefail', '-c', local(text)], { cwd: tls, stdio: 'pipe' });
    }
  }
  for (const unit of units) await startUnit(unit);
  // systemd splits the options variable at white space, as here.
  const options = read('/etc/default/vantrel-gateway')
    .match(/^VANTREL_GATEWAY_OPTIONS="(.*)"$/m)[1].split(/\s+/);
  await start(path.join(build, 'gateway/vantrel-gateway'), options,
    new RegExp(`serving 3 units on https://127.0.0.1:${port}/`));
  prometheus = await startPrometheus(read('/etc/prometheus/prometheus.yml'), 19091);
});

test('the README gives Prometheus a viewer\'s token, over HTTPS', () => {
  const { text: config } = steps.find((s) => s.file === '/etc/prometheus/prometheus.yml');
  const credentials = config.match(/credentials_file: (\S+)/)[1];
  assert.equal(tokenLine(credentials)[1], 'viewer', 'the token Prometheus is given');
  assert.match(config, /scheme: https/);
});

test('Prometheus scrapes the gateway over HTTPS with the viewer token, and every unit is up', async () => {
  const query = async (expr) => {
    const url = `${prometheus}/api/v1/query?${new URLSearchParams({ query: expr })}`;
    return (await (await fetch(url)).json()).data.result;
  };
  const target = await waitFor('the scrape up', async () => {
    const [up] = await query('up{job="vantrel-gateway"}');
    return up?.value[1] === '1' && up;
  }, 15000);
  assert.equal(target.metric.instance, `localhost:${port}`);
  const seen = await waitFor('the units up in Prometheus', async () => {
    const up = await query('vantrel_up == 1');
    return up.length === units.length && up.map((series) => series.metric.unit).sort();
  }, 15000);
  assert.deepEqual(seen, units);
});

test('the audit log is written where the README puts it, with who did what', async () => {
  const [operator, , token] = read('/etc/vantrel-gateway/tokens').split('\n')
    .map((line) => line.trim().split(/\s+/)).find((fields) => fields[1] === 'operator');
  let last;
  await waitFor('the press answered', async () => {
    last = await post(`https://127.0.0.1:${port}/api/units/${units[0]}/press/mute`, token);
    return last.status === 200;
  }, 10000, 200).catch((error) => assert.fail(`${error.message}: ${JSON.stringify(last)}`));
  const entries = read('/var/log/vantrel-gateway/audit.jsonl').trim().split('\n').map(JSON.parse);
  assert.ok(entries.some((e) => e.who === operator && e.unit === units[0] && e.phase === 'ended'),
    JSON.stringify(entries));
});
