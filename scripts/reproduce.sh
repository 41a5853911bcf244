#!/usr/bin/env bash
# Shows that the packages are reproducible: clones the current commit twice,
# into folders of different names and lengths, builds the packages in each
# (scripts/package.sh) and compares the executables, the libraries, the zips
# and the MSIs byte for byte. The second build is slowed on purpose: every
# step it runs at the commit's time sleeps 2 s first, so that a time taken
# from a running clock instead of the commit's would differ.
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
delays=(0 2)
for i in 0 1; do
  tree=${trees[i]}
  echo "== building $commit in $tree (steps at the commit's time slowed by ${delays[i]} s)"
  git clone -q "$root" "$tree"
  git -C "$tree" checkout -q --detach "$commit"
  (cd "$tree" && QUORVANE_PACKAGE_DELAY=${delays[i]} bash scripts/package.sh) >"$tree.log" 2>&1 || {
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

# Identical builds could still share a wrong time: each time in the slowed
# build's packages must be the commit's itself.
epoch=$(git -C "$root" log -1 --format=%ct "$commit")
times() {
  local package
  for package in "${trees[1]}"/dist/*.msi; do
    TZ=UTC msiinfo suminfo "$package" | sed -n 's/^\(Created\|Last saved\): //p'
  done
  for package in "${trees[1]}"/dist/*.zip; do
    TZ=UTC unzip -Z -T "$package" | awk '/^-/ {print $7}'
    (cd "$work" && rm -rf pe && mkdir pe && cd pe && unzip -q "$package" &&
      find . -name '*.exe' -o -name '*.dll' | sort | xargs x86_64-w64-mingw32-objdump -p |
      sed -n 's/^\(Time\/Date\|Time\/Date stamp\)[[:space:]]*//p')
  done
}
expected=("$(TZ=UTC date -d "@$epoch" '+%a %b %e %H:%M:%S %Y')" "$(TZ=UTC date -d "@$epoch" '+%Y%m%d.%H%M%S')"
  "$(printf '%x' "$epoch")")
wrong=$(TZ=UTC times | sort | uniq -c | grep -v -F -e "${expected[0]}" -e "${expected[1]}" -e "${expected[2]}" || true)
echo "times in the packages (MSI summary, zip entries, PE headers and export tables):"
TZ=UTC times | sort | uniq -c
[[ -z $wrong ]] || { echo "reproduce: times other than the commit's ($epoch)" && different=$((different + 1)); }
if [[ $different -eq 0 ]]; then
  echo "reproduce: identical"
else
  echo "reproduce: $different of ${#files[@]} files differ"
  exit 1
fi
