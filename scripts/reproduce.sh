#!/usr/bin/env bash
# Shows that the packages are reproducible: clones the current commit twice,
# into folders of different names and lengths, builds the packages in each
# (scripts/package.sh) and compares the executables, the libraries, the zips
# and the MSIs byte for byte.
#
#   bash scripts/reproduce.sh
#
# Prints a table and "reproduce: identical", or the files that differ and
# exits 1. Uncommitted changes are not part of the clones.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
[[ -z $(git -C "$root" status --porcelain --untracked-files=no) ]] ||
  echo "note: uncommitted changes are left out; building commit $commit"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-reproduce.XXXXXX")
trap 'rm -rf "$work"' EXIT
trees=("$work/a" "$work/second-clone-elsewhere")
for tree in "${trees[@]}"; do
  echo "== building $commit in $tree"
  git clone -q "$root" "$tree"
  git -C "$tree" checkout -q --detach "$commit"
  (cd "$tree" && bash scripts/package.sh) >"$tree.log" 2>&1 || {
    cat "$tree.log"
    exit 1
  }
done

files=()
for preset in win64 win32; do
  files+=("build/$preset/ui/QuorvaneScheduler.exe" "build/$preset/tuner/standin/QuorvaneControl.dll")
done
while IFS= read -r package; do files+=("dist/$package"); done < <(cd "${trees[0]}/dist" && ls)

different=0
printf '%-52s %-16s %s\n' file sha256 result
for file in "${files[@]}"; do
  one=${trees[0]}/$file two=${trees[1]}/$file
  sum=$(sha256sum <"$one" | cut -c1-16)
  if cmp -s "$one" "$two"; then
    printf '%-52s %-16s %s\n' "$file" "$sum" identical
  else
    printf '%-52s %-16s %s\n' "$file" "$sum" "DIFFERS ($(cmp "$one" "$two" 2>&1 | sed 's/.* differ: //'))"
    different=$((different + 1))
  fi
done
if [[ $different -eq 0 ]]; then
  echo "reproduce: identical"
else
  echo "reproduce: $different of ${#files[@]} files differ"
  exit 1
fi
