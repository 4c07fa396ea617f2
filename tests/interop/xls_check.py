"""Reading a workbook the way the interop checks require: olefile in strict
mode must find one stream "Workbook" and no defect; xlrd with verbosity=1
must print nothing at all (no warning, no note) while it opens the file; the
sheets must be exactly the expected names in order, and every cell exactly
the expected value (anything not expected must be empty)."""
import io
import re

import olefile
import xlrd


def open_strict(path):
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    try:
        assert not ole.parsing_issues, ole.parsing_issues
        assert ole.listdir(streams=True, storages=True) == [["Workbook"]], ole.listdir()
        data = ole.openstream("Workbook").read()
        assert len(data) == ole.get_size("Workbook")
        assert not ole.parsing_issues, ole.parsing_issues
    finally:
        ole.close()
    log = io.StringIO()
    book = xlrd.open_workbook(path, verbosity=1, logfile=log, ragged_rows=True)
    said = xlrd_remarks(log.getvalue())
    assert said == "", "xlrd said:\n" + said
    return book


# At verbosity 1 xlrd always traces things that are no remark on the file:
# the encoding it takes when there is no CODEPAGE record (BIFF8 text carries
# its own width), the date system of a DATEMODE record, and the colour
# indexes its fonts use. Everything else it
# prints (WARNING, NOTE, INFO, ERROR lines) is a remark.
def xlrd_remarks(log):
    log = log.replace("CODEPAGE: codepage 1200 -> encoding 'utf_16_le'\n", "", 1)
    log = re.sub(r"^DATEMODE: datemode [01]\n", "", log, count=1, flags=re.M)
    log = re.sub(r"\nColour indexes used:\n\[[0-9, ]*\]\n\n", "", log, count=1)
    return log


class Error:
    """An expected error cell: its code (0x07 #DIV/0!, 0x24 #NUM!, ...)."""
    def __init__(self, code):
        self.code = code

    def __repr__(self):
        return "Error(0x%02X)" % self.code


def check_book(path, expected):
    """expected: list of (sheet name, {(row, col): value}) in sheet order;
    a value is a str (text), a float (number) or an Error (error value)."""
    book = open_strict(path)
    names = book.sheet_names()
    assert names == [n for n, _ in expected], (names, [n for n, _ in expected])
    for k, (name, cells) in enumerate(expected):
        sheet = book.sheet_by_index(k)
        rows = max((r for r, _ in cells), default=-1) + 1
        cols = max((c for _, c in cells), default=-1) + 1
        assert (sheet.nrows, sheet.ncols) == (rows, cols), (name, sheet.nrows, sheet.ncols, rows, cols)
        seen = 0
        for r in range(sheet.nrows):
            for c in range(sheet.row_len(r)):
                cell = sheet.cell(r, c)
                want = cells.get((r, c))
                if want is None:
                    assert cell.ctype == xlrd.XL_CELL_EMPTY, (name, r, c, cell)
                elif isinstance(want, Error):
                    assert cell.ctype == xlrd.XL_CELL_ERROR and cell.value == want.code, (name, r, c, cell, want)
                elif isinstance(want, str):
                    assert cell.ctype == xlrd.XL_CELL_TEXT and cell.value == want, (name, r, c, cell, want)
                else:
                    assert cell.ctype == xlrd.XL_CELL_NUMBER, (name, r, c, cell, want)
                    assert cell.value == want or (cell.value != cell.value and want != want), (name, r, c, cell.value, want)
                seen += want is not None
        assert seen == len(cells), (name, "cells missing", seen, len(cells))
    return book
