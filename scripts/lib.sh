# Shared by the scripts in this folder; sourced, never run on its own.
# shellcheck shell=bash

KAVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building, testing and the headless run need on Debian 12.
#   qt6-base-dev qt6-serialport-dev cmake g++ make   build the tool, the simulator and the tests
#   xvfb xauth          a virtual X display for the headless run (xvfb-run needs xauth)
#   xdotool             finds the window and types into it in the headless run
#   fonts-dejavu-core   readable text in the window (Qt draws nothing without a font)
# shellcheck disable=SC2034
KAVO_PACKAGES=(qt6-base-dev qt6-serialport-dev xvfb xauth cmake g++ make xdotool fonts-dejavu-core)
# What building and checking the Debian package needs on top.
#   dpkg-dev file       CPack finds the package's dependencies with dpkg-shlibdeps and file
#   lintian             checks the package against Debian's rules
#   appstream           appstreamcli validates the window's AppStream metainfo
# shellcheck disable=SC2034
KAVO_PACKAGE_TOOLS=(dpkg-dev file lintian appstream)

kavo_say() { printf '==> %s\n' "$*" >&2; }
kavo_warn() { printf 'WARNING: %s\n' "$*" >&2; }
kavo_die() { printf 'ERROR: %s\n' "$*" >&2; exit 1; }

kavo_can_be_root() {
    [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null 2>&1
}

# Runs a command as root: directly when we are root, else through sudo.
kavo_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        kavo_die "this needs root and sudo is not installed: $*"
    fi
}

# Installs the Debian packages among the arguments that are not installed yet.
kavo_need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    kavo_say "Installing missing Debian packages: ${missing[*]}"
    kavo_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    kavo_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# kavo_build DIR [cmake options...] [-- targets...]
# Configures and builds the folder DIR of the repository (RelWithDebInfo, with the tests
# and their tools, unless an option says otherwise); without targets everything is built.
kavo_build() {
    local dir=$KAVO_ROOT/$1
    shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    targets=("$@")
    cmake -S "$KAVO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "${options[@]}"
    local build=(cmake --build "$dir" -j "${KAVO_JOBS:-$(nproc)}")
    [ ${#targets[@]} -gt 0 ] && build+=(--target "${targets[@]}")
    "${build[@]}"
}

# True when a display is there to show a window on.
kavo_have_display() {
    [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}

# The folder where the tool looks for COMn links, by the rule the tool and kavo-sim follow:
# $XDG_RUNTIME_DIR/kavoconfig/ports when that variable names a folder of this user closed to
# group and others, otherwise one in the user's own home: $XDG_STATE_HOME/kavoconfig/ports
# (XDG_STATE_HOME only when absolute), else ~/.local/state/kavoconfig/ports.
kavo_ports_folder() {
    local runtime=${XDG_RUNTIME_DIR:-} state=${XDG_STATE_HOME:-} home=${HOME:-} uid owner_mode
    uid=$(id -u)
    if [ "${runtime#/}" != "$runtime" ] && [ -d "$runtime" ]; then
        owner_mode=$(stat -L -c '%u %a' "$runtime")
        if [ "${owner_mode% *}" = "$uid" ] && [ "${owner_mode: -2}" = "00" ]; then
            printf '%s/kavoconfig/ports\n' "$runtime"
            return
        fi
    fi
    if [ "${state#/}" = "$state" ]; then
        [ -n "$home" ] || home=$(getent passwd "$uid" | cut -d: -f6)
        state=${home%/}/.local/state
    fi
    printf '%s/kavoconfig/ports\n' "${state%/}"
}

# Runs a command under a fresh virtual X display (24-bit colour, large enough for the window
# and a message box beside it). Xvfb's own messages go to the file in $KAVO_XVFB_LOG.
kavo_xvfb_run() {
    xvfb-run -a -e "${KAVO_XVFB_LOG:-/dev/null}" -s "-screen 0 1024x768x24" "$@"
}

# Prints the arguments joined by ", ".
kavo_join() {
    local out='' item
    for item in "$@"; do
        out+=${out:+, }$item
    done
    printf '%s\n' "$out"
}

# Seconds since the epoch, for the timings the scripts print.
kavo_now() { date +%s; }
kavo_took() { local s=$(( $(kavo_now) - $1 )); printf '%dm%02ds' $((s / 60)) $((s % 60)); }
