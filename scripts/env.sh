# Sourced by the other scripts: where the build goes and how Wine runs.
QUORVA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QUORVA_BUILD="${QUORVA_BUILD:-$QUORVA_ROOT/build}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Creates the Wine prefix once and keeps a Wine server running, so that each
# program start takes a fraction of a second.
quorva_start_wine() {
  local prefix="${WINEPREFIX:-$HOME/.wine}"
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  # The first program of a server session starts Wine's background services,
  # which inherit its output handles. Start them here, on /dev/null, so that
  # no test's output pipe stays open after the test has ended.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
