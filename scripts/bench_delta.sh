#!/usr/bin/env bash
# Benchmark of delta updates on real consecutive releases: typescript 5.5.3/5.5.4, @esbuild/win32-x64 0.23.0/0.23.1
# and @swc/core-win32-x64-msvc 1.7.23/1.7.24 (npm pack), unpacked side by side as one application folder per
# version. Prints in one run: the full archive, an archive of only the changed and new files, the total of per-file
# `zstd -19 --patch-from` patches, and our delta, with pack seconds; then stage of the delta under Wine against
# extract of the full archive, each from a file. Run after the windows and bench presets are built.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in npm zstd; do
  command -v "$tool" >/dev/null || { echo "bench_delta: installing $tool"; apt-get install -y -qq "$tool" >/dev/null; }
done
source scripts/wine-env.sh
wine_start
trap wine_stop EXIT
exe=$(pwd)/build/windows/src/cli/KestrovaPayload.exe
host_pack=$(pwd)/build/bench/src/cli/kestrova-pack
launcher=$(pwd)/build/windows/tests/launcher/RunUnelevated.exe
[ -x "$host_pack" ] || { echo "build the bench preset first (cmake --build build/bench --target kestrova-pack)"; exit 1; }
work="$WINEPREFIX/drive_c/kestrova-delta"
rm -rf "$work"
mkdir -p "$work/npm" "$work/v1" "$work/v2" "$work/changed"

fetch() {  # package version version-folder name
  local tarball
  tarball=$(cd "$work/npm" && npm pack --silent "$1@$2" | tail -n 1)
  mkdir -p "$work/$3/$4"
  tar -xzf "$work/npm/$tarball" -C "$work/$3/$4" --strip-components=1
}
fetch typescript 5.5.3 v1 typescript; fetch typescript 5.5.4 v2 typescript
fetch @esbuild/win32-x64 0.23.0 v1 esbuild; fetch @esbuild/win32-x64 0.23.1 v2 esbuild
fetch @swc/core-win32-x64-msvc 1.7.23 v1 swc; fetch @swc/core-win32-x64-msvc 1.7.24 v2 swc

# The changed and new files of version 2, and the zstd patch of each changed one against its version 1 file.
zstd_total=0
changed=0
while IFS= read -r -d '' file; do
  relative=${file#"$work/v2/"}
  if [ -f "$work/v1/$relative" ] && cmp -s "$work/v1/$relative" "$file"; then continue; fi
  mkdir -p "$(dirname "$work/changed/$relative")"
  cp "$file" "$work/changed/$relative"
  changed=$((changed + 1))
  if [ -f "$work/v1/$relative" ]; then
    size=$(zstd -q -19 --long=31 --patch-from="$work/v1/$relative" "$file" -c | wc -c)
  else
    size=$(zstd -q -19 "$file" -c | wc -c)
  fi
  zstd_total=$((zstd_total + size))
done < <(find "$work/v2" -type f -print0)

seconds() { /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }
mb() { echo "scale=2; $1 / 1048576" | bc; }
echo "version 2: $(find "$work/v2" -type f | wc -l) files, $(du -sb "$work/v2" | cut -f1) bytes; $changed changed or new"
"$host_pack" --src "$work/v1" --out "$work/v1.kvp" >/dev/null
t_full=$(seconds "$host_pack" --src "$work/v2" --out "$work/v2.kvp")
t_changed=$(seconds "$host_pack" --src "$work/changed" --out "$work/changed.kvp")
t_delta=$(seconds "$host_pack" --src "$work/v2" --out "$work/d2.kvp" --base "$work/v1.kvp")
printf '%-34s %10s MB %8s s pack\n' "full archive" "$(mb "$(stat -c %s "$work/v2.kvp")")" "$t_full"
printf '%-34s %10s MB %8s s pack\n' "changed and new files only" "$(mb "$(stat -c %s "$work/changed.kvp")")" "$t_changed"
printf '%-34s %10s MB\n' "zstd -19 --patch-from, per file" "$(mb "$zstd_total")"
printf '%-34s %10s MB %8s s pack\n' "our delta (pack --base)" "$(mb "$(stat -c %s "$work/d2.kvp")")" "$t_delta"

# Apply: both from a file under Wine, unelevated (no folder is admin-only there); best of three, after one warm-up.
wine "$launcher" "$exe" extract --out 'C:\kestrova-delta\Corvella' --from-file 'C:\kestrova-delta\v1.kvp' >/dev/null 2>&1
best() {
  local best=""
  for _ in 0 1 2 3; do
    local t
    t=$(seconds wine "$launcher" "$exe" "$@")
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
t_stage=$(best stage --appdir 'C:\kestrova-delta\Corvella' --from-file 'C:\kestrova-delta\d2.kvp')
t_extract=$(best extract --out 'C:\kestrova-delta\full' --from-file 'C:\kestrova-delta\v2.kvp')
diff -r "$work/Corvella.staging.partial" "$work/full" >/dev/null && same=identical || same=DIFFERENT
printf '%-34s %8s s (staged tree %s to the full extract)\n' "stage of the delta (Wine)" "$t_stage" "$same"
printf '%-34s %8s s\n' "extract of the full archive (Wine)" "$t_extract"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
