// Every response the gateway's HTTP-level native tests saw, as they recorded it (see
// tests/support/api_responses.h), checked against the API document: its route and status are
// documented, its content type and JSON body are as documented, and every documented route was
// seen. HEAD is checked as the GET it stands for, without a body.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import SwaggerParser from '@apidevtools/swagger-parser';
import Ajv from 'ajv';
import { documented, segments } from './api_paths.mjs';
import { root } from './processes.mjs';

const recorded = process.env.VANTREL_API_RESPONSES;
// What a path no route takes may get, as the document's description says.
const unrouted = new Set([400, 404, 405, 431]);

async function document() {
  const source = JSON.parse(readFileSync(path.join(root, 'gateway/api/api_doc/openapi.json')));
  return SwaggerParser.dereference(source);
}

function operations(doc) {
  return Object.entries(doc.paths).flatMap(([template, item]) =>
    ['get', 'post', 'put', 'delete'].filter((m) => item[m]).map((method) => ({ method, template, op: item[method] })));
}

// OpenAPI 3.0's schemas are JSON Schema with `nullable` (which Ajv knows) and `example`.
function validator() {
  const ajv = new Ajv({ allErrors: true });
  ajv.addKeyword('example');
  ajv.addFormat('date-time', /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)$/);
  ajv.addFormat('binary', true);
  const compiled = new Map();
  return (schema, value) => {
    if (!compiled.has(schema)) compiled.set(schema, ajv.compile(schema));
    const check = compiled.get(schema);
    return check(value) ? null : ajv.errorsText(check.errors);
  };
}

// What is wrong with one recorded response; null when nothing is.
function fault(ops, validate, errorSchema, r) {
  const method = r.method === 'HEAD' ? 'get' : r.method.toLowerCase();
  const found = documented(ops, method, segments(r.path));
  const mediaType = r.contentType.split(';')[0].trim();
  let content;
  if (!found) {
    if (!unrouted.has(r.status)) return `${r.status} from a path the document has not`;
    content = { 'application/json': { schema: errorSchema } };
  } else {
    const response = found.op.responses[String(r.status)];
    if (!response) return `${r.status} is not among ${found.template}'s`;
    content = response.content ?? {};
  }
  const media = content[mediaType];
  if (!media) {
    const bodiless = Object.keys(content).length === 0 && r.body === undefined;
    return bodiless ? null : `content type "${r.contentType}" is not documented`;
  }
  if (r.method === 'HEAD' || r.body === undefined) return null;
  let body;
  try {
    body = JSON.parse(r.body);
  } catch {
    return `the body is not JSON: ${r.body.slice(0, 80)}`;
  }
  const wrong = validate(media.schema, body);
  return wrong && `${wrong}: ${r.body.slice(0, 200)}`;
}

test('every operation of the document has its own operationId', async () => {
  const ids = operations(await document()).map(({ op }) => op.operationId);
  assert.ok(ids.every((id) => typeof id === 'string' && /^[A-Za-z]\w*$/.test(id)), ids.join());
  assert.equal(new Set(ids).size, ids.length, 'an operationId is used twice');
});

test('every response the HTTP-level tests saw is documented and valid, and every route was seen', async () => {
  assert.ok(recorded && existsSync(recorded),
    `no recorded responses at "${recorded}": tests/kit/run records them, or run the gateway's ` +
    'native tests with VANTREL_API_RESPONSES set');
  const lines = readFileSync(recorded, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
  const doc = await document();
  const ops = operations(doc);
  const validate = validator();
  const faults = new Map();  // one example of each kind of fault
  const seen = new Set();
  for (const r of lines) {
    const wrong = fault(ops, validate, doc.components.schemas.Error, r);
    const found = documented(ops, r.method === 'HEAD' ? 'get' : r.method.toLowerCase(), segments(r.path));
    const where = `${r.method} ${found ? found.template : r.path} ${r.status}`;
    if (wrong && !faults.has(where)) faults.set(where, wrong);
    if (found && !wrong) seen.add(`${found.method} ${found.template}`);
  }
  assert.deepEqual([...faults].map(([where, wrong]) => `${where}: ${wrong}`), [],
    'responses the document does not describe');
  const unseen = ops.filter(({ method, template }) => !seen.has(`${method} ${template}`))
    .map(({ method, template }) => `${method.toUpperCase()} ${template}`);
  assert.deepEqual(unseen, [], 'documented routes no test saw');
  assert.ok(lines.length > 100, `only ${lines.length} responses were recorded`);
});
