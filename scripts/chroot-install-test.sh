#!/usr/bin/env bash
# Installs, upgrades and purges the Debian packages in a clean Debian 12
# chroot, as an administrator would on a fresh machine, and counts what the
# headless package pulls on a minimal system. Run before each release, as
# root, after `cd build && cpack -G DEB`:
#
#   scripts/chroot-install-test.sh [PACKAGE_DIR]      (default: build)
#
# Environment: MIRROR (default http://deb.debian.org/debian), KEEP=1 keeps
# the chroot (its path is printed), CHROOT_CACHE=FILE.tar reuses (or makes)
# a tarball of the bare chroot, so a second run skips debootstrap.
#
# Steps, each checked:
#   1. debootstrap --variant=minbase bookworm (Debian's packages only)
#   2. apt-get install -s of vantrel: the number of packages it pulls and
#      how many are X11, Mesa, GStreamer or PulseAudio libraries (none)
#   3. install of all four packages: the user and group vantrel, the
#      working directory, /etc/vantrel as conffiles (root:vantrel 0640)
#   4. the server run as vantrel with the unit's umask makes the message log
#      0660; an operator in the group vantrel reports
#   5. an edited conffile, then an upgrade to a newer version of the same
#      packages: the edit is kept, the working directory untouched
#   6. purge: programs and /etc/vantrel gone, working directory and user
#      kept
# Takes about ten minutes, mostly downloads; not run by CI.
set -euo pipefail

