#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and
# end-to-end) under Wine through ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

bash "$QUORVA_ROOT/scripts/build.sh"
quorva_start_wine
cd "$QUORVA_BUILD"
ctest --output-on-failure --timeout 900 "$@"
