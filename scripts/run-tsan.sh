#!/usr/bin/env bash
# Builds build-tsan/ with ThreadSanitizer and runs the suites whose code runs on several
# threads: sessions on threads of their own (tst_session), kavoctl handling many ports at
# once (tst_kavoctl), the parallel fault soak (tst_ctlsoak, 30 s), and the window with its
# session on a thread of its own: connecting, uploading and the traffic it shows
# (tst_connect, tst_playtest, tst_traffic). Not part of the test
# command: run it after changing code that runs on session threads (link/, session/, cli/).
#
#   scripts/run-tsan.sh [ctest arguments]
#
# ThreadSanitizer sees the threads of our code; Qt's own libraries are not built with it, so
# tests/tsan.supp lists what it reports inside them alone.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KAVO_ROOT"
kavo_need_packages "${KAVO_PACKAGES[@]}"
kavo_say "ThreadSanitizer build in build-tsan/"
kavo_build build-tsan -DKAVO_TSAN=ON -- tst_session tst_kavoctl tst_ctlsoak tst_connect tst_playtest tst_traffic \
    kavoctl kavo-sim
# die_after_fork=0: the suites start kavo-sim and kavoctl (fork and exec) while their
# sessions run on other threads; the child only runs until its exec.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$KAVO_ROOT/tests/tsan.supp"
export KAVO_CTLSOAK_SECONDS=${KAVO_CTLSOAK_SECONDS:-30}
cd build-tsan
ctest --output-on-failure -R '^(tst_session|tst_kavoctl|tst_ctlsoak|tst_connect|tst_playtest|tst_traffic)$' "$@"
