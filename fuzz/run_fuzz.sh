#!/usr/bin/env bash
# run_fuzz.sh BINARY SEED_CORPUS WORK_DIR SECONDS
# Fuzzes for a bounded time from a copy of the seed corpus, so the committed
# corpus is never changed by a run. An input that crashes is left in
# WORK_DIR/crashes/; add it to the seed corpus (which the other build
# replays) and to a test once it is fixed.
set -euo pipefail
bin=$1 seeds=$2 work=$3 secs=$4
rm -rf "$work" && mkdir -p "$work/corpus" "$work/crashes"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work/corpus"/
exec "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$work/crashes/" "$work/corpus"
