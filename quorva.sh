#!/usr/bin/env bash
# Compares two folders given as Linux (or Windows) paths:
#   ./quorva.sh /data/a /data/b [/hash] [/date:2000] ...
# Installs what is missing and builds on first use.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/env.sh"

if [ ! -x "$QUORVA_BUILD/quorva.exe" ] || [ -n "${QUORVA_REBUILD:-}" ]; then
  bash "$QUORVA_ROOT/scripts/build.sh" >&2
fi
quorva_start_wine

args=()
for a in "$@"; do
  # Existing Linux paths become the Windows paths Wine sees (Z:\...).
  if [[ "$a" == /* ]] && [ -e "$a" ]; then
    args+=("$(winepath -w "$a" 2>/dev/null)")
  else
    args+=("$a")
  fi
done
exec wine "$QUORVA_BUILD/quorva.exe" "${args[@]}"
