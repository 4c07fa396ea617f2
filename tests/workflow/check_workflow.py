#!/usr/bin/python3
"""Runs examples/workflow.s on a freshly generated gold pattern and checks what
it prints and writes against the pattern's known truth.

  check_workflow.py --generator make_sample_pattern --orvanhost orvanhost
                    --script workflow.s --work DIR [--module orvantools.so]
                    [--size N] [--seed S] [--steps-only]

The workbook is read back with xlrd and the TIFF files with a small reader of
our own, so nothing here trusts the module's own reading of its output.
Exit status 0 when every check passes, 1 otherwise.
"""
import argparse
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys

import xlrd

GOLD_NEAREST_NEIGHBOUR = 4.0782 / math.sqrt(2.0)  # Angstrom, fcc a / sqrt(2)
EXPECTED_SHEETS = ["Peaks", "RDF", "Reduced intensity", "Profile", "Sheet1"]


class Checks:
    def __init__(self):
        self.failures = []

    def check(self, ok, text):
        print(("ok    " if ok else "FAIL  ") + text)
        if not ok:
            self.failures.append(text)
        return ok


def read_float_tiff(path):
    """(width, height, pixels) of an uncompressed 32-bit float TIFF, pixel
    (x, y) at x + y * width."""
    with open(path, "rb") as f:
        data = f.read()
    order = {b"II": "<", b"MM": ">"}.get(data[:2])
    if order is None or struct.unpack(order + "H", data[2:4])[0] != 42:
        raise ValueError(path + ": not a TIFF file")
    (ifd,) = struct.unpack(order + "I", data[4:8])
    (count,) = struct.unpack(order + "H", data[ifd:ifd + 2])
    sizes = {1: 1, 2: 1, 3: 2, 4: 4}
    tags = {}
    for i in range(count):
        tag, kind, n, value = struct.unpack(order + "HHI4s", data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        size = sizes.get(kind, 4)
        raw = value if size * n <= 4 else data[struct.unpack(order + "I", value)[0]:][:size * n]
        code = {1: "B", 2: "B", 3: "H", 4: "I"}.get(kind, "I")
        tags[tag] = list(struct.unpack(order + code * n, raw[:size * n]))
    width, height = tags[256][0], tags[257][0]
    if tags.get(259, [1])[0] != 1 or tags.get(258, [0])[0] != 32 or tags.get(339, [0])[0] != 3:
        raise ValueError(path + ": not an uncompressed 32-bit float TIFF")
    pixels = b"".join(data[o:o + n] for o, n in zip(tags[273], tags[279]))
    if len(pixels) != 4 * width * height:
        raise ValueError(path + ": pixel data of the wrong size")
    return width, height, list(struct.unpack(order + "f" * (width * height), pixels))


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def near_ring(position, rings, sigma, tolerance):
    """True when position lies within tolerance of a true ring, or between two
    rings too close together (under 4 sigma) to be told apart."""
    radii = [r["radius_px"] for r in rings]
    if min(abs(position - r) for r in radii) <= tolerance:
        return True
    return any(a < position < b and b - a < 4 * sigma for a, b in zip(radii, radii[1:]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--generator", required=True)
    ap.add_argument("--orvanhost", required=True)
    ap.add_argument("--script", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--module")
    ap.add_argument("--size", type=int)
    ap.add_argument("--seed", type=int)
    ap.add_argument("--steps-only", action="store_true",
                    help="check only that each refinement's result is taken when it returned 1")
    a = ap.parse_args()

    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    gen = [a.generator, "--out", os.path.join(a.work, "sample")]
    if a.size:
        gen += ["--size", str(a.size)]
    if a.seed is not None:
        gen += ["--seed", str(a.seed)]
    subprocess.run(gen, check=True)
    with open(os.path.join(a.work, "sample.truth.json")) as f:
        truth = json.load(f)

    host = [a.orvanhost] + (["--module", a.module] if a.module else []) + [os.path.abspath(a.script)]
    run = subprocess.run(host, cwd=a.work, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         universal_newlines=True)
    out = run.stdout
    with open(os.path.join(a.work, "results.txt"), "w") as f:
        f.write(out)
    sys.stdout.write(out)
    c = Checks()
    if not c.check(run.returncode == 0 and run.stderr == "",
                   "workflow ran (exit %d) %s" % (run.returncode, run.stderr.strip())):
        return 1

    def number(pattern, group=1):
        m = re.search(pattern, out, re.M)
        if m is None:
            c.check(False, "output has a line matching " + pattern)
            raise SystemExit(1)
        return float(m.group(group))

    rings = truth["rings"]
    sigma = truth["ring_sigma_px"]

    # Each refinement's centre or ellipse is taken only when it returned 1:
    # a refusal of its own (a line naming it, or an exception) comes before
    # the line that keeps the last one taken.
    lines = out.splitlines()
    for function, taken, kept in (
            ("RefineCenter", "Refined centre:", "Centre kept from the guess:"),
            ("RefineCenterEllipticityFit", "Ellipse from sector fits:", "Ellipse from sector fits not taken:"),
            ("RefineCenterEllipticitySimplex", "Sharpest distortion at that centre:",
             "Sharpest distortion not taken:")):
        at = next((i for i, l in enumerate(lines) if l.startswith(taken) or l.startswith(kept)), None)
        if not c.check(at is not None, "the workflow says whether it took %s's result" % function):
            break
        refused = any(l.startswith(function + ": ") or l.startswith("exception caught:") for l in lines[:at])
        c.check(lines[at].startswith(kept if refused else taken),
                "%s %s: %s" % (function, "refused" if refused else "returned 1", lines[at]))
        lines = lines[at + 1:]
    if a.steps_only:
        print("%d check(s) failed" % len(c.failures) if c.failures else "all checks passed")
        return 1 if c.failures else 0

    # Centre and ellipse.
    cx = number(r"^Centre: x = (\S+), y = (\S+) pixels$", 1)
    cy = number(r"^Centre: x = (\S+), y = (\S+) pixels$", 2)
    off = math.hypot(cx - truth["center_x"], cy - truth["center_y"])
    c.check(off <= 0.5, "centre (%g, %g) is %.3f px from the truth (%g, %g)"
            % (cx, cy, off, truth["center_x"], truth["center_y"]))
    ellipse = r"^Ellipse: axis ratio = (\S+), angle = (\S+) degrees, ring radius (\S+) pixels$"
    ratio = number(ellipse, 1)
    angle = number(ellipse, 2)
    if ratio < 1:  # the same ellipse seen from its other axis
        ratio, angle = 1 / ratio, angle + 90
    c.check(abs(ratio - truth["axis_ratio"]) <= 0.01,
            "axis ratio %g against %g" % (ratio, truth["axis_ratio"]))
    turn = (angle - truth["angle_deg"] + 90) % 180 - 90
    c.check(abs(turn) <= 5, "ellipse angle %g degrees against %g" % (angle, truth["angle_deg"]))
    ring = number(ellipse, 3)
    nearest = min((abs(ring - r["radius_px"]), r["radius_px"]) for r in rings)
    c.check(nearest[0] <= 0.5, "ellipse ring radius %g against the ring at %g" % (ring, nearest[1]))

    # Peaks, read back from the workbook.
    book = xlrd.open_workbook(os.path.join(a.work, "workflow.xls"))
    names = [s.name for s in book.sheets()]
    # Peaks that are no single ring get a sheet of their own, in front.
    n_unresolved = re.search(r"^Unresolved \((\d+) peaks", out, re.M)
    n_unresolved = int(n_unresolved.group(1)) if n_unresolved else 0
    expected = (["Unresolved"] if n_unresolved else []) + EXPECTED_SHEETS
    c.check(names == expected, "workbook sheets %s" % names)
    if n_unresolved:
        sheet = book.sheet_by_name("Unresolved")
        c.check(sheet.nrows == n_unresolved + 2 and sheet.ncols == 7,
                "Unresolved sheet holds %d peaks of 7 values" % n_unresolved)
    peaks_sheet = book.sheet_by_name("Peaks")
    n_peaks = int(number(r"^Peaks \((\d+) rings of \d+ fitted peaks\):$"))
    c.check(peaks_sheet.nrows == n_peaks + 2 and peaks_sheet.ncols == 7,
            "Peaks sheet holds %d peaks of 7 values (%d x %d cells)"
            % (n_peaks, peaks_sheet.nrows, peaks_sheet.ncols))
    c.check(peaks_sheet.cell_value(0, 0) == "Peaks of sample.tif"
            and peaks_sheet.cell_value(1, 0) == "radius_(px)", "Peaks sheet title and labels")
    positions = [peaks_sheet.cell_value(r, 0) for r in range(2, peaks_sheet.nrows)]
    for r in rings[:8]:
        hit = min(abs(p - r["radius_px"]) for p in positions) if positions else float("inf")
        c.check(hit <= 0.5, "ring %s at %.3f px found by a peak %.3f px away"
                % (r["hkl"], r["radius_px"], hit))
    # Weak rings on the tails of others may sit a little off.
    stray = [p for p in positions if not near_ring(p, rings, sigma, 1.0)]
    c.check(not stray, "every peak lies at a true ring (stray: %s)" % stray)
    c.check(positions == sorted(positions), "peaks in ascending order")

    q_step = number(r"^Calibration: (\S+) 1/nm per pixel")
    c.check(abs(q_step / truth["q_step_inv_nm"] - 1) < 0.002,
            "calibration %g 1/nm per pixel against %g" % (q_step, truth["q_step_inv_nm"]))

    # Background fit to the spline under the rings.
    scale = number(r"^Background fit .*: scale = (\S+), offset = (\S+)$", 1)
    offset = number(r"^Background fit .*: scale = (\S+), offset = (\S+)$", 2)
    bg = truth["background"]
    c.check(abs(scale / bg["scale"] - 1) < 0.05 and abs(offset / bg["offset"] - 1) < 0.05,
            "background scale %g and offset %g against %g and %g"
            % (scale, offset, bg["scale"], bg["offset"]))
    maxima = [float(v) for v in re.search(r"^RDF maxima at r = (.*) A$", out, re.M).group(1).split()]
    c.check(bool(maxima) and abs(maxima[0] - GOLD_NEAREST_NEIGHBOUR) < 0.1,
            "first RDF maximum %s A against the gold nearest-neighbour distance %.3f A"
            % (maxima[:1], GOLD_NEAREST_NEIGHBOUR))

    # TIFF files and the sheets that hold the same numbers.
    w, h, profile = read_float_tiff(os.path.join(a.work, "profile.tif"))
    c.check(h == 4, "profile.tif has 4 lines (%d x %d)" % (w, h))
    sheet = book.sheet_by_name("Profile")
    c.check(sheet.nrows == w + 2 and sheet.ncols == 5, "Profile sheet is %d x 5" % (w + 2))
    c.check(sheet.cell_value(0, 0) == "Profile"
            and sheet.row_values(1) == ["q_(1/nm)", "profile", "background", "peaks_only", "fit"],
            "Profile sheet title and labels")
    step = sheet.cell_value(3, 0) if sheet.nrows > 3 else 0.0
    same = abs(step / q_step - 1) < 1e-5 and all(
        sheet.cell_value(i + 2, 0) == f32(f32(i) * step) for i in range(min(w, sheet.nrows - 2)))
    c.check(same, "Profile sheet axis is i times the q step")
    same = all(sheet.cell_value(i + 2, j + 1) == profile[i + j * w]
               for i in range(min(w, sheet.nrows - 2)) for j in range(min(4, h)))
    c.check(same, "Profile sheet holds the four lines of profile.tif")
    fitted = max(range(w), key=lambda i: profile[i + 3 * w])
    c.check(abs(fitted - rings[0]["radius_px"]) <= 1,
            "fitted curve peaks at radius %d, the ring 111 at %.2f" % (fitted, rings[0]["radius_px"]))

    rw, rh, rdf = read_float_tiff(os.path.join(a.work, "rdf.tif"))
    sheet = book.sheet_by_name("RDF")
    c.check(rh == 1 and sheet.nrows == rw + 2 and sheet.ncols == 2
            and all(sheet.cell_value(j + 2, 1) == rdf[j] for j in range(rw)),
            "RDF sheet holds rdf.tif (%d values)" % rw)
    sheet = book.sheet_by_name("Reduced intensity")
    c.check(sheet.nrows == w + 2 and sheet.ncols == 5
            and all(sheet.cell_value(i + 2, 1) == profile[i] for i in range(w)),
            "Reduced intensity sheet holds the same profile")

    pw, ph, projection = read_float_tiff(os.path.join(a.work, "projection.tif"))
    c.check(pw == 360 and ph > rings[0]["radius_px"] and any(v != 0 for v in projection),
            "projection.tif is 360 angles x %d radii" % ph)

    print("%d check(s) failed" % len(c.failures) if c.failures else "all checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
