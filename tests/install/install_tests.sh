#!/usr/bin/env bash
# The installed suite, one case per call (ctest passes the case's name):
#   install_tree           cmake --install into VANTREL_PREFIX; layout, RUNPATH,
#                          every library found without LD_LIBRARY_PATH
#   install_delivers_page  the installed vtsinit, pagesim, vtspage and a headless
#                          vtsmonitor deliver a page; journal priority prefixes
#   install_window_plugin  on a virtual X display the installed vtsmonitor loads
#                          its window plug-in from the library folder
#   install_units_verify   systemd-analyze verify on the installed units
#   install_help_version   --help and --version of every program, built and installed
#   install_man_pages      every manual page renders with man -l without a warning
#   install_package        cpack -G DEB: contents, dependencies, maintainer scripts
# Exit status 77 means the case was skipped (the reason is printed).
set -euo pipefail

case_name=${1:?case name}
build=${VANTREL_BUILD_DIR:?}
prefix=${VANTREL_PREFIX:?}
version=${VANTREL_VERSION:?}
programs=(vtsmonitor vtsconfig calvex vtsinit vtspage vtsreport pagesim updater)
# The gateway, with its unit, when this tree builds it.
gateway=no
if [ "${VANTREL_GATEWAY:-0}" = 1 ]; then
    programs+=(vtsgate)
    gateway=yes
fi
# Which programs carry a manual page in section 8 (the rest: section 1).
admin_programs=" vtsmonitor calvex vtsinit vtsgate "

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
skip() {
    echo "SKIPPED: $*"
    exit 77
}
# In a subshell: its failures end it with status 1 (counted by the caller).
finish_subshell() {
    [ "$failures" -eq 0 ]
}
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
section_of() {
    case "$admin_programs" in *" $1 "*) echo 8 ;; *) echo 1 ;; esac
}

# Waits up to $2 seconds (in steps of 0.2 s) for the command "$3..." to succeed.
wait_until() {
    local what=$1 seconds=$2
    shift 2
    local i
    for ((i = 0; i < seconds * 5; i++)); do
        if "$@"; then return 0; fi
        sleep 0.2
    done
    echo "timed out after ${seconds}s waiting for $what"
    return 1
}

