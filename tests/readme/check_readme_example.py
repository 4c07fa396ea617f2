"""The README's example output against what the demo prints.

Runs examples/run_workflow (what scripts/demo runs after the build) with a
build folder into a scratch folder, then looks for the lines of the README's
example under "See it work": each run of lines between two "..." must stand
in the demo's output as it stands in the README, line for line, and the runs
in the same order. The README's minimal script then runs on the demo's
pattern as the README says: in the folder of the pattern, as pattern.tif.
"""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys


def example_lines(readme):
    """The indented block after the "for example:" line of the demo's section."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith("## See it work"))
    intro = next(i for i in range(start, len(lines)) if lines[i].rstrip().endswith("for example:"))
    block = []
    for line in lines[intro + 1:]:
        if line.startswith("## "):
            break
        if line.startswith("    "):
            block.append(line[4:])
        elif line.strip() == "":
            if block:
                block.append("")
        else:
            break
    while block and block[-1] == "":
        block.pop()
    return block


def minimal_script(readme):
    """The indented block that starts with OpenImage("pattern.tif")."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    start = next((i for i, l in enumerate(lines) if l.startswith('    image pattern := OpenImage("pattern.tif")')),
                 None)
    if start is None:
        return None
    block = []
    for line in lines[start:]:
        if not line.startswith("    "):
            break
        block.append(line[4:])
    return "\n".join(block) + "\n"


def check_minimal_script(readme, build, work):
    """Problems of the README's minimal script run on the demo's pattern."""
    script = minimal_script(readme)
    if script is None:
        return ["README: the minimal script (image pattern := OpenImage(\"pattern.tif\")) is gone"]
    shutil.copy(os.path.join(work, "sample.tif"), os.path.join(work, "pattern.tif"))
    with open(os.path.join(work, "my-script.s"), "w") as f:
        f.write(script)
    done = subprocess.run([os.path.join(build, "orvanhost"), "my-script.s"], cwd=work, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True)
    problems = []
    if done.returncode != 0 or done.stderr:
        problems.append("the README's minimal script fails (%d): %s" % (done.returncode, done.stderr))
    if not re.match(r"centre [0-9.]+, [0-9.]+; [0-9]+ radii\n$", done.stdout):
        problems.append("the README's minimal script prints: %r" % done.stdout)
    if not os.path.exists(os.path.join(work, "profile.tif")):
        problems.append("the README's minimal script writes no profile.tif")
    return problems


def runs(block):
    """The README's lines cut at each "...": the runs that must appear whole."""
    out, current = [], []
    for line in block:
        if line.strip() == "...":
            if current:
                out.append(current)
            current = []
        else:
            current.append(line)
    if current:
        out.append(current)
    return out


def nearest(line, output):
    """The output line most like `line`."""
    return difflib.get_close_matches(line, output, n=1, cutoff=0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--readme", required=True)
    ap.add_argument("--runner", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    a.build, a.work = os.path.abspath(a.build), os.path.abspath(a.work)

    shutil.rmtree(a.work, ignore_errors=True)
    done = subprocess.run([a.runner, a.build, a.work], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True)
    if done.returncode != 0:
        sys.exit("examples/run_workflow failed (%d):\n%s%s" % (done.returncode, done.stdout, done.stderr))
    output = done.stdout.split("\n")

    block = example_lines(a.readme)
    if len([l for l in block if l.strip() != "..."]) < 5:
        sys.exit("README: the demo's example output is missing or shorter than five lines")
    at, problems = 0, []
    for run in runs(block):
        found = next((i for i in range(at, len(output) - len(run) + 1) if output[i:i + len(run)] == run), None)
        if found is None:
            for line in run:
                if line not in output[at:]:
                    near = nearest(line, output)
                    problems.append("README:      %s\nthe demo:    %s" % (line, near[0] if near else "(no such line)"))
            if not problems:
                problems.append("README lines not together or not in the demo's order:\n  " + "\n  ".join(run))
            continue
        at = found + len(run)
    problems += check_minimal_script(a.readme, a.build, a.work)
    if problems:
        print("What the README shows and what the programs do differ:")
        print("\n".join(problems))
        print("\nThe demo printed:\n" + done.stdout)
        sys.exit(1)


if __name__ == "__main__":
    main()
