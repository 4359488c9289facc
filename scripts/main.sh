#!/usr/bin/env bash
# The main job: builds KestrovaPayload.exe and runs the road of an install under Wine in the build's own prefix:
# pack an application folder, put the archive into an installer package's Binary table, extract it from that
# row, verify it, damage two files, see verify find them and verify --repair restore them; then the road of an
# update: a second version from a second installer package is staged beside the install folder, committed, and
# swapped in (which Wine's ownership model makes the tool refuse, as it must), repair checks the result; roll back.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build build/windows -j "$(nproc)" --target KestrovaPayload RunUnelevated
source scripts/wine-env.sh
wine_start
trap wine_stop EXIT
exe=build/windows/src/cli/KestrovaPayload.exe
launcher=build/windows/tests/launcher/RunUnelevated.exe
kp() { echo "\$ KestrovaPayload $*"; set +e; wine "$exe" "$@"; local code=$?; set -e; echo "exit $code"; echo; }
# Under Wine every folder is owned by a non-admin SID, so an elevated run refuses to write next to any install
# folder; the unelevated launcher runs the tool with the linked token, as an installer's user-context action would.
kp_unelevated() {
  echo "\$ (unelevated) KestrovaPayload $*"
  set +e; wine "$launcher" "$exe" "$@"; local code=$?; set -e; echo "exit $code"; echo
}

drive_c="$WINEPREFIX/drive_c"
demo="$drive_c/kestrova-demo"
rm -rf "$demo"
mkdir -p "$demo/app/bin" "$demo/app/docs/licences" "$demo/app/resources/fr-FR"

# A realistic application folder: a slice of Wine's own Windows DLLs plus a few nested text files.
dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
ls "$dlls" | grep -E '\.(dll|exe)$' | sort | awk 'NR % 12 == 0' | head -n 60 | while read -r f; do cp "$dlls/$f" "$demo/app/bin/"; done
printf 'Corvella\r\nVersion 4.2.0\r\n' > "$demo/app/README.txt"
seq 1 5000 | sed 's/^/licence line /' > "$demo/app/docs/licences/THIRD-PARTY.txt"
printf 'bonjour=Bonjour\n' > "$demo/app/resources/fr-FR/strings.ini"
: > "$demo/app/resources/empty.dat"
echo "application folder: $(find "$demo/app" -type f | wc -l) files, $(du -sh "$demo/app" | cut -f1)"
echo

log='C:\kestrova-demo\run.log'
kp
kp pack --src 'C:\kestrova-demo\app' --out 'C:\kestrova-demo\payload.kvp' --exclude docs/licences
ls -l "$demo/payload.kvp"

# The installer package: the archive as the row "PayloadArchive" of the Binary table.
mkdir -p "$demo/msi/Binary"
cp "$demo/payload.kvp" "$demo/msi/Binary/payload.kvp"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nPayloadArchive\tpayload.kvp\r\n' > "$demo/msi/Binary.idt"
(cd "$demo/msi" && msibuild Corvella.msi -i Binary.idt)
cp "$demo/msi/Corvella.msi" "$demo/Corvella.msi"
ls -l "$demo/Corvella.msi"
echo

kp extract --out 'C:\kestrova-demo\installed' --db 'C:\kestrova-demo\Corvella.msi' --row PayloadArchive --log "$log"
kp_unelevated extract --out 'C:\kestrova-demo\installed' --db 'C:\kestrova-demo\Corvella.msi' --row PayloadArchive --log "$log"
kp verify --dir 'C:\kestrova-demo\installed' --db 'C:\kestrova-demo\Corvella.msi' --row PayloadArchive --log "$log"

echo "damaging two files"
first=$(ls "$demo/installed/bin" | head -n 1)
printf 'tampered' | dd of="$demo/installed/bin/$first" bs=1 seek=100 conv=notrunc status=none
rm "$demo/installed/README.txt"
kp verify --dir 'C:\kestrova-demo\installed' --db 'C:\kestrova-demo\Corvella.msi' --row PayloadArchive --log "$log"
kp_unelevated verify --dir 'C:\kestrova-demo\installed' --db 'C:\kestrova-demo\Corvella.msi' --row PayloadArchive --repair --log "$log"
kp verify --dir 'C:\kestrova-demo\installed' --db 'C:\kestrova-demo\Corvella.msi' --row PayloadArchive --log "$log"
head -c 400 "$demo/installed/manifest.json"; echo; echo

echo "== an update: version 4.3.0 from a second installer package"
rm -rf "$demo/app2"
cp -r "$demo/app" "$demo/app2"
printf 'Corvella\r\nVersion 4.3.0\r\n' > "$demo/app2/README.txt"
printf 'bonjour=Bonjour\nmerci=Merci\n' > "$demo/app2/resources/fr-FR/strings.ini"
printf 'new in 4.3.0\n' > "$demo/app2/resources/whatsnew.txt"
kp pack --src 'C:\kestrova-demo\app2' --out 'C:\kestrova-demo\payload2.kvp' --exclude docs/licences
mkdir -p "$demo/msi2/Binary"
cp "$demo/payload2.kvp" "$demo/msi2/Binary/payload.kvp"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nPayloadArchive\tpayload.kvp\r\n' > "$demo/msi2/Binary.idt"
(cd "$demo/msi2" && msibuild Corvella-2.msi -i Binary.idt)
cp "$demo/msi2/Corvella-2.msi" "$demo/Corvella-2.msi"
ls -l "$demo/Corvella-2.msi"
echo

appdir='C:\kestrova-demo\installed'
kp_unelevated stage --appdir "$appdir" --db 'C:\kestrova-demo\Corvella-2.msi' --row PayloadArchive --log "$log"
kp_unelevated commit-staging --appdir "$appdir" --version 4.3.0 --log "$log"
echo "folders beside the install folder: $(cd "$demo" && ls -d installed* | tr '\n' ' ')"
echo "marker of installed.staging: $(cat "$demo/installed.staging/.complete")"
echo
echo "Under Wine every folder is owned by the Wine user (S-1-5-21-0-0-0-1000), never by SYSTEM or Administrators, and"
echo "that user may create folders in C:\, so swap refuses to exchange folders below C:\ (the SECURITY line below names"
echo "both) and leaves everything as it was; that refusal is the correct behaviour there. On Windows, below Program"
echo "Files, installed would become installed.lkg and installed.staging would become installed (the engine's Wine"
echo "tests show these renames on real folders)."
echo
kp swap --appdir "$appdir" --log "$log"
echo "An elevated repair treats every entry of the family that is not admin-only as a stranger's: under Wine that is"
echo "every entry, so it removes the staged copy (WARN), never counts the Wine user's install folder as present, and"
echo "ends 'unrecoverable' (exit 3) without touching it, since no admin-only copy could take its place."
echo
kp repair --appdir "$appdir" --log "$log"
echo "folders beside the install folder after swap and repair: $(cd "$demo" && ls -d installed* | tr '\n' ' ')"
echo

kp rollback --dir 'C:\kestrova-demo\installed' --log "$log"
echo "== the log file"
cat "$demo/run.log"
