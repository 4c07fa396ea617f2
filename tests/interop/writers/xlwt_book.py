"""Writes the sample workbook with python3-xlwt (an independent BIFF8 writer):
    python3 xlwt_book.py OUTPUT.xls [1904]
Sheets "Data", "Other" and "Données"; number formats, a date, Booleans and
error values, formulas
(xlwt stores no cached results; Gnumeric's
ssconvert --recalc computes them when it converts this file), a cross-sheet formula, shared strings of
more than 8224 bytes in 8-bit and 16-bit form."""
import sys

import xlwt

LONG_NARROW = "".join(chr(ord("a") + i % 26) for i in range(9000))
LONG_WIDE = "".join(chr(0x0410 + i % 32) for i in range(5000)) + "\u6570\u636e"


def main(path, date1904):
    book = xlwt.Workbook()
    book.dates_1904 = date1904
    fixed3 = xlwt.easyxf(num_format_str="0.000")
    date = xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm")
    money = xlwt.easyxf(num_format_str="#,##0.00")
    percent = xlwt.easyxf(num_format_str="0.0%")

    data = book.add_sheet("Data")
    other = book.add_sheet("Other")  # before the formula that names it
    third = book.add_sheet("Donn\u00e9es")
    data.write(0, 2, "Sample")
    data.write(0, 3, "Ångström Ω")
    data.write(2, 2, 3.14159, fixed3)
    data.write(2, 3, 45000.5, date)
    data.write(2, 4, 1234.5, money)
    data.write(2, 5, 0.125, percent)
    data.write(3, 1, 99.0)  # inside the area an export writes
    data.write(3, 2, xlwt.Formula("C3*2"))
    data.write(3, 3, xlwt.Formula("Other!B2+1"), fixed3)
    data.write(4, 2, xlwt.Formula('"ab"&"cd"'))
    data.write(4, 3, xlwt.Formula("C3>1"))
    data.write(6, 0, -7)
    data.write(6, 1, 2.469, fixed3)
    data.write(7, 0, LONG_NARROW)
    data.write(8, 0, LONG_WIDE)
    data.write(9, 0, True)
    data.write(9, 2, "Sample")  # a shared string used twice
    data.row(10).set_cell_error(0, 0x2A)  # #N/A
    data.row(10).set_cell_error(1, 0x07, fixed3)  # #DIV/0!
    data.row(10).set_cell_boolean(2, False, percent)
    data.write(10, 3, xlwt.Formula("1/0"))  # an error result once computed

    other.write(0, 0, "\u03a9mega")
    other.write(1, 1, 42)
    other.write(2, 0, 67.8975, money)

    third.write(0, 0, "caf\u00e9")
    third.write(4, 3, 1e-300)
    book.save(path)


if __name__ == "__main__":
    main(sys.argv[1], len(sys.argv) > 2 and sys.argv[2] == "1904")
