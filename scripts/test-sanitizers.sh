#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-sanitize/ and runs every test there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
sedimetra_install_deps
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DSEDIMETRA_SANITIZE=ON >/dev/null
cmake --build "$root/build-sanitize" -j"$(nproc)"
cd "$root/build-sanitize"
# Leaks are not what this run looks for (Qt keeps some to the end); every
# memory error and undefined behaviour fails the test it happens in.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export SEDIMETRA_SANITIZED=1
ctest --output-on-failure -j2 --timeout 900
