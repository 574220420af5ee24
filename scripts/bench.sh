#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/bench_*.cpp) and prints their figures, then a
# summary: every goal met or not, and the machine's load before and after.
#
#   scripts/bench.sh              every benchmark
#   scripts/bench.sh startup ...  only bench_startup (and the others named)
#
# Without a display they run under Xvfb, so windows are really shown. bench/README.md
# describes the method. KAVO_BENCH_BUILD names the build folder (default build/);
# KAVO_BENCH_CPUS, KAVO_BENCH_PIN and KAVO_BENCH_STRACE are passed on to the benchmarks.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KAVO_ROOT"

names=()
if [ $# -gt 0 ]; then
    for n in "$@"; do
        names+=("bench_${n#bench_}")
    done
else
    for f in bench/bench_*.cpp; do
        [ -e "$f" ] || continue
        names+=("$(basename "$f" .cpp)")
    done
fi
[ ${#names[@]} -gt 0 ] || kavo_die "no benchmarks in bench/"

# strace counts the system calls in the benchmarks' counting runs.
kavo_need_packages "${KAVO_PACKAGES[@]}" strace
build=${KAVO_BENCH_BUILD:-build}
kavo_build "$build" -- "${names[@]}"

out=$(mktemp -d "${TMPDIR:-/tmp}/kavo-bench-XXXXXX")
trap 'rm -rf "$out"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(kavo_now)

status=0
results=()
for name in "${names[@]}"; do
    kavo_say "$name"
    rc=0
    if kavo_have_display; then
        "$build/bin/$name" 2>&1 | tee "$out/$name.txt" || rc=$?
    else
        kavo_xvfb_run "$build/bin/$name" 2>&1 | tee "$out/$name.txt" || rc=$?
    fi
    [ "$rc" -eq 0 ] || status=1
    results+=("$name:$rc")
done

printf '\n==> Summary (%s; load average %s before, %s after)\n' "$(kavo_took "$started")" "$load_before" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
met=0 missed=0
for entry in "${results[@]}"; do
    name=${entry%%:*} rc=${entry##*:}
    if [ "$rc" -eq 0 ]; then
        printf '%s\n' "$name"
    else
        printf '%s: FAILED (exit status %s), its figures are incomplete\n' "$name" "$rc"
    fi
    grep -E '^  CPUs: ' "$out/$name.txt" | head -n 1 || true
    while IFS= read -r line; do
        printf '%s\n' "$line"
        case $line in
            '  MET '*) met=$((met + 1)) ;;
            '  NOT MET '*) missed=$((missed + 1)) ;;
        esac
    done < <(grep -E '^  (MET|NOT MET) ' "$out/$name.txt" || true)
done
printf '%d goals met, %d not met\n' "$met" "$missed"
exit "$status"
