#!/usr/bin/env bash
# The main job: builds KestrovaPayload.exe and Corvella's installer package, then runs the road a user sees under
# Wine's msiexec in the build's own prefix: install version 4.2.0, damage a file and repair, upgrade to 4.3.0, remove.
# Every step prints the tool's log lines from the package's custom actions and what is on disk afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build build/windows -j "$(nproc)" --target KestrovaPayload RunUnelevated
cmake --preset host >/dev/null
cmake --build build/host -j "$(nproc)" --target kestrova-pack
source scripts/wine-env.sh
wine_start
trap wine_stop EXIT
launcher=build/windows/tests/launcher/RunUnelevated.exe
program_files="$WINEPREFIX/drive_c/Program Files"

# Under Wine every folder is owned by a non-admin SID, so the custom actions run through the unelevated launcher, as
# an install by a user-context action would; the log placement's complaint about the updates folder is left out.
msiexec() {
  echo "\$ msiexec $* /qn"
  set +e
  wine "$launcher" 'C:\windows\system32\msiexec.exe' "$@" /qn 2>/dev/null |
    grep -E 'Z (INFO |WARN |ERROR) \[' | grep -v -e 'ProgramData\\Kestrova' -e 'planted Updates'
  local code=${PIPESTATUS[0]}
  set -e
  echo "msiexec exit $code"
  echo "Program Files: $(cd "$program_files" && ls -d Corvella* Kestrova 2>/dev/null | tr '\n' ' ')"
  echo
}

demo="$WINEPREFIX/drive_c/kestrova-demo"
rm -rf "$demo"
mkdir -p "$demo/app/bin" "$demo/app/resources/fr-FR"
# A realistic application folder: a slice of Wine's own Windows DLLs plus a few text files.
dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
ls "$dlls" | grep -E '\.(dll|exe)$' | sort | awk 'NR % 12 == 0' | head -n 60 | while read -r f; do cp "$dlls/$f" "$demo/app/bin/"; done
printf 'Corvella\r\nVersion 4.2.0\r\n' > "$demo/app/README.txt"
printf 'bonjour=Bonjour\n' > "$demo/app/resources/fr-FR/strings.ini"
cp -r "$demo/app" "$demo/app2"
printf 'Corvella\r\nVersion 4.3.0\r\n' > "$demo/app2/README.txt"
printf 'new in 4.3.0\n' > "$demo/app2/resources/whatsnew.txt"
echo "application folder: $(find "$demo/app" -type f | wc -l) files, $(du -sh "$demo/app" | cut -f1)"
bash scripts/package.sh 4.2.0 "$demo/app" "$demo/Corvella-4.2.0.msi" 2>/dev/null
bash scripts/package.sh 4.3.0 "$demo/app2" "$demo/Corvella-4.3.0.msi" 2>/dev/null
echo

echo "== install 4.2.0"
msiexec /i 'C:\kestrova-demo\Corvella-4.2.0.msi'
wine reg query 'HKLM\Software\Kestrova\Corvella' /s 2>/dev/null | tr -d '\r' | grep -v '^$'
echo

echo "== repair after damage (Wine's msiexec has no /f; REINSTALL=ALL is the same repair)"
printf 'tampered' > "$program_files/Corvella/README.txt"
msiexec /i 'C:\kestrova-demo\Corvella-4.2.0.msi' REINSTALL=ALL REINSTALLMODE=amus
echo "Under Wine every folder is owned by the Wine user, never by SYSTEM or Administrators, and that user may create"
echo "folders in C:\\Program Files, so swap refuses to exchange folders there (the SECURITY line names both) and leaves"
echo "the fresh copy staged; on Windows it becomes the install folder in one rename."
echo

echo "== upgrade to 4.3.0: 4.2.0 goes without uninstall, 4.3.0 is staged and committed beside the install folder"
msiexec /i 'C:\kestrova-demo\Corvella-4.3.0.msi'
echo "marker of Corvella.staging: $(cat "$program_files/Corvella.staging/.complete")"
echo

echo "== removal"
msiexec /x 'C:\kestrova-demo\Corvella-4.3.0.msi'
echo "registry: $(wine reg query 'HKLM\Software\Kestrova' /s 2>&1 | tr -d '\r' | head -n 1)"
