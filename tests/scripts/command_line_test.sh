#!/bin/sh
# command_line_test.sh ORVANHOST
# --help and -h print what orvanhost does and its usage (with the default
# host version, 3.10.0), --version the host version it reports; both exit 0
# and leave standard error empty. A bad command line names both in its
# usage, with exit status 2.
orvanhost=$1
fail=0
check() { "$@" || { echo "failed: $*"; fail=1; }; }
for flag in --help -h; do
  out=$("$orvanhost" $flag 2>err.txt); status=$?
  check test $status -eq 0
  check test ! -s err.txt
  check sh -c 'printf "%s\n" "$1" | head -n 1 | grep -q "^orvanhost runs a script"' sh "$out"
  check sh -c 'printf "%s\n" "$1" | grep -q "^usage: orvanhost .*SCRIPT$"' sh "$out"
  check sh -c 'printf "%s\n" "$1" | grep -q -e "--version"' sh "$out"
  check sh -c 'printf "%s\n" "$1" | grep -q -e "--host-version X.Y.Z .*(default: 3.10.0, the oldest"' sh "$out"
done
check test "$("$orvanhost" --version)" = "orvanhost 3.10.0"
check test "$("$orvanhost" --host-version 3.11.2 --version)" = "orvanhost 3.11.2"
"$orvanhost" --no-such-option x.s 2>err.txt
check test $? -eq 2
check grep -q -e "--help | --version" err.txt
rm -f err.txt
exit $fail
