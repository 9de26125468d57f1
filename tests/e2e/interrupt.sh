#!/usr/bin/env bash
# Ctrl+C during a run ends it with exit code 3, never 0 (which a script reads
# as "identical"), and leaves no listing cache file. Wine gives a program a
# console only on a terminal, so the program runs under script(1) on a
# pseudo-terminal, where the byte 0x03 is Ctrl+C.
#   tests/e2e/interrupt.sh BUILD_DIR
set -euo pipefail

build="$(cd "${1:?usage: interrupt.sh BUILD_DIR}" && pwd)"
export WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Two sparse files of 4 GiB: hashing them takes far longer than the test
# needs to send Ctrl+C.
mkdir "$work/src" "$work/dst"
truncate -s 4G "$work/src/big" "$work/dst/big"

temp="$(winepath -u "$(wine cmd.exe /c echo %TEMP% </dev/null | tr -d '\r')")"
caches() { ls "$temp" | grep -i '^quo.*\.tmp$' || true; }
before="$(caches)"

mkfifo "$work/keys"
timeout 300 script -qefc "wine '$build/quorva.exe' '$(winepath -w "$work/src")' \
  '$(winepath -w "$work/dst")' /hash" /dev/null <"$work/keys" >"$work/out" &
pid=$!
exec 3>"$work/keys"

# Once the listing cache file exists, the comparison is under way.
for _ in $(seq 600); do
  [ "$(caches)" != "$before" ] && break
  sleep 0.1
done
[ "$(caches)" != "$before" ] || { echo "FAIL: the run never created its cache file"; exit 1; }
printf '\003' >&3
status=0
wait $pid || status=$?
exec 3>&-

if [ $status -ne 3 ]; then
  echo "FAIL: exit code $status after Ctrl+C, expected 3; output:"
  cat -v "$work/out"
  exit 1
fi
if [ "$(caches)" != "$before" ]; then
  echo "FAIL: the cache file outlived the run: $(caches)"
  exit 1
fi
echo "PASS: Ctrl+C ended the run with exit code 3 and no cache file"
