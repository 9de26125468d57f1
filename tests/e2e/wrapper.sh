#!/usr/bin/env bash
# The arguments quorva.sh hands the program: each row holds the arguments
# given, "=>" and those handed on; {t} is a temporary folder, {T} its
# Windows path. An argument that begins with "/" and holds another is a path
# whether or not it exists; one that holds no other stays an option unless
# it names an existing file or folder.
set -euo pipefail
wrapper="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/quorva.sh"
t="$(mktemp -d)"
trap 'rm -rf "$t"' EXIT
mkdir "$t/src"
rows=(
  "{t}/src {t}/new.json {t}/no/x rel /d /hash:md5 => {T}\\src {T}\\new.json {T}\\no\\x rel /d /hash:md5 /display:,utf8"
  "/subdirs /tmp /no-such-name {t}/src => /subdirs Z:\\tmp /no-such-name {T}\\src /display:,utf8"
  "/report {t}/no/r.json /r:{t}/r.json /snapshot {t}/s.json => /report {T}\\no\\r.json /r:{T}\\r.json /snapshot {T}\\s.json /display:,utf8"
  "/exfile:{t}/f.txt /exfo {t}/d.txt /exfile /hash => /exfile:{T}\\f.txt /exfo {T}\\d.txt /exfile /hash /display:,utf8"
  "{t}/src {t}/d /recopy /tmp/list /recopy0:{t}/l0 /rec {t}/l => {T}\\src {T}\\d /recopy Z:\\tmp\\list /recopy0:{T}\\l0 /rec {T}\\l /display:,utf8"
  "{t}/src /manifest {t}/src/SHA256SUMS /ma:{t}/m /m => {T}\\src /manifest {T}\\src\\SHA256SUMS /ma:{T}\\m /m /display:,utf8"
  "/di:verbose /display:,text => /di:verbose /display:,text"
  "/display none unicode {t}/src => /display none unicode {T}\\src"
  "{t}/src /report {t}/r.json /moves /m => {T}\\src /report {T}\\r.json /moves /m /display:,utf8"
  "/display verbose /moves /report /snap {t}/s.json => /display verbose /moves /report /snap {T}\\s.json /display:,utf8"
)
status=0
for row in "${rows[@]}"; do
  row="${row//\{t\}/$t}"
  row="${row//\{T\}/Z:${t//\//\\}}"
  read -r -a given <<<"${row%% => *}"
  actual="$(QUORVA_PRINT_ARGS=1 bash "$wrapper" "${given[@]}" | paste -sd ' ')"
  if [ "$actual" != "${row#* => }" ]; then
    printf 'FAILED: %s\n  got: %s\n' "$row" "$actual" >&2
    status=1
  fi
done

# A user without a home folder of its own and without WINEPREFIX is stopped
# with the wrapper's own exit code and told what to set.
if [ "$(id -u)" -eq 0 ]; then
  chmod 755 "$t"
  code=0
  message="$(cd "$t" && setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -u WINEPREFIX HOME=/nonexistent bash "$wrapper" "$t/src" "$t/src" 2>&1)" || code=$?
  expected="quorva.sh: Wine cannot use the prefix /nonexistent/.wine.
Set HOME to a folder of your own, or WINEPREFIX to a folder of your own or one that
can be made, for instance: HOME=/tmp/q-user WINEPREFIX=/tmp/q-user/pfx ./quorva.sh ..."
  if [ "$code" -ne 78 ] || [ "$message" != "$expected" ]; then
    printf 'FAILED: without a home folder: exit %s\n%s\n' "$code" "$message" >&2
    status=1
  fi
fi
exit $status
