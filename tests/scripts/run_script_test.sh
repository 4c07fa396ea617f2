#!/usr/bin/env bash
# run_script_test.sh ORVANHOST MODULE SCRIPT WORKDIR
# Runs SCRIPT in a fresh WORKDIR (so files it writes land there) and compares
# its output with the expected files beside it.
#
# A line "// orvanhost-at-most: N TEXT" among the script's leading comment lines
# bounds how often the Results line TEXT may appear (a warning the script
# tolerates, such as a sector fit falling back to its maximum); those lines
# are then left out of the comparison, so the expected text does not pin
# their count.
set -uo pipefail
orvanhost=$1 module=$2 script=$3 work=$4
base=${script%.s}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 2
args=()
first=$(head -n 1 "$script")
if [[ $first == "// orvanhost: "* ]]; then
  read -r -a args <<< "${first#// orvanhost: }"
fi
"$orvanhost" --module "$module" "${args[@]}" "$script" > stdout.txt 2> stderr.txt
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
cp stdout.txt results.txt
while IFS= read -r line; do
  [[ $line == "//"* ]] || break
  [[ $line == "// orvanhost-at-most: "* ]] || continue
  rest=${line#// orvanhost-at-most: }
  limit=${rest%% *} text=${rest#* }
  count=$(grep -cxF -- "$text" results.txt)
  if [ "$count" -gt "$limit" ]; then
    echo "\"$text\" appears $count times, at most $limit allowed"; fail=1
  fi
  grep -vxF -- "$text" results.txt > results.kept
  mv results.kept results.txt
done < "$script"
diff -u "$base.out" results.txt || fail=1
exit $fail
