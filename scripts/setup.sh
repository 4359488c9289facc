#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine; quiet and quick when everything is there.
set -euo pipefail

packages=(cmake ninja-build g++ mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 libwine msitools wixl gcab libwim-dev
          wimtools googletest libgtest-dev libgmock-dev libbenchmark-dev python3-pytest clang libclang-rt-14-dev openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
