#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$root/build" --output-on-failure -j 2

# CI (or TLV_FULL=1 by hand): the whole suite again under AddressSanitizer + UBSan, then the
# JSON-column fuzzer for a minute. Any sanitizer report, leak or fuzzer crash fails the run.
if [ "${CI:-}" = "true" ] || [ "${TLV_FULL:-0}" = "1" ]; then
    TLV_SANITIZE=1 "$root/scripts/build.sh"
    # Qt has no frame pointers: only slow unwinding gives the full allocation stacks that the
    # suppressions (Qt's own leaks, each explained in tests/lsan.supp) are matched against.
    export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1:check_initialization_order=1:strict_init_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
    # The plain pass already runs the full counts; here each case only has to be clean.
    TLV_KILLS=40 TLV_HOLES=1000 ctest --test-dir "$root/build-asan" --output-on-failure -j 2

    cmake -S "$root/fuzz" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++
    cmake --build "$root/build-fuzz" -j "$(nproc 2>/dev/null || echo 2)"
    mkdir -p "$root/build-fuzz/corpus"
    ASAN_OPTIONS="fast_unwind_on_malloc=0" LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0" \
        "$root/build-fuzz/fuzz_recordjson" -max_total_time=60 -print_final_stats=1 \
        -artifact_prefix="$root/build-fuzz/" "$root/build-fuzz/corpus" "$root/fuzz/corpus"
fi
