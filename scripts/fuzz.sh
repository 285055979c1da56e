#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds over its
# stored corpus. New inputs go to a scratch folder; with FUZZ_MERGE=1 those that reach new code
# are merged into tests/fuzz/corpus/<target>/ afterwards (the long runs do this).
# Usage: [FUZZ_MERGE=1] scripts/fuzz.sh [seconds-per-target] [target-name-filter]
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
seconds=${1:-20}
filter=${2:-}
build="${TALLYPORT_BUILD_PREFIX:-build}-fuzz"

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALLYPORT_FUZZ=ON -DTALLYPORT_GUI=OFF -DTALLYPORT_BENCH=OFF "${launcher[@]}"
cmake --build "$build" -j "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "$build"/tests/*_fuzz; do
  name=$(basename "$target")
  [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
  mkdir -p "tests/fuzz/corpus/$name" "$scratch/$name"
  echo "-- $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$scratch/" "$scratch/$name" "tests/fuzz/corpus/$name" 2>"$scratch/$name.log"; then
    tail -n 40 "$scratch/$name.log"
    status=1
  else
    grep -E '^(#[0-9]+ +DONE|Done)' "$scratch/$name.log" | tail -n 1 || true
    if [[ "${FUZZ_MERGE:-0}" == 1 ]]; then
      "$target" -merge=1 -max_len=65536 "tests/fuzz/corpus/$name" "$scratch/$name" \
        2>"$scratch/$name.merge.log" || { tail -n 20 "$scratch/$name.merge.log"; status=1; }
      grep -E 'MERGE-OUTER: [0-9]+ new files' "$scratch/$name.merge.log" || true
    fi
  fi
done
exit $status
