# Prints the cells of every sheet of a workbook stream as an independent
# reader sees them: "sheet NAME ROWS" then "ROW COL TYPE VALUE" per cell.
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], formatting_info=False)
for sheet in book.sheets():
    print("sheet %s %d" % (sheet.name, sheet.nrows))
    for r in range(sheet.nrows):
        for c in range(sheet.row_len(r)):
            cell = sheet.cell(r, c)
            if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                continue
            if cell.ctype == xlrd.XL_CELL_NUMBER:
                value = repr(float(cell.value))
            elif cell.ctype == xlrd.XL_CELL_TEXT:
                value = cell.value.encode("unicode_escape").decode("ascii")
            else:
                value = str(int(cell.value))
            print("%d %d %d %s" % (r, c, cell.ctype, value))
