#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds on a copy of its seed corpus.
# A finding fails the run and leaves the crashing input in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
# Only the fuzz programs: the rest of the tree is covered by the other builds.
targets=$(ninja -C build/fuzz -t targets all | sed -n 's/^\([A-Za-z0-9_]*_fuzz\): .*/\1/p' | grep -v '^cmake_' | sort -u)
if [ -z "$targets" ]; then
  echo "fuzz: no fuzz targets"
  exit 0
fi
cmake --build build/fuzz -j "$(nproc)" --target $targets
mkdir -p build/fuzz/findings
status=0
for exe in build/fuzz/src/*/*_fuzz; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  seeds=$(find src -type d -path "*/testdata/fuzz/${name%_fuzz}" | head -n 1)
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -n "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/findings/"$name"- \
       "$corpus" 2>build/fuzz/"$name".log; then
    tail -n 40 build/fuzz/"$name".log
    status=1
  else
    grep -E 'stat::number_of_executed_units' build/fuzz/"$name".log || true
  fi
done
exit $status
