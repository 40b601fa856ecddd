#!/usr/bin/env node
// Dumps one table of a Jet database as CSV with mdb-reader, in the value
// forms tessmark-cli dump uses, for the cross-check tests.
//   node dump-table.js FILE TABLE
'use strict';
const fs = require('fs');
const MDBReader = require('mdb-reader').default;

function pad(n, w) { return String(n).padStart(w, '0'); }

function field(value) {
  if (value === null || value === undefined) return '';
  if (typeof value === 'boolean') return value ? 'true' : 'false';
  if (typeof value === 'number' || typeof value === 'bigint') return String(value);
  if (value instanceof Date) {
    const d = value;
    const text = `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1, 2)}-${pad(d.getUTCDate(), 2)} ` +
      `${pad(d.getUTCHours(), 2)}:${pad(d.getUTCMinutes(), 2)}:${pad(d.getUTCSeconds(), 2)}`;
    return '"' + text + '"';
  }
  if (Buffer.isBuffer(value)) return '"' + value.toString('hex').toUpperCase() + '"';
  return '"' + String(value).replace(/"/g, '""') + '"';
}

const [file, table] = process.argv.slice(2);
if (!file || !table) {
  process.stderr.write('usage: node dump-table.js FILE TABLE\n');
  process.exit(2);
}
const reader = new MDBReader(fs.readFileSync(file));
const t = reader.getTable(table);
const columns = t.getColumnNames();
const out = [columns.join(',')];
for (const row of t.getData()) {
  out.push(columns.map((c) => field(row[c])).join(','));
}
process.stdout.write(out.join('\n') + '\n');
