#!/usr/bin/env bash
# Builds Corvella's installer package: packs the application folder DIST into the payload archive with
# kestrova-pack, then builds OUT.msi from packaging/corvella.wxs with wixl, carrying the archive's SHA-256 in
# PAYLOAD_SHA256. CORVELLA_CERTIFICATE names a .cer file to ship and install (none when unset); KESTROVA_EXE and
# KESTROVA_PACK name the tool and the packer (the windows and host builds by default).
#   scripts/package.sh VERSION DIST OUT.msi
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: scripts/package.sh VERSION DIST OUT.msi" >&2
  exit 2
fi
version=$1 dist=$2 out=$3
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${KESTROVA_EXE:-$root/build/windows/src/cli/KestrovaPayload.exe}
packer=${KESTROVA_PACK:-$root/build/host/src/cli/kestrova-pack}
certificate=${CORVELLA_CERTIFICATE:-}
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]]; then
  echo "package: '$version' is not a version of three or four numbers" >&2
  exit 2
fi
for f in "$exe" "$packer"; do
  [ -f "$f" ] || { echo "package: $f is missing; build it first" >&2; exit 1; }
done
[ -d "$dist" ] || { echo "package: $dist is not a folder" >&2; exit 1; }
if [ -n "$certificate" ]; then
  [ -f "$certificate" ] || { echo "package: $certificate is missing" >&2; exit 1; }
fi
case $out in /*) ;; *) out=$PWD/$out ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tool"
cp "$exe" "$work/tool/KestrovaPayload.exe"
cp "$root/packaging/recover.ps1" "$work/tool/recover.ps1"
# The package source and its version include side by side, so the include found is this build's.
cp "$root/packaging/corvella.wxs" "$work/corvella.wxs"
printf '<?xml version="1.0" encoding="utf-8"?>\n<Include>\n  <?define ProductVersion = "%s" ?>\n</Include>\n' \
  "$version" > "$work/version.wxi"

if [ -n "$certificate" ]; then
  cp "$certificate" "$work/Corvella.cer"
  certificate=Corvella.cer
fi

"$packer" --src "$dist" --out "$work/payload.kvp" >&2
digest=$(sha256sum "$work/payload.kvp" | cut -d' ' -f1)
# wixl finds a Binary row's file only by a path relative to where it runs, so every file is named from there.
(cd "$work" && wixl -a x64 -D ToolDir=tool -D PayloadFile=payload.kvp -D PayloadSha256="$digest" \
  -D Certificate="$certificate" -o out.msi corvella.wxs 2> >(grep -v -e GLib-GObject-WARNING -e '^$' >&2))
# Rows wixl cannot write. The older version is removed with REMOVE set to the feature, not ALL, so that its removal
# can tell itself from a user's (Wine's installer engine does not set UPGRADINGPRODUCTCODE there). The vendor folder
# above the tools' folder belongs to the tool's component, so that a removal takes it once it is empty.
(
  cd "$work"
  msiinfo export out.msi Upgrade |
    awk -F'\t' 'BEGIN { OFS = "\t" } NR > 3 && $7 == "WIX_UPGRADE_DETECTED\r" { $6 = "Corvella" } { print }' > Upgrade.idt
  printf 'Directory_\tComponent_\r\ns72\ts72\r\nCreateFolder\tDirectory_\tComponent_\r\n' > CreateFolder.idt
  printf 'KestrovaFolder\tPayloadTool\r\n' >> CreateFolder.idt
  msibuild out.msi -i Upgrade.idt -i CreateFolder.idt
)
mv "$work/out.msi" "$out"
echo "package: $out, Corvella $version, payload $(stat -c %s "$work/payload.kvp") bytes, SHA-256 $digest"
