#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and
# end-to-end) under Wine through ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

bash "$QUORVA_ROOT/scripts/build.sh"
quorva_start_wine
cd "$QUORVA_BUILD"
# Wine itself now and then dies of a segmentation fault while a test
# program exits after its test has passed (seen about once in a few hundred
# runs on a loaded machine, never reproducible on demand). A test that fails
# is run once more; one that fails twice fails the suite. Every test that
# passed only on its second run is named at the end, so that a test that
# fails now and then is seen.
log="$QUORVA_BUILD/Testing/test-output.log"
mkdir -p "$(dirname "$log")"
status=0
ctest --output-on-failure --timeout 900 --repeat until-pass:2 "$@" | tee "$log" || status=$?
flaky="$(awk '
  / Test +#[0-9]+: / {
    name = $0
    sub(/.* Test +#[0-9]+: /, "", name)
    sub(/ .*/, "", name)
    if ($0 ~ /\*\*\*|Not Run/) {
      failed[name] = 1
    } else if ($0 ~ / Passed / && failed[name]) {
      print name
    }
  }' "$log")"
if [ -n "$flaky" ]; then
  echo
  echo "Passed only on a second run:"
  printf '  %s\n' $flaky
fi
exit "$status"
