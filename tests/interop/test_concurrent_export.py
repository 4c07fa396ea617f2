"""Two orvanhost processes exporting into one workbook at the same time, each
adding 40 sheets of its own, starting where there is no file yet: every
sheet of both is kept, each with what was written into it."""
import os
import subprocess
import sys
import tempfile

import xlrd

SHEETS = 40


def script(prefix):
    # Sheet <prefix><k> gets the title <prefix><k> and k as pixel (0, 0).
    return ('image p := RealImage("p", 4, 3, 1);\n'
            'for (number k = 0; k < %d; k = k + 1) {\n'
            '  SetPixel(p, 0, 0, k);\n'
            '  saveprofileasxlslong(p, "shared.xls", "q I", 1, "%s" + k, "%s" + k);\n'
            '}\n' % (SHEETS, prefix, prefix))


def main():
    with tempfile.TemporaryDirectory() as wd:
        runs = []
        for prefix in ("A", "B"):
            path = os.path.join(wd, prefix + ".s")
            with open(path, "w") as f:
                f.write(script(prefix))
            runs.append(subprocess.Popen([os.environ["ORVANHOST"], "--module", os.environ["ORVAN_MODULE"], path],
                                         cwd=wd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
        for run in runs:
            out, err = run.communicate()
            assert run.returncode == 0 and out == "" and err == "", (run.returncode, out, err)

        book = xlrd.open_workbook(os.path.join(wd, "shared.xls"))
        names = book.sheet_names()
        expected = ["%s%d" % (p, k) for p in "AB" for k in range(SHEETS)]
        missing = sorted(set(expected) - set(names))
        assert not missing, "%d of %d sheets lost: %s" % (len(missing), len(expected), missing)
        assert sorted(names) == sorted(expected + ["Sheet1"]), names
        for name in expected:
            sheet = book.sheet_by_name(name)
            assert sheet.cell_value(0, 0) == name and sheet.cell_value(2, 1) == int(name[1:]), name
        left = sorted(os.listdir(wd))
        assert left == ["A.s", "B.s", "shared.xls"], left
    return 0


if __name__ == "__main__":
    sys.exit(main())
