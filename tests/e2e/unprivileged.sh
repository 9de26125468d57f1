#!/usr/bin/env bash
# Runs the end-to-end tests that need a real access denial. Root reads
# everything, so they run as the unprivileged user "nobody", with a Wine
# prefix of its own and copies of the programs in a folder that user can
# read. The tests deny access with chmod, reached through Wine's start.exe.
#   tests/e2e/unprivileged.sh BUILD_DIR
set -euo pipefail

build="$(cd "${1:?usage: unprivileged.sh BUILD_DIR}" && pwd)"
uid=65534
# QUORVA_UNPRIVILEGED_HOME keeps runs from two checkouts apart.
home="${QUORVA_UNPRIVILEGED_HOME:-/tmp/quorva-unprivileged}"
bin="$home/bin"

if [ "$(id -u)" -ne 0 ]; then
  # Already unprivileged: a chmod 000 file denies this user too.
  exec env WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml=" \
    wine "$build/quorva_unprivileged_tests.exe"
fi

run_as_nobody() {
  setpriv --reuid=$uid --regid=$uid --clear-groups \
    env -u USER -u XDG_RUNTIME_DIR HOME="$home" WINEPREFIX="$home/pfx" WINEDEBUG=-all \
    WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml=" "$@"
}

mkdir -p "$home"
chown $uid:$uid "$home"
chmod 755 "$home"
if [ ! -f "$home/pfx/system.reg" ]; then
  run_as_nobody sh -c 'wineboot -i >/dev/null 2>&1; wineserver -w'
fi

rm -rf "$bin"
mkdir -p "$bin"
cp "$build/quorva.exe" "$build/quorva_unprivileged_tests.exe" "$bin/"
chown -R $uid:$uid "$bin"

cd "$bin"
run_as_nobody wineserver -p >/dev/null 2>&1 || true
status=0
run_as_nobody wine "$bin/quorva_unprivileged_tests.exe" || status=$?
run_as_nobody wineserver -k >/dev/null 2>&1 || true
exit $status
