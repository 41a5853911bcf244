#!/usr/bin/env bash
# Builds the release packages of both Windows builds:
#   dist/QuorvaneScheduler-<version>-win64.zip and -win32.zip
# each holding QuorvaneScheduler.exe, README.md, the sample CHANNEL.TXT and
# the stand-in tuner library in a folder of its own (standin/), so that it
# never shadows a real library placed beside the program.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/deps.sh
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh

run() {
  echo "+ $*"
  "$@"
}

version=$(sed -n 's/^project(QuorvaneScheduler VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || {
  echo "error: no version in CMakeLists.txt" >&2
  exit 1
}
[[ -f README.md ]] || {
  echo "error: README.md is missing" >&2
  exit 1
}

quorvane_install_deps

stage=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p dist

for preset in win64 win32; do
  case $preset in
    win64) triple=x86_64-w64-mingw32 ;;
    win32) triple=i686-w64-mingw32 ;;
  esac
  run cmake --preset "$preset"
  run cmake --build --preset "$preset" -j2 --target QuorvaneScheduler QuorvaneControl

  program=build/$preset/ui/QuorvaneScheduler.exe
  standin=build/$preset/tuner/standin/QuorvaneControl.dll
  for binary in "$program" "$standin"; do
    run bash tests/binaries/check-binary.sh imports "$triple-objdump" "$binary" >/dev/null
  done

  name=QuorvaneScheduler-$version-$preset
  dir=$stage/$name
  mkdir -p "$dir/standin"
  cp "$program" "$dir/"
  cp README.md resources/CHANNEL.TXT "$dir/"
  cp "$standin" "$dir/standin/"
  # Symbols are of no use to the user.
  "$triple-strip" "$dir/QuorvaneScheduler.exe" "$dir/standin/QuorvaneControl.dll"
  sed 's/$/\r/' >"$dir/standin/README.txt" <<'EOF'
QuorvaneControl.dll in this folder is a stand-in for the tuner maker's
control library, for trying the scheduler where no tuner is installed. It
answers every call the scheduler makes and "records" a small test stream
(no picture from any broadcast) into the scheduled file.

Copy it beside QuorvaneScheduler.exe only when no real QuorvaneControl.dll
is installed there. Never let it replace the real library.
EOF

  rm -f "dist/$name.zip"
  (cd "$stage" && run zip -q -X -r "$root/dist/$name.zip" "$name")
  echo "== dist/$name.zip"
  zip -sf "dist/$name.zip"
done
