#!/usr/bin/env bash
# Builds the Debian package in build-package/ (the product alone, -DBUILD_TESTING=OFF) and
# checks it: lintian finds no error in it; it carries the three manual pages, kavoctl's
# completion, the copyright, the changelog and the AppStream metainfo (which appstreamcli
# validates); it installs with apt-get (so its dependencies resolve); the installed files
# are where they belong; /usr/bin/kavoconfig, started headless under Xvfb with the installed
# kavo-sim publishing a COM port, lists that port and opens it (the simulator's traffic log
# shows the probe); and /usr/bin/kavoctl finds that module, uploads the installed test file
# and plays it.
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
kavo_say "Building the package in build-package/"
kavo_build build-package -DBUILD_TESTING=OFF
rm -f build-package/kavoconfig_*.deb
(cd build-package && cpack -G DEB)
deb=$(ls "$KAVO_ROOT"/build-package/kavoconfig_*.deb)
# The screenshot tool for the headless run is a test tool, built with the tests.
kavo_build build -- kavo-screenshot

failures=0
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }

# --- what the package holds -------------------------------------------------------------
contents=$(dpkg-deb -c "$deb")
for f in ./usr/lib/kavoconfig/kavoconfig ./usr/lib/kavoconfig/kavoctl ./usr/lib/kavoconfig/KAVOTEST.MP3 \
         ./usr/lib/kavoconfig/kavo-sim \
         ./usr/share/applications/kavoconfig.desktop ./usr/share/icons/hicolor/32x32/apps/kavoconfig.png \
         ./usr/share/man/man1/kavoconfig.1.gz ./usr/share/man/man1/kavoctl.1.gz ./usr/share/man/man1/kavo-sim.1.gz \
         ./usr/share/bash-completion/completions/kavoctl \
         ./usr/share/doc/kavoconfig/copyright ./usr/share/doc/kavoconfig/changelog.Debian.gz \
         ./usr/share/metainfo/org.example.kavoconfig.metainfo.xml; do
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

# --- lintian: no error (README lists the warnings left and why) --------------------------
kavo_say "lintian $(basename "$deb")"
if ! lintian --fail-on error "$deb"; then
    fail "lintian found errors in the package"
fi

# --- AppStream metainfo -------------------------------------------------------------------
# The project has no licence yet, so the metainfo names none for itself either; appstreamcli
# reports that one error (metadata-license-missing) until a licence is chosen. Any other
# error fails the check.
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/kavoconfig-deb.XXXXXX")
dpkg-deb -x "$deb" "$unpacked"
metainfo=$unpacked/usr/share/metainfo/org.example.kavoconfig.metainfo.xml
if [ -f "$metainfo" ]; then
    kavo_say "appstreamcli validate $(basename "$metainfo") (metadata-license-missing stays until a licence is chosen)"
    appstreamcli validate --no-net "$metainfo" || true
    other_errors=$(appstreamcli validate --no-net --format yaml "$metainfo" 2>/dev/null \
        | awk '/^- tag: / { tag = $3 } /^  severity: error/ && tag != "metadata-license-missing" { print tag }' || true)
    [ -z "$other_errors" ] || fail "appstreamcli finds errors in the metainfo: $other_errors"
fi
rm -rf "$unpacked"

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
for program in kavoconfig kavoctl kavo-sim; do
    [ -s "/usr/share/man/man1/$program.1.gz" ] || fail "the manual page of $program is not installed"
done
bash -c 'source /usr/share/bash-completion/completions/kavoctl && complete -p kavoctl' >/dev/null \
    || fail "the installed completion does not complete kavoctl"

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
