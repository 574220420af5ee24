#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/bench_*.cpp) in build/ and prints their figures.
#
#   scripts/bench.sh              every benchmark
#   scripts/bench.sh startup ...  only bench_startup (and the others named)
#
# Without a display they run under Xvfb, so windows are really shown.
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

kavo_need_packages "${KAVO_PACKAGES[@]}"
kavo_build build -- "${names[@]}"

status=0
for name in "${names[@]}"; do
    kavo_say "$name"
    if kavo_have_display; then
        "build/bin/$name" || status=1
    else
        kavo_xvfb_run "build/bin/$name" || status=1
    fi
done
exit "$status"
