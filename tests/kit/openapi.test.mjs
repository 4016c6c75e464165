// The OpenAPI document the gateway serves: valid OpenAPI 3, and a true map of the routes.
// Which routes the gateway serves is asked of the gateway itself, never listed here: every
// documented route is requested, and so is every path one step from one (a segment changed to
// any word of the router's source or of the document, added or dropped), by GET and by POST.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { before, test } from 'node:test';
import SwaggerParser from '@apidevtools/swagger-parser';
import { documented, isParameter, segments } from './api_paths.mjs';
import { root, startGateway, startUnit } from './processes.mjs';

const unit = '127.0.0.2';
let gateway;
before(async () => {
  await startUnit(unit);
  gateway = await startGateway([unit], 18023);
});

async function servedDocument() {
  const response = await fetch(`${gateway}/api/openapi.json`);
  assert.equal(response.status, 200);
  assert.match(response.headers.get('content-type'), /^application\/json/);
  return response.json();
}

test('the served document is the one in the source, and valid OpenAPI 3', async () => {
  const served = await servedDocument();
  const source = JSON.parse(readFileSync(path.join(root, 'gateway/api/api_doc/openapi.json')));
  assert.deepEqual(served, source);
  await SwaggerParser.validate(structuredClone(served));
  assert.match(served.openapi, /^3\./);
});

// The documented operations, each with a request path made from its parameters' examples;
// `doc` has its $refs resolved.
function operations(doc) {
  const list = [];
  for (const [template, item] of Object.entries(doc.paths)) {
    for (const method of ['get', 'post']) {
      if (!item[method]) continue;
      const parameters = [...(item.parameters ?? []), ...(item[method].parameters ?? [])];
      const example = segments(template).map((s) => {
        if (!isParameter(s)) return s;
        const p = parameters.find((q) => q.in === 'path' && `{${q.name}}` === s);
        return String(p.example ?? p.schema.enum[0]);
      });
      list.push({ method, template, operation: item[method], example });
    }
  }
  return list;
}

// Every word the router could match a segment against: the string literals of its route table
// and handlers, the document's segments and examples, and the page's files.
function vocabulary(ops) {
  const words = new Set(['x']);
  for (const file of ['gateway/api/routes.cpp', 'gateway/api/api.cpp']) {
    const source = readFileSync(path.join(root, file), 'utf8').replace(/^#.*$/gm, '');
    for (const [, literal] of source.matchAll(/"((?:[^"\\]|\\.)*)"/g)) {
      for (const word of literal.split('/')) if (/^[\w.-]+$/.test(word)) words.add(word);
    }
  }
  for (const op of ops) op.example.forEach((w) => w && words.add(w));
  for (const file of readdirSync(path.join(root, 'gateway/api/web'))) words.add(file);
  return [...words];
}

function neighbours(ops, words) {
  const paths = new Set(['/']);
  for (const { example } of ops) {
    paths.add('/' + example.join('/'));
    for (let i = 0; i <= example.length; ++i) {
      if (i < example.length && example.length > 1) {
        paths.add('/' + example.toSpliced(i, 1).join('/'));
      }
      for (const w of words) {
        if (i < example.length) paths.add('/' + example.toSpliced(i, 1, w).join('/'));
        paths.add('/' + example.toSpliced(i, 0, w).join('/'));
      }
    }
  }
  return [...paths];
}

// What the gateway does with a request: served by a route (its status), or not (null). A
// request no route takes gets 404 "nothing at ...", or 405 for a method the path never takes.
// POSTs carry a JSON body that is not an object: every command refuses it before it is sent.
const agent = new http.Agent({ keepAlive: true, maxSockets: 8 });
function ask(method, p) {
  const post = method === 'POST';
  const headers = post ? { 'Content-Type': 'application/json', 'Content-Length': 2 } : {};
  return new Promise((resolve, reject) => {
    const request = http.request(gateway + p, { method, agent, headers }, (response) => {
      const { statusCode } = response;
      if (response.headers['content-type']?.startsWith('text/event-stream')) {
        response.destroy();
        return resolve(statusCode);
      }
      let body = '';
      response.on('data', (chunk) => (body += chunk));
      response.on('end', () => {
        const unrouted = statusCode === 405 ||
          (statusCode === 404 && JSON.parse(body).error.startsWith('nothing at '));
        resolve(unrouted ? null : statusCode);
      });
    });
    request.on('error', reject);
    request.end(post ? '[]' : undefined);
  });
}

async function inTurn(items, work, width = 16) {
  const results = new Array(items.length);
  let next = 0;
  await Promise.all(Array.from({ length: width }, async () => {
    while (next < items.length) {
      const i = next++;
      results[i] = await work(items[i]);
    }
  }));
  return results;
}

test('every route the gateway serves is documented with its status, and every documented one is served', async () => {
  const ops = operations(await SwaggerParser.dereference(await servedDocument()));
  const requests = neighbours(ops, vocabulary(ops)).flatMap((p) => [['get', p], ['post', p]]);
  const statuses = await inTurn(requests, ([method, p]) => ask(method.toUpperCase(), p));

  const undocumented = [];
  const wrongStatus = [];
  const served = new Set();
  requests.forEach(([method, p], i) => {
    if (statuses[i] === null) return;
    const op = documented(ops, method, segments(p));
    if (!op) return undocumented.push(`${method.toUpperCase()} ${p} (${statuses[i]})`);
    served.add(`${method} ${op.template}`);
    if (!(String(statuses[i]) in op.operation.responses)) {
      wrongStatus.push(`${method.toUpperCase()} ${p}: ${statuses[i]} is not among ${op.template}'s`);
    }
  });
  assert.deepEqual(undocumented, [], 'served, but not in the document');
  assert.deepEqual(wrongStatus, [], 'answered with a status the document does not give');
  const unserved = ops.filter((op) => !served.has(`${op.method} ${op.template}`))
    .map((op) => `${op.method.toUpperCase()} ${op.template}`);
  assert.deepEqual(unserved, [], 'in the document, but not served');
  assert.ok(requests.length > 1000, `only ${requests.length} requests were made`);
});
