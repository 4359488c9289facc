# Sourced by the scripts that run Windows programs: a private Wine prefix inside the build folder, never the
# user's own, and Wine's own chatter silenced.
KESTROVA_ROOT=${KESTROVA_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${KESTROVA_WINEPREFIX:-$KESTROVA_ROOT/build/windows/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Creates the prefix once (about 15 s) and keeps a wineserver running until wine_stop.
wine_start() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Bring up the prefix's services (services.exe, winedevice, plugplay) now, detached from our output: the first
  # program run under a persistent server would otherwise start them with its own stdout, and they would keep a
  # test runner's pipe open, and the runner waiting, for as long as the server lives.
  wine wineboot </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
