#!/usr/bin/env bash
# Every test: the portable core natively under ASan/UBSan, the Windows build under Wine (unit tests and
# end-to-end runs of the real exe), and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

cmake --preset host >/dev/null
cmake --build build/host -j "$jobs"
ctest --test-dir build/host --output-on-failure -j "$jobs"

cmake --preset windows >/dev/null
cmake --build build/windows -j "$jobs"
source scripts/wine-env.sh
wine_start
trap wine_stop EXIT
ctest --test-dir build/windows --output-on-failure

bash scripts/fuzz.sh "${KESTROVA_FUZZ_SECONDS:-60}"
