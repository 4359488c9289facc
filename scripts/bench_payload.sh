#!/usr/bin/env bash
# Benchmark of pack and extract on a whole folder (default: Wine's Windows DLLs), beside wimlib-imagex and gcab
# on the same folder: seconds (wall and CPU), output size, peak memory. Also extract of a small payload, to show
# extract's memory does not grow with the payload. Also the native pack program beside wimlib-imagex capture on
# the same machine. Run after the windows and bench presets are built.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
source scripts/wine-env.sh
wine_start
trap wine_stop EXIT
exe=$(pwd)/build/windows/src/cli/KestrovaPayload.exe
host_pack=$(pwd)/build/bench/src/cli/kestrova-pack
[ -x "$host_pack" ] || { echo "build the bench preset first (cmake --build build/bench --target kestrova-pack)"; exit 1; }
# Under Wine no folder is admin-only, so extract runs unelevated, past the install-folder guard.
BUILD_LAUNCHER=$(pwd)/build/windows/tests/launcher/RunUnelevated.exe
work="$WINEPREFIX/drive_c/kestrova-bench"
rm -rf "$work"
mkdir -p "$work/msi/Binary" "$work/small"
cp -r "$corpus" "$work/app"
find "$work/app" -type f | head -n 12 | xargs -I{} cp {} "$work/small/"

row() {  # name, output file or folder, command...
  local name=$1 out=$2
  shift 2
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; return 1; }
  read -r wall user sys rss < "$work/time"
  local size=$(du -sb "$out" | cut -f1)
  printf '%-28s %8.1f s wall %8.1f s cpu %10.1f MB out %8.1f MB peak\n' "$name" "$wall" \
    "$(echo "$user + $sys" | bc)" "$(echo "$size / 1048576" | bc -l)" "$(echo "$rss / 1024" | bc -l)"
}

msi() {  # archive -> package with the archive as row PayloadArchive
  rm -rf "$work/msi"; mkdir -p "$work/msi/Binary"
  cp "$1" "$work/msi/Binary/payload.kvp"
  printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nPayloadArchive\tpayload.kvp\r\n' > "$work/msi/Binary.idt"
  (cd "$work/msi" && msibuild p.msi -i Binary.idt)
  cp "$work/msi/p.msi" "$2"
}

echo "corpus: $(find "$work/app" -type f | wc -l) files, $(du -sb "$work/app" | cut -f1) bytes"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
row "pack (KestrovaPayload)" "$work/app.kvp" wine "$exe" pack --src 'C:\kestrova-bench\app' --out 'C:\kestrova-bench\app.kvp'
row "wimlib capture XPRESS t1" "$work/app.wim" wimlib-imagex capture "$work/app" "$work/app.wim" --compress=XPRESS --threads=1
row "kestrova-pack (native)" "$work/app-native.kvp" "$host_pack" --src "$work/app" --out "$work/app-native.kvp"
cmp -s "$work/app.kvp" "$work/app-native.kvp" && echo "native archive: byte-identical to the exe's" \
  || echo "native archive: DIFFERS from the exe's"
row "gcab -c -z" "$work/app.cab" bash -c "cd '$work/app' && gcab -c -z '$work/app.cab' *"
msi "$work/app.kvp" "$work/app.msi"
row "extract --db/--row" "$work/out" wine "$BUILD_LAUNCHER" "$exe" extract --out 'C:\kestrova-bench\out' --db 'C:\kestrova-bench\app.msi' --row PayloadArchive --log 'C:\kestrova-bench\x.log'
rm -rf "$work/out2"; mkdir -p "$work/out2"
row "wimlib apply" "$work/out2" wimlib-imagex apply "$work/app.wim" 1 "$work/out2"
rm -rf "$work/out3"; mkdir -p "$work/out3"
row "verify --db/--row (no write)" "$work/out" wine "$exe" verify --dir 'C:\kestrova-bench\out' --db 'C:\kestrova-bench\app.msi' --row PayloadArchive --log 'C:\kestrova-bench\x.log'
row "gcab -x" "$work/out3" gcab -x -C "$work/out3" "$work/app.cab"
wine "$exe" pack --src 'C:\kestrova-bench\small' --out 'C:\kestrova-bench\small.kvp' >/dev/null
msi "$work/small.kvp" "$work/small.msi"
row "extract small payload" "$work/outs" wine "$BUILD_LAUNCHER" "$exe" extract --out 'C:\kestrova-bench\outs' --db 'C:\kestrova-bench\small.msi' --row PayloadArchive --log 'C:\kestrova-bench\x.log'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf "$work"
