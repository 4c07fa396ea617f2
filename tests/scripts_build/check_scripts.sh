#!/usr/bin/env bash
# scripts/bootstrap and scripts/demo against stand-in package tools and a
# stand-in build: what each asks the package tools for, what the demo calls,
# and which files of out/ the demo removes.
#   check_scripts.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work/bin"
log=$work/calls.log
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
called() { grep -qx -- "$1" "$log"; }
calls_matching() { grep -E -- "$1" "$log" || true; }

# Stand-ins that write down how they were called. dpkg-query says what
# $work/installed says of every package.
for tool in apt-get npm cmake; do
  printf '#!/bin/sh\necho "%s $*" >> "%s"\n' "$tool" "$log" > "$work/bin/$tool"
done
printf '#!/bin/sh\necho "sudo $*" >> "%s"\nexec "$@"\n' "$log" > "$work/bin/sudo"
printf '#!/bin/sh\n[ "$(cat "%s/installed")" = yes ] && printf "install ok installed"\nexit 0\n' "$work" \
  > "$work/bin/dpkg-query"
chmod +x "$work/bin"/*
export PATH="$work/bin:$PATH"

# A tree of its own, so the npm step is not skipped for the real tree's
# node_modules and nothing is written into the source tree.
tree=$work/tree
mkdir -p "$tree/scripts" "$tree/tests/interop" "$tree/examples"
cp "$src/scripts/bootstrap" "$src/scripts/demo" "$tree/scripts/"
cp "$src/examples/run_workflow" "$tree/examples/"

# ---- bootstrap --demo: the demo's packages, nothing from npm, no test packages
echo no > "$work/installed"
: > "$log"
"$tree/scripts/bootstrap" --demo > /dev/null
install=$(calls_matching '^apt-get install ')
for p in cmake g++ libtiff-dev libarmadillo-dev python3; do
  [[ " $install " == *" $p "* ]] || fail "bootstrap --demo does not install $p: $install"
done
for p in libgtest-dev libgmock-dev clang gnumeric nodejs npm; do
  [[ " $install " == *" $p "* ]] && fail "bootstrap --demo installs the test package $p"
done
[ -z "$(calls_matching '^npm ')" ] || fail "bootstrap --demo goes on to npm: $(calls_matching '^npm ')"

# ---- bootstrap: everything, and the interop checks' npm packages as locked
: > "$log"
"$tree/scripts/bootstrap" > /dev/null
install=$(calls_matching '^apt-get install ')
for p in cmake libtiff-dev libgtest-dev libgmock-dev clang-format; do
  [[ " $install " == *" $p "* ]] || fail "bootstrap does not install $p: $install"
done
calls_matching '^npm ci ' | grep -q -- "--prefix $tree/tests/interop" ||
  fail "bootstrap does not run npm ci in tests/interop: $(calls_matching '^npm')"

# ---- all present: no package tool is asked for anything
echo yes > "$work/installed"
mkdir -p "$tree/tests/interop/node_modules/xlsx"
echo '{}' > "$tree/tests/interop/node_modules/xlsx/package.json"
: > "$log"
"$tree/scripts/bootstrap" > /dev/null
[ -z "$(calls_matching '^(apt-get|npm|sudo) ')" ] || fail "bootstrap with all present calls: $(cat "$log")"

if "$tree/scripts/bootstrap" --all > /dev/null 2>&1; then fail "bootstrap takes an unknown option"; fi

# ---- demo: bootstrap --demo, the build of the three programs, and out/
printf '#!/bin/sh\necho "bootstrap $*" >> "%s"\n' "$log" > "$tree/scripts/bootstrap"
echo 'Result("never run\n");' > "$tree/examples/workflow.s"
mkdir -p "$tree/build-demo/examples"
cat > "$tree/build-demo/examples/make_sample_pattern" <<'GEN'
#!/bin/sh
# --out PREFIX
for f in "$2.tif" "$2.elements.tif"; do echo image > "$f"; done
echo '{"center_x": 1, "center_y": 2, "axis_ratio": 1, "angle_deg": 0,
       "background": {"scale": 20, "offset": 150}, "rings": []}' > "$2.truth.json"
echo "wrote $2.tif"
GEN
cat > "$tree/build-demo/orvanhost" <<HOST
#!/bin/sh
echo "orvanhost \$*" >> "$log"
[ -e workflow.xls ] && echo "orvanhost found an old workflow.xls" >> "$log"
for f in profile.tif projection.tif rdf.tif workflow.xls workflow-trace.txt; do echo new > "\$f"; done
echo "Results of this run"
HOST
chmod +x "$tree/scripts/bootstrap" "$tree/build-demo/examples/make_sample_pattern" "$tree/build-demo/orvanhost"
mkdir -p "$tree/out"
echo "the user's notes" > "$tree/out/notes.txt"
echo old > "$tree/out/workflow.xls"
echo old > "$tree/out/results.txt"
: > "$log"
if ! "$tree/scripts/demo" > "$work/demo.out" 2>&1; then
  fail "scripts/demo with stand-ins failed:"
  cat "$work/demo.out"
fi
called "bootstrap --demo" || fail "scripts/demo does not call scripts/bootstrap --demo: $(calls_matching '^bootstrap')"
[ "$(calls_matching '^bootstrap' | wc -l)" -eq 1 ] || fail "scripts/demo calls bootstrap more than once"
calls_matching '^cmake ' | grep -q -- '-S \. -B build-demo ' || fail "scripts/demo configures elsewhere: $(cat "$log")"
calls_matching '^cmake --build ' | grep -q -- '--target orvanhost orvantools make_sample_pattern' ||
  fail "scripts/demo builds other targets: $(calls_matching '^cmake --build')"
called "orvanhost found an old workflow.xls" && fail "scripts/demo leaves an old workbook for the exports to write into"
[ "$(cat "$tree/out/notes.txt" 2>/dev/null)" = "the user's notes" ] || fail "scripts/demo removed a file of the user's in out/"
[ "$(cat "$tree/out/results.txt")" = "Results of this run" ] || fail "out/results.txt is not this run's Results"
grep -q "^demo: removed what an earlier run wrote in out/ (workflow.xls results.txt); other files there are kept$" \
  "$work/demo.out" || fail "scripts/demo does not say what it removed: $(head -3 "$work/demo.out")"
grep -q "^The known truth of the sample: centre x = 1.000, y = 2.000" "$work/demo.out" ||
  fail "scripts/demo does not show the truth"

[ "$failures" -eq 0 ] || exit 1
echo "bootstrap and demo: all checks passed"
