"""Exports into workbooks written by independent programs: python3-xlwt,
SheetJS (npm "xlsx", BIFF8) and Gnumeric's ssconvert (which converts the
xlwt book and computes its formulas), each also in the 1904 date system; and
into a book ssconvert writes with a rich-text (RSTRING) cell.

Each book gets one export into a new sheet (named and titled in UTF-8 beyond
ASCII) and, on a fresh copy, one into its sheet "Data" under the name "DATA".
Every cell of the original outside the area the export writes must read back
in xlrd with the same value and the same number format; the date system and
the sheet names stay; xlrd (verbosity 1), olefile (strict) and ssconvert must
not remark on the result. An encrypted book and a text that is not UTF-8 are
refused with the file left byte for byte.

A missing writer fails the check: scripts/bootstrap installs them."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

import olefile
import xlrd

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_xls_export import f32, image  # noqa: E402
from xls_check import xlrd_remarks  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WRITERS = os.path.join(HERE, "writers")

# The export: a 4 x 1 profile, labels "q I", step 0.5.
PIXELS = [i * 10 + 0.25 for i in range(4)]


def written_cells(title):
    cells = {(0, 0): title, (1, 0): "q", (1, 1): "I", (1, 2): None}
    for i, v in enumerate(PIXELS):
        cells[(i + 2, 0)] = f32(f32(float(i)) * 0.5)
        cells[(i + 2, 1)] = f32(v)
    return cells


def make_books(wd):
    """The six foreign books: {name: path}."""
    books = {}
    for mode in ("1900", "1904"):
        extra = ["1904"] if mode == "1904" else []
        x = os.path.join(wd, "xlwt_%s.xls" % mode)
        subprocess.run([sys.executable, os.path.join(WRITERS, "xlwt_book.py"), x] + extra, check=True)
        books["xlwt_" + mode] = x
        s = os.path.join(wd, "sheetjs_%s.xls" % mode)
        node = shutil.which("node")
        assert node, "node is missing (scripts/bootstrap installs nodejs)"
        assert os.path.isdir(os.path.join(HERE, "node_modules", "xlsx")), \
            "tests/interop/node_modules/xlsx is missing (scripts/bootstrap installs it with npm)"
        subprocess.run([node, os.path.join(WRITERS, "sheetjs_book.js"), s] + extra, check=True)
        books["sheetjs_" + mode] = s
        g = os.path.join(wd, "gnumeric_%s.xls" % mode)
        done = subprocess.run(["ssconvert", "--recalc", x, g], capture_output=True, text=True)
        assert done.returncode == 0 and os.path.exists(g), ("ssconvert", done.stderr)
        books["gnumeric_" + mode] = g
    return books


KINDS = {xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number", xlrd.XL_CELL_DATE: "number",
         xlrd.XL_CELL_BOOLEAN: "Boolean", xlrd.XL_CELL_ERROR: "error"}


ODS_CONTENT = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.2">
 <office:automatic-styles>
  <style:style style:name="T1" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
 </office:automatic-styles>
 <office:body><office:spreadsheet><table:table table:name="Notes"><table:table-row>
  <table:table-cell office:value-type="string"
   ><text:p>Sample <text:span text:style-name="T1">Au-17</text:span> annealed</text:p></table:table-cell>
  <table:table-cell office:value-type="float" office:value="2.5"><text:p>2.5</text:p></table:table-cell>
 </table:table-row></table:table></office:spreadsheet></office:body>
</office:document-content>
"""


