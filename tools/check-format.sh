#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted with the repository's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
fmt=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(find src tests bench fuzz results stress -name '*.cpp' -o -name '*.hpp' -o -name '*.inc' | sort)
"$fmt" --dry-run -Werror "${files[@]}"
echo "${#files[@]} files formatted"
