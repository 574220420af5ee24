#!/usr/bin/env bash
# Drives a real kavoconfig window on an X display as a user would: starts kavo-sim on a
# virtual COM port, starts the tool, selects the simulator's port, presses Open (automatic
# bit-rate detection is on when the window opens) and waits until the tool has talked to
# the simulator. Then it takes a screenshot, stops both programs and reports.
#
# Used by run-kavoconfig.sh (headless run) and check-package.sh (installed tool), each under
# Xvfb; it needs $DISPLAY.
#
#   headless-connect.sh --tool PATH --sim PATH --work DIR [--shot-tool PATH]
#                       [--expect probe|connect] [-- kavo-sim options...]
#
#   --work DIR        holds the simulator's card folder, its traffic log (traffic.log), the
#                     programs' output, the private runtime folder and the screenshot
#                     (kavoconfig.png)
#   --shot-tool PATH  kavo-screenshot; without it no screenshot is taken
#   --expect probe    success once the tool has probed the port (it listed and opened it)
#   --expect connect  success once the tool has read the version and every setting
#                     (the default)
#
# Prints the screenshot's path as the last line of standard output. Exit status 0 when the
# expectation was met, 1 otherwise (the screenshot is still taken when possible).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

tool='' sim='' work='' shot_tool='' expect=connect
while [ $# -gt 0 ]; do
    case $1 in
        --tool) tool=$2; shift 2 ;;
        --sim) sim=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --shot-tool) shot_tool=$2; shift 2 ;;
        --expect) expect=$2; shift 2 ;;
        --) shift; break ;;
        *) kavo_die "headless-connect.sh: unknown option $1" ;;
    esac
done
[ -x "$tool" ] || kavo_die "no tool to run: '$tool'"
[ -x "$sim" ] || kavo_die "no simulator to run: '$sim'"
[ -n "$work" ] || kavo_die "--work is missing"
case $expect in probe|connect) ;; *) kavo_die "--expect takes probe or connect" ;; esac
[ -n "${DISPLAY:-}" ] || kavo_die "headless-connect.sh needs an X display (run it under xvfb-run)"

mkdir -p "$work"
work=$(cd "$work" && pwd)
log=$work/traffic.log
shot=$work/kavoconfig.png
: >"$log"

# A runtime folder of our own: the COM list then holds the simulator (and the machine's own
# serial ports), whatever else runs on this machine. The tool and the simulator agree on
# the ports folder inside it.
export XDG_RUNTIME_DIR=$work/runtime
rm -rf "$XDG_RUNTIME_DIR"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
ports=$(kavo_ports_folder)
# The window system for the tool is the X display, whatever the caller's Qt settings say.
export QT_QPA_PLATFORM=xcb

sim_pid='' tool_pid=''
stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    stop "$tool_pid"
    stop "$sim_pid"
    rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- the simulator ----------------------------------------------------------------------
"$sim" --ports-dir "$ports" --card "$work/card" --log "$log" "$@" >"$work/kavo-sim.out" 2>"$work/kavo-sim.err" &
sim_pid=$!
com='' device=''
for _ in $(seq 100); do
    if read -r com device <"$work/kavo-sim.out" && [ -n "$device" ]; then
        break
    fi
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$device" ]; then
    cat "$work/kavo-sim.err" >&2
    kavo_die "kavo-sim did not publish a port"
fi
kavo_say "kavo-sim is $com ($device); traffic log $log"

# --- the tool -----------------------------------------------------------------------------
"$tool" >"$work/kavoconfig.out" 2>&1 &
tool_pid=$!
window=$(timeout 30 xdotool search --sync --all --onlyvisible --pid "$tool_pid" --name '^Kavo Configuration Tool$' 2>/dev/null | head -n 1) || true

met=false
if [ -z "$window" ]; then
    kavo_warn "the window of $tool did not appear within 30 s"
else
    kavo_say "window shown; selecting $com and pressing Open"
    # Keyboard focus starts in the COM list: typing the entry's name selects it, whatever
    # its place in the list. Three tabs go on to the Open button (past the bit-rate list
    # and the detection box), and space presses it.
    xdotool windowfocus --sync "$window"
    xdotool type --delay 60 "$com"
    xdotool key --delay 60 Tab Tab Tab space

    # Wait until the tool has read every setting (the last query is "ST U"), or has gone
    # quiet: a search that failed ends with a message box and no more traffic (no bytes for
    # longer than the tool's 1 s time-out).
    tab=$(printf '\t')
    probed=false settings=false
    last_size=-1 quiet_since=$SECONDS
    deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        grep -q "${tab}\\\\e${tab}" "$log" && probed=true
        if grep -q "${tab}ST U${tab}" "$log"; then
            settings=true
            break
        fi
        size=$(stat -c %s "$log")
        if [ "$size" != "$last_size" ]; then
            last_size=$size quiet_since=$SECONDS
        elif [ $((SECONDS - quiet_since)) -ge 4 ]; then
            break
        fi
        kill -0 "$tool_pid" 2>/dev/null || break
        sleep 0.2
    done
    case $expect in
        probe) met=$probed ;;
        connect) met=$settings ;;
    esac
    # Let the window repaint what the last reply changed.
    sleep 1
fi

# --- the screenshot -----------------------------------------------------------------------
if [ -n "$shot_tool" ]; then
    # The part of the screen that the tool's windows cover (the window and any message box).
    x0=100000 y0=100000 x1=0 y1=0
    for w in $(xdotool search --onlyvisible --pid "$tool_pid" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if [ "$WIDTH" -le 1 ] || [ "$HEIGHT" -le 1 ]; then
            continue
        fi
        [ "$X" -lt "$x0" ] && x0=$X
        [ "$Y" -lt "$y0" ] && y0=$Y
        [ $((X + WIDTH)) -gt "$x1" ] && x1=$((X + WIDTH))
        [ $((Y + HEIGHT)) -gt "$y1" ] && y1=$((Y + HEIGHT))
    done
    rm -f "$shot"
    if [ "$x1" -gt "$x0" ] && [ "$y1" -gt "$y0" ]; then
        [ "$x0" -lt 0 ] && x0=0
        [ "$y0" -lt 0 ] && y0=0
        "$shot_tool" "$shot" "$x0" "$y0" $((x1 - x0)) $((y1 - y0)) || true
    else
        "$shot_tool" "$shot" || true
    fi
    [ -s "$shot" ] || { kavo_warn "no screenshot was taken"; shot=''; }
fi

# --- report -----------------------------------------------------------------------------
tab=$(printf '\t')
if grep -q "${tab}\\\\e${tab}" "$log"; then
    kavo_say "kavoconfig opened $com and probed it"
fi
if grep -q "${tab}V${tab}" "$log"; then
    rate=$(awk -F'\t' '$3 == "V" { print $2; exit }' "$log")
    version=$(awk -F'\t' '$3 == "V" { sub(/>$/, "", $4); print $4; exit }' "$log")
    kavo_say "kavoconfig found the Kavo on $com at $rate bps: $version"
fi
if grep -q "${tab}ST U${tab}" "$log"; then
    kavo_say "kavoconfig read all settings"
fi
if $met; then
    kavo_say "OK: the tool did what was expected ($expect)"
else
    kavo_warn "the tool did not get as far as expected ($expect); see $log and $work/kavoconfig.out"
fi
[ -n "${shot:-}" ] && [ -n "$shot_tool" ] && printf '%s\n' "$shot"
$met
