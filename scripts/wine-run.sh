#!/usr/bin/env bash
# Runs one Windows program under the build's private Wine prefix and returns its exit code.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
[ -f "$WINEPREFIX/system.reg" ] || wine_start
exec wine "$@"
