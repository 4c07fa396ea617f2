"""Workbooks written through the document object, read by xlrd and olefile.

Each scenario of the xls_writer tool writes a workbook and a manifest of the
sheets and cells the scenario meant to write; the workbook must read back as
exactly that (see xls_check.py)."""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xls_check import check_book  # noqa: E402


def read_manifest(path):
    sheets = []
    with open(path) as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts[0] == "S":
                sheets.append((bytes.fromhex(parts[1]).decode("utf-8"), {}))
            elif parts[0] == "N":
                sheets[-1][1][(int(parts[1]), int(parts[2]))] = float(parts[3])
            elif parts[0] == "T":
                sheets[-1][1][(int(parts[1]), int(parts[2]))] = bytes.fromhex(parts[3]).decode("utf-8")
    return sheets


def main():
    writer = os.environ["ORVAN_TOOL_XLS_WRITER"]
    with tempfile.TemporaryDirectory() as workdir:
        for scenario in ("new", "kinds", "wide", "reload", "strings", "blocks"):
            book = os.path.join(workdir, scenario + ".xls")
            manifest = os.path.join(workdir, scenario + ".txt")
            subprocess.run([writer, scenario, book, manifest], check=True)
            expected = read_manifest(manifest)
            check_book(book, expected)
            print("%s: %d sheets, %d cells" % (scenario, len(expected), sum(len(c) for _, c in expected)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
