#!/usr/bin/env bash
# The end-to-end tests' emulator: scripts/wine-run.sh with the test's standard
# error in a file, replayed when the test ends. Wine hands a process's Unix
# standard error on to every process it starts, and the program under test
# starts Wine's desktop process, which outlives the test; were that CTest's
# pipe, CTest would wait for the desktop to close it.
set -uo pipefail

errors=$(mktemp "${TMPDIR:-/tmp}/quorvane-e2e.XXXXXX")
bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-run.sh" "$@" 2>"$errors"
status=$?
cat "$errors" >&2
rm -f "$errors"
exit "$status"
