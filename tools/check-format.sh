#!/bin/sh
# Fails when a C++ file of the repository differs from the .clang-format layout
# (fix with: clang-format -i FILE).
set -eu
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
