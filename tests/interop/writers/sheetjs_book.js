// Writes the sample workbook with SheetJS (npm "xlsx", an independent BIFF8
// writer that puts cell records straight into the sheet, without ROW or
// DBCELL records):
//   node sheetjs_book.js OUTPUT.xls [1904]
// The module is looked up in tests/interop/node_modules (scripts/bootstrap
// installs it there).
"use strict";
const path = require("path");
const XLSX = require(path.join(__dirname, "..", "node_modules", "xlsx"));

const out = process.argv[2];
const date1904 = process.argv[3] === "1904";

let longNarrow = "";
for (let i = 0; i < 9000; ++i) longNarrow += String.fromCharCode(97 + (i % 26));
let longWide = "";
for (let i = 0; i < 5000; ++i) longWide += String.fromCharCode(0x0410 + (i % 32));
longWide += "\u6570\u636e";

function sheet(cells, range) {
  const ws = { "!ref": range };
  for (const [ref, cell] of Object.entries(cells)) ws[ref] = cell;
  return ws;
}

const data = sheet({
  C1: { t: "s", v: "Sample" },
  D1: { t: "s", v: "\u00c5ngstr\u00f6m \u03a9" },
  C3: { t: "n", v: 3.14159, z: "0.000" },
  D3: { t: "n", v: 45000.5, z: "yyyy-mm-dd hh:mm" },
  E3: { t: "n", v: 1234.5, z: "#,##0.00" },
  F3: { t: "n", v: 0.125, z: "0.0%" },
  B4: { t: "n", v: 99 },  // inside the area an export writes
  C4: { t: "n", v: 6.28318, f: "C3*2" },
  D4: { t: "n", v: 43, f: "Other!B2+1" },
  A7: { t: "n", v: -7 },
  B7: { t: "n", v: 2.469, z: "0.000" },
  A8: { t: "s", v: longNarrow },
  A9: { t: "s", v: longWide },
  A10: { t: "b", v: true },
  C10: { t: "s", v: "Sample" },
}, "A1:F10");
const other = sheet({
  A1: { t: "s", v: "\u03a9mega" },
  B2: { t: "n", v: 42 },
  A3: { t: "n", v: 67.8975, z: "#,##0.00" },
}, "A1:B3");
const third = sheet({
  A1: { t: "s", v: "caf\u00e9" },
  D5: { t: "n", v: 1e-300 },
}, "A1:D5");

const wb = {
  SheetNames: ["Data", "Other", "Donn\u00e9es"],
  Sheets: { Data: data, Other: other, "Donn\u00e9es": third },
  Workbook: { WBProps: { date1904 } },
};
XLSX.writeFile(wb, out, { bookType: "biff8" });
