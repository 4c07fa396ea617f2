#!/bin/sh
# run_workflow_test.sh RUN_WORKFLOW WORK
# The demo clears what an earlier run left in its folder, a link that names
# no file included: left, it would be written through, outside the folder,
# or make the demo fail. The build is stood in for by two small scripts that
# write what the real programs write.
run_workflow=$1
work=$2
rm -rf "$work"
mkdir -p "$work/build/examples" "$work/out" "$work/elsewhere"
cat >"$work/build/examples/make_sample_pattern" <<'SH'
#!/bin/sh
echo pattern >sample.tif
echo '{"center_x": 1, "center_y": 2, "axis_ratio": 1, "angle_deg": 0,
 "background": {"scale": 1, "offset": 0}, "rings": []}' >sample.truth.json
SH
cat >"$work/build/orvanhost" <<'SH'
#!/bin/sh
echo results
SH
chmod +x "$work/build/examples/make_sample_pattern" "$work/build/orvanhost"
ln -s ../elsewhere/sample.tif "$work/out/sample.tif"
fail=0
"$run_workflow" "$work/build" "$work/out" >"$work/said.txt" 2>&1 || { echo "the demo failed:"; cat "$work/said.txt"; fail=1; }
if [ -e "$work/elsewhere/sample.tif" ]; then echo "written through the link, outside out/"; fail=1; fi
if [ -L "$work/out/sample.tif" ] || [ "$(cat "$work/out/sample.tif")" != pattern ]; then
  echo "out/sample.tif is not the new pattern"; fail=1
fi
grep -q "removed what an earlier run wrote in .*(sample.tif)" "$work/said.txt" || { echo "the removal went unsaid"; fail=1; }
exit $fail
