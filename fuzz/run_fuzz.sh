#!/usr/bin/env bash
# run_fuzz.sh BINARY SEED_CORPUS WORK_DIR SECONDS
# Fuzzes for a bounded time from a copy of the seed corpus, so the committed
# corpus is never changed by a run.
set -euo pipefail
bin=$1 seeds=$2 work=$3 secs=$4
rm -rf "$work" && mkdir -p "$work"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
exec "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 "$work"
