"""The three export script functions run through orvanhost, their workbooks read
by xlrd and olefile (see xls_check.py) against values computed here.

Pixels are set from the script as doubles and stored as 4-byte reals, and the
axis value is i * step in single precision; f32() gives the same roundings,
so every expected value is exact."""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_xls_document import read_manifest  # noqa: E402
from xls_check import Error, check_book  # noqa: E402


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def run(workdir, name, body, results=""):
    script = os.path.join(workdir, name + ".s")
    with open(script, "w") as f:
        f.write(body)
    done = subprocess.run([os.environ["ORVANHOST"], "--module", os.environ["ORVAN_MODULE"], script],
                          cwd=workdir, capture_output=True, text=True)
    assert done.returncode == 0, (name, done.returncode, done.stderr)
    assert done.stdout == results, (name, done.stdout, results)


def image(name, width, height, value):
    """Script lines making a width x height image whose pixel (x, y) is the
    script expression value (in x and y)."""
    return ('image %s := RealImage("%s", 4, %d, %d);\n'
            "for (number y = 0; y < %d; y = y + 1) {\n"
            "  for (number x = 0; x < %d; x = x + 1) { SetPixel(%s, x, y, %s); }\n"
            "}\n" % (name, name, width, height, height, width, name, value))


def title_and_labels(cells, title, words):
    """Row 0 and row 1 as an export leaves them: the title, the words, the
    cell after the last word cleared, old label cells further right kept."""
    cells.pop((0, 0), None)
    if title:
        cells[(0, 0)] = title
    for k, w in enumerate(words):
        cells[(1, k)] = w
    cells.pop((1, len(words)), None)


def profile_cells(cells, values, step, lines=1):
    """values[j][i]: pixel (i, j) of a profile image."""
    for i in range(len(values[0])):
        cells[(i + 2, 0)] = f32(f32(float(i)) * f32(step))
        for j in range(lines):
            cells[(i + 2, j + 1)] = f32(values[j][i])