[ "$(id -u)" -eq 0 ] || { echo "run as root (debootstrap, chroot)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "debootstrap is missing: apt-get install debootstrap" >&2; exit 2; }
cd "$(dirname "$0")/.."
pkgdir=$(realpath "${1:-build}")
mirror=${MIRROR:-http://deb.debian.org/debian}

debs=()
for p in vantrel vantrel-report vantrel-desktop vantrel-sim; do
    f=$(find "$pkgdir" -maxdepth 1 -name "${p}_*.deb" | sort | tail -1)
    [ -n "$f" ] || { echo "no ${p}_*.deb in $pkgdir (cd build && cpack -G DEB)" >&2; exit 2; }
    debs+=("$f")
done
version=$(dpkg-deb -f "${debs[0]}" Version)

root=$(mktemp -d /var/tmp/vantrel-chroot.XXXXXX)
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
step() { echo "=== $*"; }
cleanup() {
    for m in dev/pts dev proc; do
        mountpoint -q "$root/$m" && umount -l "$root/$m" || true
    done
    if [ "${KEEP:-0}" = 1 ]; then
        echo "chroot kept in $root"
    else
        rm -rf "$root"
    fi
}
trap cleanup EXIT
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"; }

step "1. a minimal Debian 12 in $root"
if [ -n "${CHROOT_CACHE:-}" ] && [ -f "$CHROOT_CACHE" ]; then
    tar -xf "$CHROOT_CACHE" -C "$root"
else
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
        tail -20 "$root.debootstrap.log"
        exit 1
    }
    rm -f "$root.debootstrap.log"
    [ -z "${CHROOT_CACHE:-}" ] || tar -cf "$CHROOT_CACHE" -C "$root" .
fi
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
# No service starts inside the chroot (there is no systemd running there).
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/tmp/debs" "$root/tmp/debs-new"
cp "${debs[@]}" "$root/tmp/debs/"
in_root apt-get update -qq

# Package names of X11, Wayland, Mesa (OpenGL, EGL, DRM), GStreamer and
# PulseAudio or ALSA.
desktop_packages='^(libx(11|cb|ext|render|kbcommon|i6|fixes|randr|au|dmcp|cursor|inerama|ss1|tst|v1|xf86|composite|damage|shmfence)|libice6|libsm6|x11-|xkb-data|libwayland|libgl1|libglx|libgles|libegl|libgbm|libdrm|mesa|libglapi|libvulkan|libllvm|.*gstreamer|libpulse|pulseaudio|libasound)'
# The packages' paths inside the chroot.
in_root_debs() { for f in "$root/tmp/$1"/*.deb; do echo "/tmp/$1/$(basename "$f")"; done; }

step "2. what vantrel pulls on a minimal system"
sim=$(in_root apt-get install -s --no-install-recommends "/tmp/debs/$(basename "${debs[0]}")")
pulled=$(grep -c '^Inst ' <<<"$sim" || true)
desktop=$(grep '^Inst ' <<<"$sim" | awk '{print $2}' |
    grep -E "$desktop_packages" || true)
desktop_count=$(grep -c . <<<"$desktop" || true)
echo "vantrel pulls $pulled packages; X11, Mesa, GStreamer, PulseAudio: $desktop_count"
grep '^Inst ' <<<"$sim" | awk '{print $2}' | tr '\n' ' ' | fold -s -w 78
echo
[ "$desktop_count" -eq 0 ] || fail "vantrel pulls desktop libraries: $(tr '\n' ' ' <<<"$desktop")"
grep -qE '^Inst libqt6(gui|widgets|multimedia)' <<<"$sim" && fail "vantrel pulls Qt Gui, Widgets or Multimedia"
sim_all=$(in_root apt-get install -s --no-install-recommends $(in_root_debs debs))
all=$(grep -c '^Inst ' <<<"$sim_all" || true)
all_desktop=$(grep '^Inst ' <<<"$sim_all" | awk '{print $2}' | grep -cE "$desktop_packages" || true)
echo "all four packages pull $all packages ($all_desktop X11, Mesa, GStreamer, PulseAudio)"

step "3. install"
in_root apt-get install -y -qq --no-install-recommends $(in_root_debs debs) >"$root/tmp/install.log" 2>&1 || {
    cat "$root/tmp/install.log"
    fail "apt-get install"
    exit 1
}
in_root getent passwd vantrel >/dev/null || fail "no user vantrel"
in_root id -nG vantrel | grep -qw dialout || fail "vantrel is not in dialout"
[ -f "$root/var/lib/vantrel/VTSCFG.MDB" ] || fail "no /var/lib/vantrel/VTSCFG.MDB"
for f in calvex.ini vtsmonitor.ini vtsgate.ini; do
    st=$(in_root stat -c '%U:%G %a' "/etc/vantrel/$f" 2>/dev/null || echo missing)
    [ "$st" = "root:vantrel 640" ] || fail "/etc/vantrel/$f is $st, not root:vantrel 640"
    grep -qx "/etc/vantrel/$f" "$root/var/lib/dpkg/info/vantrel.conffiles" || fail "/etc/vantrel/$f is not a conffile"
done
[ "$(readlink "$root/var/lib/vantrel/vtsgate.ini")" = /etc/vantrel/vtsgate.ini ] ||
    fail "/var/lib/vantrel/vtsgate.ini does not link to the conffile"
[ -f "$root/lib/systemd/system/vantrel-monitor.service" ] || fail "no vantrel-monitor.service"
in_root ldd /usr/bin/vtsmonitor | grep -q "not found" && fail "vtsmonitor misses a library"

step "4. the server makes the log; an operator reports"
in_root sh -c 'timeout -s TERM 8 setpriv --reuid=vantrel --regid=vantrel --init-groups \
    sh -c "umask 0007; cd /var/lib/vantrel && QT_QPA_PLATFORM=offscreen exec vtsmonitor" >/tmp/server.out 2>&1' || true
log=$(find "$root/var/lib/vantrel" -maxdepth 1 -iname 'vtslog.mdb' | head -1)
if [ -n "$log" ]; then
    [ "$(stat -c %a "$log")" = 660 ] || fail "the message log is $(stat -c %a "$log"), not 660"
else
    cat "$root/tmp/server.out"
    fail "the server made no message log"
fi
in_root useradd --create-home --groups vantrel alice
in_root su alice -s /bin/sh -c 'cd /var/lib/vantrel && vtsreport --output /tmp/alice.csv' ||
    fail "a member of vantrel cannot run vtsreport"
[ -s "$root/tmp/alice.csv" ] || fail "vtsreport wrote no report for a member of vantrel"

step "5. an upgrade keeps an edited conffile"
echo "COM1=/dev/ttyUSB0" >>"$root/etc/vantrel/calvex.ini"
touch "$root/var/lib/vantrel/operator-file"
newversion="$version+chroot1"
# From the copies made at the start: the build folder may have changed since.
for deb in "$root"/tmp/debs/*.deb; do
    work=$(mktemp -d)
    dpkg-deb -R "$deb" "$work/pkg"
    sed -i -e "s/^Version: .*/Version: $newversion/" \
        -e "s/(= $version)/(= $newversion)/g" "$work/pkg/DEBIAN/control"
    dpkg-deb -Zxz -b "$work/pkg" "$root/tmp/debs-new/" >/dev/null
    rm -rf "$work"
done
in_root apt-get install -y -qq --no-install-recommends $(in_root_debs debs-new) >"$root/tmp/upgrade.log" 2>&1 || {
    cat "$root/tmp/upgrade.log"
    fail "apt-get install (upgrade)"
}
[ "$(in_root dpkg-query -W -f '${Version}' vantrel)" = "$newversion" ] || fail "vantrel was not upgraded"
grep -qx "COM1=/dev/ttyUSB0" "$root/etc/vantrel/calvex.ini" || fail "the upgrade lost the edit of calvex.ini"
[ -e "$root/var/lib/vantrel/operator-file" ] || fail "the upgrade touched the working directory"

step "6. purge"
in_root apt-get purge -y -qq vantrel vantrel-report vantrel-desktop vantrel-sim >"$root/tmp/purge.log" 2>&1 || {
    cat "$root/tmp/purge.log"
    fail "apt-get purge"
}
[ ! -e "$root/usr/bin/vtsmonitor" ] || fail "vtsmonitor is still there"
[ ! -e "$root/etc/vantrel" ] || fail "/etc/vantrel is still there: $(ls "$root/etc/vantrel")"
[ -f "$root/var/lib/vantrel/VTSCFG.MDB" ] || fail "the purge removed the operator's working directory"
in_root getent passwd vantrel >/dev/null || fail "the purge removed the user vantrel"

echo
echo "vantrel $version: pulls $pulled packages on a minimal Debian 12 ($desktop_count X11/Mesa/GStreamer/PulseAudio); all four: $all ($all_desktop)"
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install, upgrade and purge: all checks passed"
