#!/usr/bin/env bash
# scripts/wine-run.sh with the test's standard error in a file, replayed at the
# end: Wine hands it on to the desktop process the program starts, which
# outlives the test, and CTest would wait for that to close its pipe.
set -uo pipefail

errors=$(mktemp "${TMPDIR:-/tmp}/quorvane-e2e.XXXXXX")
bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" "$@" 2>"$errors"
status=$?
cat "$errors" >&2
rm -f "$errors"
exit "$status"
