#!/usr/bin/env bash
# Fails when a C++ file of the project differs from .clang-format; prints what differs.
#   scripts/check-format.sh        (scripts/format.sh puts everything right)
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "formatting: every file matches .clang-format"