def main():
    with tempfile.TemporaryDirectory() as wd:
        # A new file: the sheet "Profile" in front of the workbook's own sheet.
        run(wd, "new", image("p", 4, 1, "x * 10 + 0.1") +
            'saveprofileasxls(p, "a.xls", "  q   intensity ", 0.5);\n')
        profile = {}
        title_and_labels(profile, "Profile", ["q", "intensity"])
        profile_cells(profile, [[i * 10 + 0.1 for i in range(4)]], 0.5)
        check_book(os.path.join(wd, "a.xls"), [("Profile", dict(profile)), ("Sheet1", {})])

        # The same sheet again, a longer profile with step 0.1 (axis value 1
        # reads as the single-precision 0.1); no second sheet of that name.
        run(wd, "again", image("p", 6, 1, "x - 2.5") + 'saveprofileasxls(p, "a.xls", "q I", 0.1);\n')
        title_and_labels(profile, "Profile", ["q", "I"])
        profile_cells(profile, [[i - 2.5 for i in range(6)]], 0.1)
        assert profile[(3, 0)] == 0.10000000149011612
        check_book(os.path.join(wd, "a.xls"), [("Profile", dict(profile)), ("Sheet1", {})])

        # A new sheet goes in front of all others; then a shorter profile over
        # the longer one leaves the old rows behind its end, and a single
        # label word clears only the cell after it.
        run(wd, "front", image("p", 5, 2, "x + y * 100") +
            'saveprofileasxlslong(p, "a.xls", "a b c", 2, "Two lines", "Second");\n')
        second = {}
        title_and_labels(second, "Two lines", ["a", "b", "c"])
        profile_cells(second, [[i for i in range(5)], [i + 100 for i in range(5)]], 2, lines=2)
        check_book(os.path.join(wd, "a.xls"), [("Second", dict(second)), ("Profile", dict(profile)), ("Sheet1", {})])
        run(wd, "shorter", image("p", 3, 2, "-x - y") +
            'saveprofileasxlslong(p, "a.xls", "x", 1, "", "Second");\n')
        title_and_labels(second, "", ["x"])
        profile_cells(second, [[-i for i in range(3)], [-i - 1 for i in range(3)]], 1, lines=2)
        assert second[(6, 0)] == 8.0 and second[(1, 2)] == "c" and (1, 1) not in second
        check_book(os.path.join(wd, "a.xls"), [("Second", dict(second)), ("Profile", dict(profile)), ("Sheet1", {})])

        # A 3 x 2 image: image line y is row y + 2.
        run(wd, "image", image("m", 3, 2, "x + 10 * y + 0.25") +
            'saveimageasxls(m, "b.xls", "c0 c1 c2", "Image", "Pixels");\n')
        pixels = {}
        title_and_labels(pixels, "Image", ["c0", "c1", "c2"])
        for y in range(2):
            for x in range(3):
                pixels[(y + 2, x)] = x + 10 * y + 0.25
        check_book(os.path.join(wd, "b.xls"), [("Pixels", pixels), ("Sheet1", {})])

        # The largest profile (65534 rows) and the widest image (256 columns).
        run(wd, "long", image("p", 65534, 1, "x / 3") + 'saveprofileasxls(p, "c.xls", "", 1);\n')
        long_profile = {(0, 0): "Profile"}
        profile_cells(long_profile, [[i / 3 for i in range(65534)]], 1)
        check_book(os.path.join(wd, "c.xls"), [("Profile", long_profile), ("Sheet1", {})])
        run(wd, "wide", image("m", 256, 3, "x * 0.5 - y") + 'saveimageasxls(m, "d.xls", "", "W", "Wide");\n')
        wide_image = {(0, 0): "W"}
        for y in range(3):
            for x in range(256):
                wide_image[(y + 2, x)] = x * 0.5 - y
        check_book(os.path.join(wd, "d.xls"), [("Wide", wide_image), ("Sheet1", {})])

        # Into a workbook with wide sheet names and wide texts: all of them stay.
        book = os.path.join(wd, "e.xls")
        manifest = os.path.join(wd, "e.txt")
        subprocess.run([os.environ["ORVAN_TOOL_XLS_WRITER"], "wide", book, manifest], check=True)
        expected = read_manifest(manifest)
        run(wd, "into_wide", image("p", 2, 1, "x") + 'saveprofileasxls(p, "e.xls", "q", 1);\n')
        added = {}
        title_and_labels(added, "Profile", ["q"])
        profile_cells(added, [[0, 1]], 1)
        check_book(book, [("Profile", added)] + expected)

        # NaN and infinite pixels (and axis values) become error cells, NaN
        # #NUM! and either infinity #DIV/0!, in each export function.
        num, div0 = Error(0x24), Error(0x07)
        special = ("number nan = 0 / 0; number inf = 1 / 0;\n" + image("p", 4, 1, "x") +
                   "SetPixel(p, 1, 0, nan); SetPixel(p, 2, 0, inf); SetPixel(p, 3, 0, -inf);\n")
        run(wd, "special", special +
            'saveprofileasxls(p, "f.xls", "", 1);\n'
            'saveprofileasxlslong(p, "f.xls", "", nan, "t", "Long");\n'
            'saveimageasxls(p, "f.xls", "", "i", "Image");\n')
        values = [0.0, num, div0, div0]
        column = {(i + 2, 1): v for i, v in enumerate(values)}
        check_book(os.path.join(wd, "f.xls"), [
            ("Image", {(0, 0): "i", **{(2, x): v for x, v in enumerate(values)}}),
            ("Long", {(0, 0): "t", **{(i + 2, 0): num for i in range(4)}, **column}),
            ("Profile", {(0, 0): "Profile", **{(i + 2, 0): float(i) for i in range(4)}, **column}),
            ("Sheet1", {})])

        # Refusals leave the file byte for byte: a file that is no workbook,
        # a profile too long for a sheet, and sheet names spreadsheet programs
        # refuse.
        other = os.path.join(wd, "notes.xls")
        with open(other, "wb") as f:
            f.write(b"not a workbook\n" * 100)
        before = hashlib.sha256(open(other, "rb").read()).hexdigest()
        saved = hashlib.sha256(open(book, "rb").read()).hexdigest()
        run(wd, "refused", image("p", 2, 1, "x") + image("q", 65535, 1, "0") +
            'saveprofileasxls(p, "notes.xls", "q", 1);\n'
            'saveprofileasxls(q, "e.xls", "q", 1);\n'
            'saveprofileasxlslong(p, "e.xls", "q", 1, "t", "a/b");\n'
            'saveimageasxls(p, "e.xls", "q", "t", "\'Quoted\'");\n',
            'exception caught: saveprofileasxls: "notes.xls" exists but is not a readable workbook; '
            "it was left unchanged\n"
            "exception caught: saveprofileasxls: a profile 65535 points long does not fit a sheet "
            "(at most 65534 rows of data)\n"
            'exception caught: saveprofileasxlslong: cannot add a sheet named "a/b": a sheet name may not '
            "contain '/'; the file was left as it was\n"
            'exception caught: saveimageasxls: cannot add a sheet named "\'Quoted\'": a sheet name may not '
            "begin or end with an apostrophe; the file was left as it was\n")
        assert hashlib.sha256(open(other, "rb").read()).hexdigest() == before
        assert hashlib.sha256(open(book, "rb").read()).hexdigest() == saved
        assert sorted(os.listdir(wd)) == sorted(
            ["a.xls", "b.xls", "c.xls", "d.xls", "e.xls", "e.txt", "f.xls", "notes.xls"] +
            [n + ".s" for n in ("new", "again", "front", "shorter", "image", "long", "wide",
                                 "into_wide", "special", "refused")]), os.listdir(wd)
        print("export workbooks read back exactly")
    return 0


if __name__ == "__main__":
    sys.exit(main())
