#!/usr/bin/env bash
# Builds the Debian package in build/, installs it with apt-get (so its dependencies
# resolve), and checks the installed tool: its files are where they belong, and
# /usr/bin/kavoconfig, started headless under Xvfb with the installed kavo-sim publishing a
# COM port, lists that port and opens it (the simulator's traffic log shows the probe).
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
kavo_build build -- kavoconfig kavo-sim kavo-screenshot
rm -f build/kavoconfig_*.deb
(cd build && cpack -G DEB)
deb=$(ls "$KAVO_ROOT"/build/kavoconfig_*.deb)

failures=0
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }

# --- what the package holds -------------------------------------------------------------
contents=$(dpkg-deb -c "$deb")
for f in ./usr/lib/kavoconfig/kavoconfig ./usr/lib/kavoconfig/KAVOTEST.MP3 ./usr/lib/kavoconfig/kavo-sim \
         ./usr/share/applications/kavoconfig.desktop ./usr/share/icons/hicolor/32x32/apps/kavoconfig.png; do
    grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done
grep -q ' ./usr/bin/kavoconfig -> ../lib/kavoconfig/kavoconfig$' <<<"$contents" \
    || fail "the package lacks the link /usr/bin/kavoconfig -> ../lib/kavoconfig/kavoconfig"
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

[ "$(readlink -f /usr/bin/kavoconfig)" = /usr/lib/kavoconfig/kavoconfig ] \
    || fail "/usr/bin/kavoconfig does not lead to /usr/lib/kavoconfig/kavoconfig"
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

if [ "$failures" -ne 0 ]; then
    printf 'package check: %d problem(s)\n' "$failures" >&2
    exit 1
fi
kavo_say "Package check passed: $(basename "$deb")"