def make_rich_book(wd):
    """A book whose cell A1 holds a text with a bold span, which ssconvert
    writes as an RSTRING record. Its OpenDocument reader takes the zipped
    form only (not the flat .fods), so the .ods is zipped here."""
    ods = os.path.join(wd, "notes.ods")
    with zipfile.ZipFile(ods, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
        z.writestr("content.xml", ODS_CONTENT)
    book = os.path.join(wd, "notes.xls")
    done = subprocess.run(["ssconvert", ods, book], capture_output=True, text=True)
    assert done.returncode == 0 and os.path.exists(book), ("ssconvert", done.stderr)
    ole = olefile.OleFileIO(book)
    stream = ole.openstream("Workbook").read()
    ole.close()
    codes, p = [], 0
    while p + 4 <= len(stream):
        code, size = struct.unpack_from("<HH", stream, p)
        codes.append(code)
        p += 4 + size
    assert 0x00D6 in codes, "ssconvert wrote no RSTRING record"
    return book


def snapshot(path):
    """(datemode, sheet names, {(sheet, row, col): (kind, value, format)})
    of every cell that holds a value; kind is "text", "number" (dates are
    numbers to compare), "Boolean" or "error" (its value the error code)."""
    book = xlrd.open_workbook(path, formatting_info=True)
    cells = {}
    for k in range(book.nsheets):
        sheet = book.sheet_by_index(k)
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                if cell.ctype == xlrd.XL_CELL_TEXT and cell.value == "":
                    continue  # a formula whose last result is an empty text
                kind = KINDS[cell.ctype]
                fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
                cells[(sheet.name, r, c)] = (kind, cell.value if kind == "text" else float(cell.value), fmt)
    return book.datemode, book.sheet_names(), cells


def remarks(path):
    """What the three readers say about a file; empty when all is well."""
    said = []
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    try:
        said += ["olefile: %s" % (p,) for p in ole.parsing_issues]
        if not ole.exists("Workbook"):
            said.append("olefile: no Workbook stream")
    finally:
        ole.close()
    log = tempfile.TemporaryFile("w+")
    xlrd.open_workbook(path, formatting_info=True, verbosity=1, logfile=log)
    log.seek(0)
    xl = xlrd_remarks(log.read())
    if xl:
        said.append("xlrd: " + xl)
    out = path + ".gnumeric"
    done = subprocess.run(["ssconvert", path, out], capture_output=True, text=True)
    if done.returncode != 0 or done.stderr:
        said.append("ssconvert: %d %s" % (done.returncode, done.stderr))
    if os.path.exists(out):
        os.remove(out)
    return said


def compare(before, after, sheet, title):
    """Original cells outside the written area that were lost or changed
    (a cell that was not there before counts as changed), and written cells
    that do not read back as written, as lists of descriptions."""
    lost, changed, wrong = [], [], []
    written = written_cells(title)
    for key, old in before.items():
        if key[0] == sheet and (key[1], key[2]) in written:
            continue
        new = after.get(key)
        if new is None:
            lost.append((key, old))
        elif new != old:
            changed.append((key, old, new))
    for key, new in after.items():
        if key[0] != sheet or (key[1], key[2]) not in written:
            if key not in before:
                changed.append((key, None, new))
    for (r, c), want in written.items():
        got = after.get((sheet, r, c))
        if (got[1] if got else None) != want:
            wrong.append(((sheet, r, c), want, got))
    return lost, changed, wrong


def run(wd, name, script):
    """Runs script bytes (UTF-8 text as the host passes it on) through orvanhost;
    returns its Results text."""
    with open(os.path.join(wd, name + ".s"), "wb") as f:
        f.write(script)
    done = subprocess.run([os.environ["ORVANHOST"], "--module", os.environ["ORVAN_MODULE"], name + ".s"],
                          cwd=wd, capture_output=True)
    assert done.returncode == 0, (name, done.returncode, done.stderr)
    return done.stdout


def export_into(wd, src, name, sheet, title):
    book = os.path.join(wd, name + ".xls")
    shutil.copyfile(src, book)
    said = run(wd, name, (image("p", 4, 1, "x * 10 + 0.25") +
                          'saveprofileasxlslong(p, "%s.xls", "q I", 0.5, "%s", "%s");\n'
                          % (name, title, sheet)).encode("utf-8"))
    assert said == b"", (name, said)
    return book


def main():
    problems = []
    with tempfile.TemporaryDirectory() as wd:
        books = make_books(wd)
        total_lost = total_changed = total_remarks = 0
        for name, src in sorted(books.items()):
            mode, names, cells = snapshot(src)
            assert names == ["Data", "Other", "Donn\u00e9es"] and mode == (1 if name.endswith("1904") else 0), \
                (name, mode, names)
            cases = [("new", "R\u00e9sum\u00e9 \u03a9", "\u00c5ngstr\u00f6m", ["R\u00e9sum\u00e9 \u03a9"] + names,
                      "R\u00e9sum\u00e9 \u03a9"),
                     ("existing", "DATA", "Title", names, "Data")]
            for case, sheet, title, want_names, target in cases:
                out = export_into(wd, src, "%s_%s" % (name, case), sheet, title)
                mode2, names2, cells2 = snapshot(out)
                lost, changed, wrong = compare(cells, cells2, target, title)
                said = remarks(out)
                print("%s into %s sheet: of %d cells, %d lost and %d changed; %d written cells wrong; "
                      "%d reader remarks" % (name, case, len(cells), len(lost), len(changed), len(wrong), len(said)))
                total_lost += len(lost)
                total_changed += len(changed)
                total_remarks += len(said)
                if mode2 != mode:
                    problems.append("%s %s: date system %d became %d" % (name, case, mode, mode2))
                if names2 != want_names:
                    problems.append("%s %s: sheets %r, expected %r" % (name, case, names2, want_names))
                for item in lost[:5] + changed[:5] + wrong[:5] + said:
                    problems.append("%s %s: %r" % (name, case, item))
        print("in all: %d cells lost, %d changed, %d reader remarks" % (total_lost, total_changed, total_remarks))

        # A text with formatting runs keeps its text (the runs go).
        rich = make_rich_book(wd)
        want = {("Notes", 0, 0): ("text", "Sample Au-17 annealed"), ("Notes", 0, 1): ("number", 2.5)}
        assert {k: v[:2] for k, v in snapshot(rich)[2].items()} == want
        out = export_into(wd, rich, "rich", "Profile", "t")
        got = {k: v[:2] for k, v in snapshot(out)[2].items() if k[0] == "Notes"}
        if got != want:
            problems.append("rich text: %r" % got)
        problems += ["rich text: %s" % said for said in remarks(out)]

        # Refusals leave the file byte for byte: an encrypted workbook (a
        # FILEPASS record in place of the xlwt book's WRITEACCESS, the same
        # size), and a sheet name that is not UTF-8.
        locked = os.path.join(wd, "locked.xls")
        shutil.copyfile(books["xlwt_1900"], locked)
        ole = olefile.OleFileIO(locked, write_mode=True)
        stream = bytearray(ole.openstream("Workbook").read())
        at = stream.find(b"\x5c\x00\x70\x00")  # WRITEACCESS, 112 bytes
        assert at > 0, "no WRITEACCESS record to replace"
        stream[at:at + 2] = b"\x2f\x00"
        stream[at + 4:at + 6] = b"\x01\x00"  # RC4
        ole.write_stream("Workbook", bytes(stream))
        ole.close()
        plain = os.path.join(wd, "plain.xls")
        shutil.copyfile(books["sheetjs_1900"], plain)
        digests = {p: hashlib.sha256(open(p, "rb").read()).hexdigest() for p in (locked, plain)}
        said = run(wd, "refused", image("p", 4, 1, "x").encode() +
                   b'saveprofileasxls(p, "locked.xls", "q", 1);\n'
                   b'saveprofileasxlslong(p, "plain.xls", "q", 1, "t", "Bad \xff name");\n')
        expected = ('exception caught: saveprofileasxls: "locked.xls" is an encrypted workbook, which cannot be '
                    "read; it was left unchanged\n"
                    "exception caught: saveprofileasxlslong: the sheet name is not UTF-8 text (byte 0xFF at "
                    "offset 4)\n").encode()
        if said != expected:
            problems.append("refusals: %r" % said)
        for p, digest in digests.items():
            if hashlib.sha256(open(p, "rb").read()).hexdigest() != digest:
                problems.append("%s was changed by a refused export" % p)

    for p in problems:
        print("PROBLEM", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
