#!/usr/bin/env bash
# Benchmark of pack and extract on a whole folder (default: Wine's Windows DLLs), beside wimlib-imagex and gcab
# on the same folder: seconds (wall and CPU), output size, peak memory. Also extract of a small payload, to show
# extract's memory does not grow with the payload. Also the native pack program beside wimlib-imagex capture on
# the same machine. Then a tree of 100,000 small files, where pack and extract are divided by their floors: the same
# files only opened and read (pack's), and only created and written plus read (extract's, which proves each file).
# Run after the windows and bench presets are built; SMALL_FILES_ONLY=1 runs only the last part.
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
if [ "${SMALL_FILES_ONLY:-0}" != 1 ]; then
  cp -r "$corpus" "$work/app"
  find "$work/app" -type f | sed -n '1,12p' | xargs -I{} cp {} "$work/small/"  # sed reads to the end: no SIGPIPE
fi

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

small_files() {
  local floor=$work/floor_io.exe tree=$work/small-tree
  x86_64-w64-mingw32-g++ -O2 -std=c++20 -municode -static -o "$floor" bench/floor_io.cpp
  python3 bench/small_files.py "$tree" "$work/small.list"
  echo "small files: $(find "$tree" -type f | wc -l) files, $(du -sb "$tree" | cut -f1) bytes"
  local list='C:\kestrova-bench\small.list'
  # One warm-up pass so that every row reads from the page cache.
  wine "$floor" read "$list" 'C:\kestrova-bench\small-tree' >/dev/null
  row "floor: open+read" "$tree" wine "$floor" read "$list" 'C:\kestrova-bench\small-tree'
  local t_read=$wall
  # Not part of pack's floor, which reads a listing: what listing the tree costs pack on top of it.
  row "walk (list the tree only)" "$tree" wine "$floor" walk 'C:\kestrova-bench\small-tree'
  row "floor: create+write" "$work/floor-out" wine "$floor" write "$list" 'C:\kestrova-bench\floor-out'
  local t_write=$wall
  row "pack (KestrovaPayload)" "$work/small.kvp" wine "$exe" pack --src 'C:\kestrova-bench\small-tree' --out 'C:\kestrova-bench\small.kvp'
  local t_pack=$wall
  row "extract --from-file" "$work/small-out" wine "$BUILD_LAUNCHER" "$exe" extract --out 'C:\kestrova-bench\small-out' --from-file 'C:\kestrova-bench\small.kvp'
  local t_extract=$wall
  printf 'pack / open+read floor:                 %.2f (target 1.3)\n' "$(echo "$t_pack / $t_read" | bc -l)"
  printf 'extract / (create+write + open+read):   %.2f (target 1.15)\n' "$(echo "$t_extract / ($t_write + $t_read)" | bc -l)"
}
if [ "${SMALL_FILES_ONLY:-0}" = 1 ]; then
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
  small_files
  rm -rf "$work"
  exit 0
fi

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
row "extract --from-file" "$work/outf" wine "$BUILD_LAUNCHER" "$exe" extract --out 'C:\kestrova-bench\outf' --from-file 'C:\kestrova-bench\app.kvp' --log 'C:\kestrova-bench\x.log'
row "wimlib apply" "$work/out2" wimlib-imagex apply "$work/app.wim" 1 "$work/out2"
rm -rf "$work/out3"; mkdir -p "$work/out3"
row "verify --db/--row (no write)" "$work/out" wine "$exe" verify --dir 'C:\kestrova-bench\out' --db 'C:\kestrova-bench\app.msi' --row PayloadArchive --log 'C:\kestrova-bench\x.log'
row "gcab -x" "$work/out3" gcab -x -C "$work/out3" "$work/app.cab"
wine "$exe" pack --src 'C:\kestrova-bench\small' --out 'C:\kestrova-bench\small.kvp' >/dev/null
msi "$work/small.kvp" "$work/small.msi"
row "extract small payload" "$work/outs" wine "$BUILD_LAUNCHER" "$exe" extract --out 'C:\kestrova-bench\outs' --db 'C:\kestrova-bench\small.msi' --row PayloadArchive --log 'C:\kestrova-bench\x.log'
small_files
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf "$work"
