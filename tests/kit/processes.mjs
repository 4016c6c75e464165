// The programs the kit's tests run against: simulated units, the gateway and Prometheus, each
// started on loopback (the runner has put the tests in a namespace with only lo) and stopped
// when the test file ends.
import { spawn } from 'node:child_process';
import { mkdtempSync, openSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after } from 'node:test';

export const root = path.resolve(import.meta.dirname, '../..');
export const build = process.env.VANTREL_KIT_BUILD ?? path.join(root, 'build/native');

const started = [];
const scratch = mkdtempSync(path.join(os.tmpdir(), 'vantrel-kit-'));
after(async () => {
  await Promise.all(started.map(stop));
  rmSync(scratch, { recursive: true, force: true });
});

export function scratchPath(name) {
  return path.join(scratch, name);
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Calls `check` until it returns something truthy, or throws once `ms` have passed.
export async function waitFor(what, check, ms, every = 100) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await check().catch(() => undefined);
    if (value) return value;
    if (Date.now() > end) throw new Error(`${what}: not within ${ms} ms`);
    await sleep(every);
  }
}

// Starts a program and resolves once a line of its stdout matches `ready`.
export function start(program, args, ready, ms = 10000) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  started.push(child);
  let output = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${program} did not start: ${output}`)), ms);
    const take = (chunk) => {
      output += chunk;
      if (ready.test(output)) {
        clearTimeout(timer);
        resolve(child);
      }
    };
    child.stdout.on('data', take);
    child.stderr.on('data', (chunk) => (output += chunk));
    child.on('error', (error) => {
      clearTimeout(timer);
      reject(error);
    });
    child.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`${program} ended (${code}) before it was ready: ${output}`));
    });
  });
}

export function stop(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    child.once('exit', resolve);
    child.kill('SIGTERM');
  });
}

// A simulated unit on ADDRESS:23 whose own and default IP is that address.
export function startUnit(address) {
  return start(
    path.join(build, 'sim/vantrel-sim'),
    ['--address', address, '--ip', address, '--default-ip', address,
     '--log', scratchPath(`sim-${address}.log`)],
    /listening on/,
  );
}

// The gateways started, by their URL, for a test that stops one.
export const gatewayProcesses = new Map();

export async function startGateway(units, port, poll = 1) {
  const child = await start(
    path.join(build, 'gateway/vantrel-gateway'),
    [...units.flatMap((unit) => ['--unit', unit]), '--listen', `127.0.0.1:${port}`,
     '--poll', String(poll)],
    /serving \d+ units/,
  );
  const url = `http://127.0.0.1:${port}`;
  gatewayProcesses.set(url, child);
  return url;
}

// Prometheus from Debian with its own config and storage in the scratch folder.
export async function startPrometheus(config, port) {
  const file = scratchPath('prometheus.yml');
  writeFileSync(file, config);
  const child = spawn('prometheus', [
    `--config.file=${file}`, `--storage.tsdb.path=${scratchPath('tsdb')}`,
    `--web.listen-address=127.0.0.1:${port}`, '--log.level=warn',
  ], { stdio: ['ignore', 'ignore', openSync(scratchPath('prometheus.log'), 'w')] });
  started.push(child);
  const url = `http://127.0.0.1:${port}`;
  await waitFor('Prometheus ready', async () => (await fetch(`${url}/-/ready`)).ok, 15000);
  return url;
}
