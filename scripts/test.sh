#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
full=0
if [ "${CI:-}" = "true" ] || [ "${TLV_FULL:-0}" = "1" ]; then
    full=1
fi
"$root/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

# CI builds with warnings as errors and checks the formatting first.
if [ "$full" = "1" ]; then
    "$root/scripts/format.sh" --check
    TLV_PRESET=ci "$root/scripts/build.sh"
    "$root/scripts/tidy.sh" "$root/build"
else
    "$root/scripts/build.sh"
fi
ctest --test-dir "$root/build" --output-on-failure -j 2

# CI (or TLV_FULL=1 by hand): the whole suite again under AddressSanitizer + UBSan, the worker
# and report dialog tests under ThreadSanitizer, then the JSON-column fuzzer for a minute. Any
# sanitizer report, leak or fuzzer crash fails the run.
if [ "$full" = "1" ]; then
    TLV_PRESET=asan "$root/scripts/build.sh"
    # Qt has no frame pointers: only slow unwinding gives the full allocation stacks that the
    # suppressions (Qt's own leaks, each explained in tests/lsan.supp) are matched against.
    ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1:check_initialization_order=1:strict_init_order=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
    TLV_KILLS=10 ctest --test-dir "$root/build-asan" --output-on-failure -j 2

    TLV_PRESET=tsan "$root/scripts/build.sh"
    TSAN_OPTIONS="halt_on_error=1:history_size=7:ignore_noninstrumented_modules=1:suppressions=$root/tests/tsan.supp" \
    ctest --test-dir "$root/build-tsan" --output-on-failure -R '^(tst_worker|tst_reportdialog)$'

    TLV_PRESET=fuzz "$root/scripts/build.sh"
    mkdir -p "$root/build-fuzz/corpus"
    ASAN_OPTIONS="fast_unwind_on_malloc=0" LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0" \
        "$root/build-fuzz/fuzz/fuzz_recordjson" -max_total_time=60 -print_final_stats=1 \
        -artifact_prefix="$root/build-fuzz/" "$root/build-fuzz/corpus" "$root/fuzz/corpus"
fi
