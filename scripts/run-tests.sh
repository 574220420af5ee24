#!/usr/bin/env bash
# Every test: installs what is missing, then
#   1. builds build/ (RelWithDebInfo) and runs the whole suite there with ctest,
#   2. builds the Debian package in build-package/, checks it with lintian, installs it and
#      checks the installed tool (scripts/check-package.sh),
#   3. builds build-asan/ with AddressSanitizer, UndefinedBehaviorSanitizer and warnings as
#      errors, and runs the whole suite again there.
# Every step runs even when an earlier one failed; the exit status is non-zero when any
# failed. The last lines are ctest's summaries.
#
#   scripts/run-tests.sh
#
# KAVO_CTEST_JOBS (default 2) sets how many suites ctest runs at once; extra arguments go to
# both ctest runs (e.g. -R tst_sim).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KAVO_ROOT"

ctest_jobs=${KAVO_CTEST_JOBS:-2}
total_start=$(kavo_now)
kavo_need_packages "${KAVO_PACKAGES[@]}" "${KAVO_PACKAGE_TOOLS[@]}"

failed=()
timings=()
rm -f build/ctest.log build-asan/ctest.log

# run_suite DIR: runs ctest in DIR, keeping its output in DIR/ctest.log.
run_suite() {
    local dir=$1
    shift
    local status=0
    (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$ctest_jobs" "$@") 2>&1 | tee "$dir/ctest.log" \
        || status=$?
    return "$status"
}

# --- 1. plain build and tests -------------------------------------------------------------
start=$(kavo_now)
kavo_say "Plain build in build/"
if kavo_build build; then
    timings+=("plain build: $(kavo_took "$start")")
    start=$(kavo_now)
    kavo_say "Tests in build/"
    run_suite build "$@" || failed+=("tests in build/")
    timings+=("plain tests: $(kavo_took "$start")")
else
    failed+=("plain build")
fi

# --- 2. the Debian package ----------------------------------------------------------------
start=$(kavo_now)
kavo_say "Package check"
"$KAVO_ROOT/scripts/check-package.sh" || failed+=("package check")
timings+=("package check: $(kavo_took "$start")")

# --- 3. sanitizer build and tests ---------------------------------------------------------
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
start=$(kavo_now)
kavo_say "Sanitizer build in build-asan/"
if kavo_build build-asan -DKAVO_SANITIZE=ON; then
    timings+=("sanitizer build: $(kavo_took "$start")")
    start=$(kavo_now)
    kavo_say "Tests in build-asan/ (AddressSanitizer, UndefinedBehaviorSanitizer)"
    run_suite build-asan "$@" || failed+=("tests in build-asan/")
    timings+=("sanitizer tests: $(kavo_took "$start")")
else
    failed+=("sanitizer build")
fi

# --- summary ------------------------------------------------------------------------------
echo
kavo_say "Timings: $(kavo_join "${timings[@]}"); all: $(kavo_took "$total_start")"
if [ ${#failed[@]} -ne 0 ]; then
    kavo_say "FAILED: $(kavo_join "${failed[@]}")"
fi
# ctest's closing lines of both runs, last, where CI reads them.
for dir in build build-asan; do
    [ -f "$dir/ctest.log" ] || continue
    echo "--- $dir"
    grep -E '^[0-9]+% tests passed|^Total Test time' "$dir/ctest.log" || echo "(no ctest summary)"
done
[ ${#failed[@]} -eq 0 ]
