// Prints a database as JSON through mdb-reader, a reader independent of our writer:
//   node dump.mjs FILE [TABLE...]
// {"password":..., "tables":[...], "systemTables":[...], "data":{"T":{"rowCount":n,
//  "columns":[{name,type,size,precision,scale}], "rows":[[...], ...]}}}
// Bytes print as hex, dates as ISO text (the stored day count read as UTC).
import fs from "node:fs";
import MDBReader from "mdb-reader";

const [file, ...wanted] = process.argv.slice(2);
const reader = new MDBReader(fs.readFileSync(file));
const tables = reader.getTableNames();
const out = {
  password: reader.getPassword(),
  tables,
  systemTables: reader.getTableNames({ normalTables: false, systemTables: true }),
  data: {},
};
const cell = (v) => {
  if (Buffer.isBuffer(v)) return v.toString("hex");
  if (v instanceof Date) return v.toISOString();
  return v;
};
for (const name of wanted.length ? wanted : tables) {
  const t = reader.getTable(name);
  const columns = t.getColumns();
  out.data[name] = {
    rowCount: t.rowCount,
    columns: columns.map((c) => ({ name: c.name, type: c.type, size: c.size, precision: c.precision, scale: c.scale })),
    rows: t.getData().map((r) => columns.map((c) => cell(r[c.name]))),
  };
}
process.stdout.write(JSON.stringify(out));