case_install_tree() {
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || {
        cat "$prefix.log"
        fail "cmake --install"
        finish
    }
    local libdir=$prefix/$VANTREL_LIBDIR
    for p in "${programs[@]}"; do
        [ -x "$prefix/bin/$p" ] || fail "bin/$p is not installed"
    done
    [ -f "$libdir/libkrx.so" ] || fail "$VANTREL_LIBDIR/libkrx.so is not installed"
    [ -f "$libdir/libvtsmonitorgui.so" ] || fail "$VANTREL_LIBDIR/libvtsmonitorgui.so is not installed"
    [ -f "$prefix/$VANTREL_DOCDIR/README.md" ] || fail "README.md is not in $VANTREL_DOCDIR"
    [ -f "$prefix/$VANTREL_DOCDIR/server.md" ] || fail "docs are not in $VANTREL_DOCDIR"
    if [ -n "${VANTREL_MAN_DIR:-}" ]; then
        for p in "${programs[@]}"; do
            local s
            s=$(section_of "$p")
            [ -f "$prefix/$VANTREL_MANDIR/man$s/$p.$s" ] || fail "manual page $p.$s is not installed"
        done
    fi
    if [ "$gateway" = yes ]; then
        [ -f "$prefix/$VANTREL_UNITDIR/vantrel-gateway.service" ] || fail "vantrel-gateway.service is not installed"
    fi
    local unit=$prefix/$VANTREL_UNITDIR/vantrel-monitor.service
    if [ -f "$unit" ]; then
        grep -qx "ExecStart=$prefix/bin/vtsmonitor" "$unit" || fail "the unit's ExecStart is not $prefix/bin/vtsmonitor"
        grep -q "@" "$unit" && fail "the unit holds an unreplaced @VARIABLE@"
    else
        fail "vantrel-monitor.service is not installed"
    fi
    # Only the suite's programs: no test or benchmark programs.
    local extra
    extra=$(find "$prefix/bin" -type f \( -name '*test*' -o -name '*bench*' -o -name '*shots' \))
    [ -z "$extra" ] || fail "test programs installed: $extra"

    # Every program and the library find their libraries without help; the
    # programs look for libraries beside the tree in lib/.
    local want_runpath
    want_runpath="\$ORIGIN/$(realpath -m --relative-to="$prefix/bin" "$libdir")"
    for f in "$prefix"/bin/* "$libdir/libkrx.so" "$libdir/libvtsmonitorgui.so"; do
        if env -u LD_LIBRARY_PATH ldd "$f" | grep -q "not found"; then
            fail "$f: a library is not found: $(ldd "$f" | grep "not found" | tr -d '\t')"
        fi
    done
    for p in "${programs[@]}"; do
        readelf -d "$prefix/bin/$p" | grep -E "RUNPATH|RPATH" | grep -qF "[$want_runpath]" ||
            fail "bin/$p: RUNPATH is not $want_runpath"
    done
    finish
}

case_install_delivers_page() {
    local bin=$prefix/bin
    # Globals: the exit trap runs after this function has returned.
    work="" sim_pid="" mon_pid=""
    [ -x "$bin/vtsmonitor" ] || skip "nothing installed in $prefix"
    work=$(mktemp -d)
    cleanup() {
        if [ -n "$mon_pid" ]; then kill -KILL "$mon_pid" 2>/dev/null || true; fi
        if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
        wait 2>/dev/null || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    # Nothing of the build tree: not on the path, no library path, and the
    # dialer found beside the installed server.
    export PATH=/usr/sbin:/usr/bin:/sbin:/bin
    unset LD_LIBRARY_PATH VANTREL_SYSTEM_DIR DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
    cd "$work"
    # A fatal start-up message reaches the journal as an error: standard
    # output and standard error are one journal stream in a service.
    mkdir empty
    (
        cd empty
        : >journal
        local status=0
        JOURNAL_STREAM=$(stat -c '%d:%i' journal) "$bin/vtsmonitor" >journal 2>&1 || status=$?
        [ "$status" -eq 1 ] || fail "without VTSCFG.MDB vtsmonitor ended with $status, not 1"
        grep -q '^<3>.*VTSCFG.MDB' journal || fail "the missing store is not an error line: $(cat journal)"
        [ ! -e VTSLog.MDB ] && [ ! -e VTSLog.mdb ] || fail "a server without its store made a log store"
        finish_subshell
    ) || failures=$((failures + 1))

    "$bin/vtsinit" "$work/vts" --modem 1 >/dev/null || { fail "vtsinit"; finish; }
    cd "$work/vts"
    "$bin/pagesim" --dir sim --ports 1 --pages pages.jsonl --ini calvex.ini >sim.log 2>&1 &
    sim_pid=$!
    wait_until "pagesim" 30 grep -qx ready sim.log || { cat sim.log; fail "pagesim did not start"; finish; }

    # Standard output is a file that JOURNAL_STREAM names, as systemd does.
    : >server.out
    JOURNAL_STREAM=$(stat -c '%d:%i' server.out) "$bin/vtsmonitor" >server.out 2>server.err &
    mon_pid=$!
    local name
    name=$("$bin/vtspage" --queue QUEUE --phone 5551234 --pin 1001 --computer INSTALL-TEST \
        "Installed suite delivers")
    sent() { [ -f "QUEUE/SENT/$name" ]; }
    if ! wait_until "the page in SENT" 90 sent; then
        echo "--- server output"; cat server.out server.err
        fail "the page $name did not reach SENT"
    fi
    grep -q "Installed suite delivers" pages.jsonl 2>/dev/null || fail "the simulated terminal got no page"

    kill -TERM "$mon_pid"
    local status=0
    wait "$mon_pid" || status=$?
    mon_pid=""
    [ "$status" -eq 0 ] || fail "vtsmonitor ended with status $status after SIGTERM"

    grep -vq '^<[346]>' server.out && fail "status lines without a priority prefix: $(grep -v '^<[346]>' server.out | head -3)"
    grep -Eq '^<6>[0-9/]{10} [0-9:]{8} - Vantrel Server started$' server.out || fail "no '<6>... - Vantrel Server started'"
    grep -q '^<6>.* - Message sucessfully sent: Ph#=5551234' server.out || fail "no '<6>' line for the sent page"
    if [ "$(id -u)" -eq 0 ]; then
        [ "$(grep -c '^<4>.* - Warning: the server is running as root' server.out)" -eq 1 ] ||
            fail "started as root, the server did not write one warning line"
    else
        grep -q 'running as root' server.out && fail "a warning about root from a plain user"
    fi
    # Without the journal the lines stay exactly as the status list shows them.
    finish
}

case_install_window_plugin() {
    local bin=$prefix/bin plugin=$prefix/$VANTREL_LIBDIR/libvtsmonitorgui.so
    [ -x "$bin/vtsmonitor" ] || skip "nothing installed in $prefix"
    command -v Xvfb >/dev/null || skip "Xvfb is not installed (package xvfb)"
    # Globals: the exit trap runs after this function has returned.
    work="" x_pid="" mon_pid=""
    work=$(mktemp -d)
    cleanup() {
        if [ -n "$mon_pid" ]; then kill -KILL "$mon_pid" 2>/dev/null || true; fi
        if [ -n "$x_pid" ]; then kill -TERM "$x_pid" 2>/dev/null || true; fi
        wait 2>/dev/null || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    export PATH=/usr/sbin:/usr/bin:/sbin:/bin
    unset LD_LIBRARY_PATH VANTREL_SYSTEM_DIR WAYLAND_DISPLAY QT_QPA_PLATFORM
    # Xvfb picks a free display and writes its number to standard output.
    Xvfb -displayfd 1 -nolisten tcp >"$work/display" 2>"$work/xvfb.log" &
    x_pid=$!
    wait_until "Xvfb" 30 grep -q . "$work/display" || { cat "$work/xvfb.log"; fail "Xvfb did not start"; finish; }
    "$bin/vtsinit" "$work/vts" --modem 1 >/dev/null || { fail "vtsinit"; finish; }
    cd "$work/vts"
    DISPLAY=":$(head -1 "$work/display")" "$bin/vtsmonitor" >server.out 2>server.err &
    mon_pid=$!
    loaded() { grep -qF "$plugin" "/proc/$mon_pid/maps" 2>/dev/null; }
    wait_until "the plug-in in vtsmonitor" 30 loaded || {
        cat server.out server.err
        fail "the installed vtsmonitor did not load $plugin"
    }
    # The lock file comes after the stop signals are taken over.
    wait_until "the lock file" 30 test -e vtsmonitor.lock || fail "vtsmonitor did not start"
    kill -TERM "$mon_pid"
    local status=0
    wait "$mon_pid" || status=$?
    mon_pid=""
    [ "$status" -eq 0 ] || fail "vtsmonitor ended with status $status after SIGTERM"
    finish
}

case_install_units_verify() {
    command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed (package systemd)"
    local units=("$prefix/$VANTREL_UNITDIR"/vantrel-*.service)
    [ -f "${units[0]}" ] || skip "no unit installed in $prefix"
    # Without the gateway program its unit is not installed; its template is
    # checked all the same, starting a stand-in program.
    local scratch=""
    if [ ! -f "$prefix/$VANTREL_UNITDIR/vantrel-gateway.service" ]; then
        scratch=$(mktemp -d)
        ln -s /bin/true "$scratch/vtsgate"
        sed -e "s|@VANTREL_BINDIR@|$scratch|" -e "s|@VANTREL_STATE_DIR@|/var/lib/vantrel|" \
            -e "s|@VANTREL_SERVICE_USER@|vantrel|" "$VANTREL_SOURCE_DIR/packaging/systemd/vantrel-gateway.service.in" \
            >"$scratch/vantrel-gateway.service"
        units+=("$scratch/vantrel-gateway.service")
    fi
    local out
    # --man=no: the pages are in the prefix, not where man looks.
    local status=0
    out=$(systemd-analyze verify --man=no "${units[@]}" 2>&1) || status=$?
    [ -z "$scratch" ] || rm -rf "$scratch"
    if [ "$status" -ne 0 ]; then
        if grep -qiE "Failed to (initialize|setup) manager|Operation not permitted|cgroup" <<<"$out"; then
            echo "$out"
            skip "systemd-analyze cannot run in this container"
        fi
        echo "$out"
        fail "systemd-analyze verify"
    fi
    # Warnings about the units themselves count as failures; lines about the
    # rest of this machine's units (dependencies of multi-user.target) do not.
    echo "verified: ${units[*]}"
    local ours
    ours=$(grep -E "vantrel-(monitor|gateway)\.service" <<<"$out" || true)
    if [ -n "$ours" ]; then
        echo "$ours"
        fail "systemd-analyze reports on the units"
    fi
    finish
}

case_install_help_version() {
    local dirs=("$build/bin")
    [ -x "$prefix/bin/vtsmonitor" ] && dirs+=("$prefix/bin")
    unset DISPLAY WAYLAND_DISPLAY
    for d in "${dirs[@]}"; do
        for p in "${programs[@]}"; do
            local out status
            status=0
            out=$(timeout 30 "$d/$p" --help 2>&1) || status=$?
            [ "$status" -eq 0 ] || fail "$d/$p --help: exit status $status"
            grep -qi "usage" <<<"$out" || fail "$d/$p --help: no usage text: $out"
            status=0
            out=$(timeout 30 "$d/$p" --version 2>&1) || status=$?
            [ "$status" -eq 0 ] || fail "$d/$p --version: exit status $status"
            grep -qE "^$p( \(Vantrel\))? $version\$" <<<"$out" || fail "$d/$p --version printed: $out"
        done
    done
    finish
}

case_install_man_pages() {
    [ -n "${VANTREL_MAN_DIR:-}" ] || skip "manual pages are not built (scdoc is missing)"
    command -v man >/dev/null || skip "man is not installed (package man-db)"
    for p in "${programs[@]}"; do
        local s page text err
        s=$(section_of "$p")
        page=$VANTREL_MAN_DIR/$p.$s
        [ -f "$page" ] || { fail "no manual page $p.$s"; continue; }
        err=$(mktemp)
        text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$err") || fail "man -l $p.$s failed"
        if [ -s "$err" ]; then
            fail "man -l $p.$s warns: $(cat "$err")"
        fi
        rm -f "$err"
        for heading in NAME SYNOPSIS DESCRIPTION FILES "EXIT STATUS" EXAMPLE "SEE ALSO"; do
            grep -q "^$heading\$" <<<"$text" || fail "$p.$s has no $heading section"
        done
        grep -q "Vantrel $version" <<<"$text" || fail "$p.$s does not carry the version $version"
    done
    finish
}

case_install_package() {
    for tool in cpack dpkg-deb dpkg-shlibdeps file; do
        command -v "$tool" >/dev/null || { fail "$tool is missing (scripts/install-deps.sh installs it)"; finish; }
    done
    local out=$build/tests/install/package
    rm -rf "$out"
    mkdir -p "$out"
    (cd "$out" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || {
        cat "$out/cpack.log"
        fail "cpack -G DEB"
        finish
    }
    local deb
    deb=$(find "$out" -maxdepth 1 -name "vantrel_${version}*_*.deb" | head -1)
    [ -n "$deb" ] || { fail "no vantrel_${version}_*.deb"; finish; }
    echo "package: $deb"

    local list
    list=$(dpkg-deb -c "$deb" | awk '{print $6}')
    local want=(./usr/lib/systemd/system/vantrel-monitor.service ./usr/share/doc/vantrel/README.md)
    [ "$gateway" = yes ] && want+=(./usr/lib/systemd/system/vantrel-gateway.service)
    for p in "${programs[@]}"; do want+=("./usr/bin/$p"); done
    want+=("./usr/$VANTREL_LIBDIR/libkrx.so" "./usr/$VANTREL_LIBDIR/libvtsmonitorgui.so")
    if [ -n "${VANTREL_MAN_DIR:-}" ]; then
        for p in "${programs[@]}"; do
            local s
            s=$(section_of "$p")
            want+=("./usr/share/man/man$s/$p.$s")
        done
    fi
    for w in "${want[@]}"; do
        grep -qxF "$w" <<<"$list" || fail "the package lacks $w"
    done
    grep -E '^\./usr/local|_tests$|shots$|bench' <<<"$list" && fail "the package holds files it should not"

    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for d in libqt6core6 libqt6widgets6 libsqlite3-0 libcurl4 libc6 adduser; do
        grep -q "\b$d\b" <<<"$depends" || fail "Depends lacks $d"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"

    local ctrl=$out/control
    dpkg-deb -e "$deb" "$ctrl"
    for s in postinst prerm postrm; do
        [ -x "$ctrl/$s" ] || { fail "no executable $s"; continue; }
        sh -n "$ctrl/$s" || fail "$s: syntax error"
        grep -q "@" "$ctrl/$s" && fail "$s holds an unreplaced @VARIABLE@"
    done
    grep -q "adduser --system" "$ctrl/postinst" || fail "postinst makes no system user"
    grep -q '/usr/bin/vtsinit "\$state"' "$ctrl/postinst" || fail "postinst does not run vtsinit"
    grep -q '\[ ! -e "\$state" \]' "$ctrl/postinst" || fail "postinst does not guard an existing working directory"
    grep -Eq "systemctl (start|enable)|deb-systemd-invoke start" "$ctrl/postinst" && fail "postinst starts or enables a unit"

    local unit
    unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/vantrel-monitor.service)
    grep -qx "ExecStart=/usr/bin/vtsmonitor" <<<"$unit" || fail "the packaged unit does not start /usr/bin/vtsmonitor"
    grep -qx "WorkingDirectory=/var/lib/vantrel" <<<"$unit" || fail "the packaged unit's working directory"
    grep -qx "User=vantrel" <<<"$unit" || fail "the packaged unit's user"
    finish
}

"case_$case_name"
