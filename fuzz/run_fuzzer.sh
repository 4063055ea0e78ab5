#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a corpus directory seeded from the repository
# and, when a seed maker is given, with the inputs it generates for the target (the largest
# datagrams, deep nesting; see fuzz_seeds.cpp). Every target takes inputs up to the largest UDP
# payload, 65507 bytes.
# Usage: run_fuzzer.sh TARGET CORPUS_DIR SEED_DIR SECONDS [SEED_MAKER GENERATED_DIR]
set -euo pipefail
target=$1 corpus=$2 seeds=$3 seconds=$4
maker=${5:-} generated=${6:-}
mkdir -p "$corpus"
args=("$corpus")
[ -d "$seeds" ] && args+=("$seeds")
if [ -n "$maker" ]; then
  rm -rf "$generated"
  "$maker" "$(basename "$target")" "$generated"
  [ -z "$(ls -A "$generated")" ] || args+=("$generated")
fi
exec "$target" -max_len=65507 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "${args[@]}"
