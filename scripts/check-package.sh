#!/usr/bin/env bash
# Builds the Debian package in build/, installs it with apt-get (so its dependencies
# resolve), and checks the installed tool: its files are where they belong;
# /usr/bin/kavoconfig, started headless under Xvfb with the installed kavo-sim publishing a
# COM port, lists that port and opens it (the simulator's traffic log shows the probe); and
# /usr/bin/kavoctl finds that module, uploads the installed test file and plays it.
#
#   scripts/check-package.sh
#
# Needs root or sudo for installing. The package is removed again afterwards unless it was
# installed before the check or KAVO_KEEP_PACKAGE=1 is set. Without root and sudo only the
# package's contents are checked.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KAVO_ROOT"

kavo_need_packages "${KAVO_PACKAGES[@]}" "${KAVO_PACKAGE_TOOLS[@]}"
kavo_say "Building the package in build/"
kavo_build build -- kavoconfig kavoctl kavo-sim kavo-screenshot
rm -f build/kavoconfig_*.deb
(cd build && cpack -G DEB)
deb=$(ls "$KAVO_ROOT"/build/kavoconfig_*.deb)

failures=0
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }

# --- what the package holds -------------------------------------------------------------
contents=$(dpkg-deb -c "$deb")
for f in ./usr/lib/kavoconfig/kavoconfig ./usr/lib/kavoconfig/kavoctl ./usr/lib/kavoconfig/KAVOTEST.MP3 \
         ./usr/lib/kavoconfig/kavo-sim \
         ./usr/share/applications/kavoconfig.desktop ./usr/share/icons/hicolor/32x32/apps/kavoconfig.png; do
    grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done
for program in kavoconfig kavoctl; do
    grep -q " ./usr/bin/$program -> ../lib/kavoconfig/$program\$" <<<"$contents" \
        || fail "the package lacks the link /usr/bin/$program -> ../lib/kavoconfig/$program"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib (Depends: $depends)"
done

if ! kavo_can_be_root; then
    kavo_warn "neither root nor sudo: the package was built and its contents checked, but not installed"
    [ "$failures" -eq 0 ] || exit 1
    exit 0
fi

# --- install it -------------------------------------------------------------------------
was_installed=false
dpkg-query -W -f='${Status}\n' kavoconfig 2>/dev/null | grep -q 'install ok installed' && was_installed=true
work=$(mktemp -d "${TMPDIR:-/tmp}/kavoconfig-package.XXXXXX")
chmod 0755 "$work"
cp "$deb" "$work/"
remove_again() {
    if ! $was_installed && [ "${KAVO_KEEP_PACKAGE:-0}" != 1 ]; then
        kavo_say "Removing the package again (KAVO_KEEP_PACKAGE=1 keeps it)"
        kavo_as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kavoconfig >/dev/null || true
    fi
}
trap remove_again EXIT
kavo_say "Installing $(basename "$deb")"
kavo_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$work/$(basename "$deb")"

for program in kavoconfig kavoctl; do
    [ "$(readlink -f /usr/bin/$program)" = /usr/lib/kavoconfig/$program ] \
        || fail "/usr/bin/$program does not lead to /usr/lib/kavoconfig/$program"
done
[ -s /usr/lib/kavoconfig/KAVOTEST.MP3 ] || fail "the test file is not beside the installed program"
[ -s /usr/share/applications/kavoconfig.desktop ] || fail "the desktop entry is not installed"
[ -s /usr/share/icons/hicolor/32x32/apps/kavoconfig.png ] || fail "the icon is not installed"

# --- run it -----------------------------------------------------------------------------
kavo_say "Starting the installed /usr/bin/kavoconfig under Xvfb with the installed kavo-sim"
if KAVO_XVFB_LOG=$work/xvfb.log kavo_xvfb_run "$KAVO_ROOT/scripts/headless-connect.sh" \
        --tool /usr/bin/kavoconfig --sim /usr/lib/kavoconfig/kavo-sim \
        --shot-tool "$KAVO_ROOT/build/bin/kavo-screenshot" --work "$work/run" --expect probe; then
    kavo_say "The installed tool listed the simulator's port and opened it"
else
    fail "the installed tool did not probe the simulator's port (see $work/run)"
fi

kavo_say "Running the installed /usr/bin/kavoctl against the installed kavo-sim"
ctl_runtime=$work/ctl-runtime
mkdir -p "$ctl_runtime" && chmod 0700 "$ctl_runtime"
XDG_RUNTIME_DIR=$ctl_runtime /usr/lib/kavoconfig/kavo-sim --com 9 --rate 19200 --log "$work/ctl-traffic.log" \
    >"$work/ctl-sim.out" 2>&1 &
ctl_sim=$!
for _ in $(seq 100); do [ -s "$work/ctl-sim.out" ] && break; sleep 0.1; done
if XDG_RUNTIME_DIR=$ctl_runtime /usr/bin/kavoctl play --upload --port COM9 >"$work/ctl.out" 2>&1 \
        && grep -q '^COM9: ok$' "$work/ctl.out" && grep -q 'played /KAVOTEST.MP3' "$work/ctl-traffic.log"; then
    kavo_say "The installed kavoctl found the module, uploaded the test file and played it"
else
    fail "the installed kavoctl did not play the test file: $(cat "$work/ctl.out")"
fi
kill -TERM "$ctl_sim" 2>/dev/null || true
wait "$ctl_sim" 2>/dev/null || true

if [ "$failures" -ne 0 ]; then
    printf 'package check: %d problem(s)\n' "$failures" >&2
    exit 1
fi
kavo_say "Package check passed: $(basename "$deb")"
