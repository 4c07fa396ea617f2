#!/usr/bin/env bash
# run_script_test.sh DMHOST MODULE SCRIPT WORKDIR
# Runs SCRIPT in a fresh WORKDIR (so files it writes land there) and compares
# its output with the expected files beside it.
set -uo pipefail
dmhost=$1 module=$2 script=$3 work=$4
base=${script%.s}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 2
args=()
first=$(head -n 1 "$script")
if [[ $first == "// dmhost: "* ]]; then
  read -r -a args <<< "${first#// dmhost: }"
fi
"$dmhost" --module "$module" "${args[@]}" "$script" > stdout.txt 2> stderr.txt
status=$?
fail=0
if [ -f "$base.err" ]; then
  [ $status -eq 1 ] || { echo "expected exit status 1, got $status"; fail=1; }
  # The script's path differs between machines: compare from its file name on.
  sed "s|^$(dirname "$script")/||" stderr.txt > stderr.rel
  diff -u "$base.err" stderr.rel || fail=1
else
  [ $status -eq 0 ] || { echo "exit status $status"; cat stderr.txt; fail=1; }
fi
diff -u "$base.out" stdout.txt || fail=1
exit $fail
