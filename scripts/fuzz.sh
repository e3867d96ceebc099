#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) into build-fuzz/ and runs each for the given time.
#
#   scripts/fuzz.sh [SECONDS [TARGET ...]]
#
# SECONDS a target (default 600); targets default to all six: fuzz_layout,
# fuzz_xlsx, fuzz_dxf, fuzz_snapshot, fuzz_xls, fuzz_level. Each starts from its seeds in
# fuzz/corpus/<name>/ and keeps what it learns in build-fuzz/corpus/<name>/;
# a finding is left as build-fuzz/findings/<target>-crash-… and the script
# ends non-zero. Two targets run at a time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
SEDIMETRA_PACKAGES+=(clang libclang-rt-dev)
sedimetra_install_deps
seconds="${1:-600}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_layout fuzz_xlsx fuzz_dxf fuzz_snapshot fuzz_xls fuzz_level)
fi
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSEDIMETRA_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
mkdir -p "$build/findings"
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
status=0
run() {
  local target="$1" seeds="$root/fuzz/corpus/${1#fuzz_}" corpus="$build/corpus/${1#fuzz_}"
  local extra=()
  # FreeXL reads past its own buffers on some damaged files (the program runs
  # it in a child process for that reason): its findings are counted and the
  # run goes on, in fork mode.
  if [ "$target" = fuzz_xls ]; then
    extra=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  fi
  mkdir -p "$corpus"
  "$build/fuzz/$target" "$corpus" "$seeds" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -timeout=20 -max_len=262144 -artifact_prefix="$build/findings/$target-" "${extra[@]}" \
    >"$build/findings/$target.log" 2>&1 || return 1
}
pids=()
for target in "${targets[@]}"; do
  run "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for target in "${targets[@]}"; do
  echo "$target: $(grep -E '^(#[0-9]+ *DONE|Done [0-9]+ runs|INFO: fuzzed for)' "$build/findings/$target.log" | tail -1)"
done
exit $status
