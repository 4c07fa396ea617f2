#!/bin/sh
# exit_statuses.sh ORVANHOST MODULE WORK: orvanhost ends with the status the
# README's table gives for each case.
orvanhost=$1 module=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
printf 'Result("ran\\n");\n' > ok.s
fail=0
expect() {
  want=$1; shift
  "$orvanhost" "$@" > out.txt 2> err.txt
  got=$?
  if [ "$got" -ne "$want" ]; then
    echo "orvanhost $*: exit status $got, the README says $want"; cat err.txt; fail=1
  fi
}
expect 0 --module "$module" ok.s
expect 0 --version
expect 1 --module "$module" no-such-script.s
expect 1 --module "$module" .
expect 1 --module "$work/no-such-module.so" ok.s
expect 1 --module "$module" --host-version 3.9.0 ok.s
grep -q "host error 28802: This plugin requires host 3.10.0 or later." err.txt || { echo "old host: $(cat err.txt)"; fail=1; }
expect 2 --bogus ok.s
expect 2 --module
expect 2 --host-version 3.x ok.s
expect 2
expect 2 ok.s ok.s
exit $fail
