#!/usr/bin/env bash
# Builds the release packages of the Windows builds, into dist/:
#   QuorvaneScheduler-<version>-win64.zip and .msi, the same for win32, and
#   SHA256SUMS listing them.
#
#   bash scripts/package.sh [--out DIR] [--patch N] [win64|win32]...
#
# Each zip holds QuorvaneScheduler.exe, README.txt, the sample CHANNEL.TXT and
# the stand-in tuner library in a folder of its own (standin/), so that it
# never shadows a real library placed beside the program. Each MSI is a
# per-user installer (packaging/QuorvaneScheduler.wxs) of the same files less
# the stand-in. --patch N builds the same source as version <major>.<minor>.N,
# in a build folder of its own: the newer release of the upgrade test.
#
# The packages are reproducible: every time in them is the last commit's
# (SOURCE_DATE_EPOCH), and the zip entries are sorted with fixed modes.
# QUORVANE_PACKAGE_DELAY=N makes every step run under that time N seconds
# slower (scripts/reproduce.sh slows one of its two builds so).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh

out=$root/dist patch='' presets=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --out) out=$(mkdir -p "$2" && cd "$2" && pwd) && shift 2 ;;
    --patch) patch=$2 && shift 2 ;;
    win64 | win32) presets+=("$1") && shift ;;
    *) sed -n '6p' "$0" >&2 && exit 2 ;;
  esac
