#!/usr/bin/env bash
# The main job: builds KavoConfig, starts kavo-sim as a Kavo on a virtual COM port and
# starts kavoconfig.
#
#   scripts/run-kavoconfig.sh [kavo-sim options...]     e.g. --rate 115200
#
# With a display the window is yours; when you close it the simulator is stopped.
# Without one the tool runs under Xvfb: this script selects the simulator's port, presses
# Open, waits until the settings are read, takes a screenshot and prints the PNG's path.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KAVO_ROOT"

kavo_need_packages "${KAVO_PACKAGES[@]}"
kavo_say "Building in build/"
kavo_build build -- kavoconfig kavo-sim kavo-screenshot

bin=$KAVO_ROOT/build/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/kavoconfig-run.XXXXXX")

if ! kavo_have_display; then
    kavo_say "No display: running kavoconfig under Xvfb"
    KAVO_XVFB_LOG=$work/xvfb.log kavo_xvfb_run \
        "$KAVO_ROOT/scripts/headless-connect.sh" --tool "$bin/kavoconfig" --sim "$bin/kavo-sim" \
        --shot-tool "$bin/kavo-screenshot" --work "$work" --expect connect -- "$@"
    exit
fi

# A display: the simulator publishes its port where the tool looks for COM ports.
ports=$(kavo_ports_folder)
sim_pid=''
# shellcheck disable=SC2317  # run by the trap
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$bin/kavo-sim" --ports-dir "$ports" --card "$work/card" --log "$work/traffic.log" "$@" >"$work/kavo-sim.out" &
sim_pid=$!
com='' device=''
for _ in $(seq 100); do
    if read -r com device <"$work/kavo-sim.out" && [ -n "$device" ]; then
        break
    fi
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$device" ] || kavo_die "kavo-sim did not publish a port"

cat <<EOF
kavo-sim is a Kavo on $com ($device).
  card folder:  $work/card
  traffic log:  $work/traffic.log
In the window choose $com and press Open. Closing the window stops the simulator.
EOF
status=0
"$bin/kavoconfig" || status=$?
exit "$status"
