#!/usr/bin/env bash
# The main job: builds KestrovaPayload.exe and shows it at work under Wine in the build's own prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build build/windows -j "$(nproc)"
source scripts/wine-env.sh
wine_start
trap wine_stop EXIT
exe=build/windows/src/cli/KestrovaPayload.exe

echo "== usage (no arguments: exit 2)"
set +e
wine "$exe"
echo "exit $?"
set -e

echo "== rollback of a scratch tree"
scratch="$WINEPREFIX/drive_c/kestrova-demo"
rm -rf "$scratch"
mkdir -p "$scratch/app.staging.partial/bin/plugins"
echo "hello" > "$scratch/app.staging.partial/bin/readme.txt"
chmod 444 "$scratch/app.staging.partial/bin/readme.txt"
head -c 100000 /dev/urandom > "$scratch/app.staging.partial/bin/plugins/data.bin"
find "$scratch" | sed "s|$WINEPREFIX/drive_c|C:|"
wine "$exe" rollback --appdir 'C:\kestrova-demo\app' --log 'C:\kestrova-demo\run.log'
echo "exit $?; left behind:"
find "$scratch" | sed "s|$WINEPREFIX/drive_c|C:|"
echo "== the log file"
cat "$scratch/run.log"
