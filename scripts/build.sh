#!/usr/bin/env bash
# Installs what is missing, then builds build/quorva.exe and the tests, or
# only the targets named (scripts/build.sh quorva: the program alone).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

bash "$QUORVA_ROOT/scripts/install-deps.sh"
cmake -S "$QUORVA_ROOT" -B "$QUORVA_BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$QUORVA_ROOT/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=()
for target in "$@"; do
  targets+=(--target "$target")
done
cmake --build "$QUORVA_BUILD" -j"$(nproc)" "${targets[@]}"