done
[[ ${#presets[@]} -gt 0 ]] || presets=(win64 win32)
mkdir -p "$out"

run() {
  echo "+ $*"
  "$@"
}

version=$(sed -n 's/^project(QuorvaneScheduler VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || {
  echo "error: no version in CMakeLists.txt" >&2
  exit 1
}
[[ -z $patch ]] || version=${version%.*}.$patch

quorvane_install_deps

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt)}
export TZ=UTC
stamp=$(date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
# Tools that take the time from the clock see the commit's, frozen: a clock
# started from it would run on, and a slow build would write a later time.
at_commit_time() {
  FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f "$stamp" \
    bash -c 'sleep "$0" && exec "$@"' "${QUORVANE_PACKAGE_DELAY:-0}" "$@"
}
# A name-based GUID (RFC 4122, version 5), upper case in braces.
guid() {
  python3 -c 'import sys, uuid; print("{%s}" % str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$@"
}
# Fixed for all time: the installer finds older and newer releases by it.
upgrade_code=5B0C7C1E-4D1A-4E0B-9F0A-7A51C0D3E2A1

stage=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
packages=()

for preset in "${presets[@]}"; do
  case $preset in
    win64) triple=x86_64-w64-mingw32 arch=x64 platform=x64 ;;
    win32) triple=i686-w64-mingw32 arch=x86 platform=Intel ;;
  esac
  tree=build/$preset configure=()
  if [[ -n $patch ]]; then
    tree=build/$preset-patch$patch
    configure=(-B "$tree" -DQUORVANE_VERSION_PATCH_OVERRIDE="$patch" -DQUORVANE_BUILD_TESTS=OFF)
  fi
  run cmake --preset "$preset" "${configure[@]}" >/dev/null
  run cmake --build "$tree" -j2 --target QuorvaneScheduler QuorvaneControl

  program=$tree/ui/QuorvaneScheduler.exe
  standin=$tree/tuner/standin/QuorvaneControl.dll
  for binary in "$program" "$standin"; do
    run bash tests/binaries/check-binary.sh imports "$triple-objdump" "$binary" >/dev/null
    run bash tests/binaries/check-binary.sh resources "$triple-windres" "$binary" "$version" >/dev/null
  done

  name=QuorvaneScheduler-$version-$preset
  dir=$stage/$name
  mkdir -p "$dir/standin"
  cp "$program" resources/CHANNEL.TXT "$dir/"
  cp "$standin" "$dir/standin/"
  # Symbols are of no use to the user.
  "$triple-strip" "$dir/QuorvaneScheduler.exe" "$dir/standin/QuorvaneControl.dll"
  python3 scripts/lib/pe_stamp.py "$SOURCE_DATE_EPOCH" "$dir/QuorvaneScheduler.exe" \
    "$dir/standin/QuorvaneControl.dll"
  # Notepad reads UTF-8 with a byte-order mark whatever the system's code page.
  for text in README.txt standin/README.txt; do
    { printf '\xef\xbb\xbf' && sed 's/$/\r/' "packaging/${text/\//-}"; } >"$dir/$text"
  done
  find "$dir" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$dir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

  rm -f "$out/$name.zip"
  python3 scripts/lib/make_zip.py "$SOURCE_DATE_EPOCH" "$out/$name.zip" "$dir"
  packages+=("$name.zip")

  # The installer: the same files less the stand-in, whose place belongs to
  # the tuner maker's library.
  msi=$stage/$name-msi
  mkdir -p "$msi"
  cp -p "$dir/QuorvaneScheduler.exe" "$dir/README.txt" "$dir/CHANNEL.TXT" "$msi/"
  cp -p resources/icon.ico "$msi/"
  product_code=$(guid "$upgrade_code" "$version $arch")
  package_code=$(guid "$product_code" "$(cd "$msi" && sha256sum -- * | sha256sum)")
  rm -f "$out/$name.msi"
  (cd "$msi" && at_commit_time wixl -a "$arch" -D Version="$version" -D ProductCode="$product_code" \
    -D UpgradeCode="$upgrade_code" \
    -o "$out/$name.msi" "$root/packaging/QuorvaneScheduler.wxs") 2>"$stage/wixl.log" || true
  if [[ -s $stage/wixl.log || ! -f $out/$name.msi ]]; then
    # An attribute wixl ignores is one the package silently lacks.
    cat "$stage/wixl.log" >&2
    echo "error: wixl did not build $name.msi cleanly" >&2
    exit 1
  fi
  # Permanent (16) and conditional: the sample channel file. Upgrades replace
  # older releases and other builds of the same version (512: the maximum
  # version inclusive), taking the features' states over (1).
  sql=(
    "UPDATE \`Component\` SET \`Attributes\` = 20, \`Condition\` = 'NOT CHANNELFILE' WHERE \`Component\` = 'SampleChannels'"
    "CREATE TABLE \`DrLocator\` (\`Signature_\` CHAR(72) NOT NULL, \`Parent\` CHAR(72), \`Path\` CHAR(255), \`Depth\` SHORT PRIMARY KEY \`Signature_\`, \`Parent\`, \`Path\`)"
    "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Path\`, \`Depth\`) VALUES ('ChannelFile', '[LocalAppDataFolder]Programs\\Quorvane Scheduler', 0)"
    "INSERT INTO \`Signature\` (\`Signature\`, \`FileName\`) VALUES ('ChannelFile', 'CHANNEL.TXT')"
    "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('CHANNELFILE', 'ChannelFile')"
    "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)"
    "INSERT INTO \`InstallUISequence\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)"
    "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
    "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
    "UPDATE \`Feature\` SET \`Attributes\` = 16 WHERE \`Feature\` = 'Program'"
    "UPDATE \`File\` SET \`Version\` = '$version.0', \`Language\` = '1041' WHERE \`File\` = 'ProgramExe'"
  )
  queries=()
  for query in "${sql[@]}"; do queries+=(-q "$query"); done
  at_commit_time msibuild "$out/$name.msi" "${queries[@]}" \
    -s "Quorvane Scheduler $version" "Quorvane Scheduler" "$platform;1041" "$package_code"
  packages+=("$name.msi")
done

(cd "$out" && sha256sum -- "${packages[@]}" >SHA256SUMS)
echo "== $out"
(cd "$out" && ls -l -- "${packages[@]}" SHA256SUMS && cat SHA256SUMS)
