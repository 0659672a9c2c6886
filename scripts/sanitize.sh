#!/usr/bin/env bash
# The sanitized build: everything, tests and the converters the tool embeds included, built
# with clang, AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (the fuzz
# targets share this build), then the whole test suite run under it.
#   scripts/sanitize.sh [--build-only]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVANE_FUZZ=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
[[ "${1:-}" == "--build-only" ]] && exit 0

# Every report ends the program that made it; the converters the tests start inherit this.
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1"
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
