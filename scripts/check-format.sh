#!/usr/bin/env bash
# Fails when a C or C++ source of the tree differs from .clang-format, and
# lists the files. `scripts/check-format.sh --fix` reformats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
command -v "$clang_format" >/dev/null || { echo "check-format: $clang_format is not installed" >&2; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h' | while read -r f; do [ -e "$f" ] && echo "$f"; done)
else
  mapfile -t files < <(find include src tools tests bench examples -name '*.c' -o -name '*.cpp' -o -name '*.h')
fi
if [ "${1:-}" = "--fix" ]; then
  "$clang_format" -i "${files[@]}"
  exit 0
fi
differ=()
for file in "${files[@]}"; do
  "$clang_format" --dry-run --Werror "$file" >/dev/null 2>&1 || differ+=("$file")
done
if [ ${#differ[@]} -ne 0 ]; then
  echo "These files differ from .clang-format (scripts/check-format.sh --fix reformats them):"
  printf '  %s\n' "${differ[@]}"
  exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
