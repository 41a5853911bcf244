#!/usr/bin/env bash
# Fails when product code refers to the heap: operator new/new[], malloc and
# its kin. std::string, std::vector and an allocating std::function all end
# in operator new, so they are caught too.
#   check-no-heap.sh NM FILE...   (a FILE may be a ;-separated list)
set -euo pipefail
nm_tool=$1
shift
IFS=';' read -r -a files <<<"$(IFS=';' && echo "$*")"
[[ ${#files[@]} -gt 0 ]] || { echo "no files to check" >&2 && exit 2; }
# Itanium-mangled operator new and new[] (size_t is m, j or y) and the C
# allocators, with or without the leading underscore of 32-bit Windows.
found=$("$nm_tool" -u --no-demangle "${files[@]}" 2>/dev/null | awk '{print $NF}' |
  grep -E '^_{0,2}(_Zn[wa][mjy]|malloc|calloc|realloc|strdup|_strdup)$' | sort -u || true)
[[ -z $found ]] || { printf 'heap allocation referenced by product code:\n%s\n' "$found" && exit 1; }
echo "checked ${#files[@]} file(s): no heap allocation"
