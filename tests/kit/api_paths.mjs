// Where a request lands in the API document: its paths as segments, matched as the router
// matches them.

// "/api/units/{unit}" -> ["api", "units", "{unit}"]; "/" -> [""].
export const segments = (p) => p.slice(1).split('/');
export const isParameter = (segment) => /^\{.+\}$/.test(segment);

// The operation of `ops` ({method, template, ...}) a request lands on: the documented path that
// matches with the most literal segments, as a router would prefer "/api/openapi.json" to
// "/api/{anything}".
export function documented(ops, method, parts) {
  const matches = ops.filter((op) => {
    const t = segments(op.template);
    return op.method === method && t.length === parts.length &&
      t.every((s, i) => isParameter(s) || s === parts[i]);
  });
  const literals = (op) => segments(op.template).filter((s) => !isParameter(s)).length;
  return matches.sort((a, b) => literals(b) - literals(a))[0];
}
