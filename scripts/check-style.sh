#!/usr/bin/env bash
# Checks the code against the house rules: every C++ file formatted as
# .clang-format says (nothing is changed), and, once build/ holds a build,
# clang-tidy's checks from .clang-tidy over the programs' and libraries'
# sources. Exits non-zero on the first rule broken.
#   scripts/check-style.sh format   only the formatting
#   scripts/check-style.sh tidy     only clang-tidy (needs build/compile_commands.json)
#   scripts/check-style.sh          both
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-all}"

if [ "$what" = format ] || [ "$what" = all ]; then
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
    echo "format: clean"
fi

if [ "$what" = tidy ] || [ "$what" = all ]; then
    [ -f build/compile_commands.json ] || { echo "tidy: build/ has no compile_commands.json; run scripts/build.sh first" >&2; exit 2; }
    # The programs and libraries; tests and benchmarks follow other habits
    # (gtest macros) and are left out.
    dirs='(common|pager|server|dialer|gateway|updater|config|report|tools|web)'
    out=$(mktemp)
    # run-clang-tidy prints each file's findings; any finding fails the check.
    run-clang-tidy -p build -j"$(nproc)" -quiet "^$PWD/$dirs/" >"$out" 2>&1 || true
    if grep -E '^/.*: (warning|error):' "$out"; then
        echo "tidy: findings above" >&2
        rm -f "$out"
        exit 1
    fi
    echo "tidy: clean ($(grep -c '^clang-tidy' "$out" || true) files)"
    rm -f "$out"
fi
