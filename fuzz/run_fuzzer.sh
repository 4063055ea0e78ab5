#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a corpus directory seeded from the repository.
# Usage: run_fuzzer.sh TARGET CORPUS_DIR SEED_DIR SECONDS
set -euo pipefail
target=$1 corpus=$2 seeds=$3 seconds=$4
mkdir -p "$corpus"
args=("$corpus")
[ -d "$seeds" ] && args+=("$seeds")
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  "${args[@]}"
