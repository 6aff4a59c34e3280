// Second-reader oracle: prints every user table of a database as JSON
// ({table: {columns: [{name, type}], rows: [[value, ...]]}}) with values
// reduced to strings the comparison script understands:
// booleans "1"/"0", dates "YYYY-MM-DD HH:MM:SS" (UTC fields, rounded to the
// second), buffers lowercase hex, everything else String(value).
// Usage: node mdb_reader_dump.mjs FILE [PASSWORD]
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, password] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file), password ? { password } : undefined);

function pad(n, w = 2) {
  return String(n).padStart(w, "0");
}
function norm(v) {
  if (v === null || v === undefined) return null;
  if (typeof v === "boolean") return v ? "1" : "0";
  if (v instanceof Date) {
    const d = new Date(Math.round(v.getTime() / 1000) * 1000);
    return `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
      `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
  }
  if (Buffer.isBuffer(v)) return v.toString("hex");
  return String(v);
}

const out = {};
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type }));
  const rows = table.getData().map((row) => columns.map((c) => norm(row[c.name])));
  out[name] = { columns, rows };
}
process.stdout.write(JSON.stringify(out));
