#!/usr/bin/env bash
# The main job: builds KestrovaPayload.exe and runs the road of an install under Wine in the build's own prefix:
# pack an application folder, put the archive into an installer package's Binary table, extract it from that
# row, verify it, damage two files, see verify find them and verify --repair restore them, then roll back.
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

kp rollback --dir 'C:\kestrova-demo\installed' --log "$log"
echo "== the log file"
cat "$demo/run.log"
