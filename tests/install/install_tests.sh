#!/usr/bin/env bash
# The installed suite, one case per call (ctest passes the case's name):
#   install_tree           cmake --install into VANTREL_PREFIX; layout, RUNPATH,
#                          every library found without LD_LIBRARY_PATH, units and
#                          settings of the prefix
#   install_hardening      hardening-check on every installed program and library
#   install_delivers_page  the installed vtsinit, pagesim, vtspage and a headless
#                          vtsmonitor deliver a page; journal priority prefixes
#   install_window_plugin  on a virtual X display the installed vtsmonitor loads
#                          its window plug-in from the library folder
#   install_units_verify   systemd-analyze verify on the installed units, and
#                          their exposure score (systemd-analyze security)
#   install_store_group    as root: the server under a service user with the
#                          unit's umask, writing only its folder; an operator
#                          in its group reports
#   install_help_version   --help and --version of every program, built and installed
#   install_man_pages      every manual page renders with man -l without a warning
#   install_help_man       each program's --help options against its manual page
#   install_package        cpack -G DEB: the packages by role, their contents,
#                          dependencies, conffiles and maintainer scripts
#   install_reproducible   two package builds give identical packages
#   install_lintian        lintian --pedantic on the packages
# Exit status 77 means the case was skipped (the reason is printed).
set -euo pipefail

case_name=${1:?case name}
build=${VANTREL_BUILD_DIR:?}
prefix=${VANTREL_PREFIX:?}
version=${VANTREL_VERSION:?}
pkglibdir=${VANTREL_PKGLIBDIR:?}
# The installed programs by package (installed names: the updater template
# is vtsupdater).
server_programs=(vtsmonitor calvex vtsreceipts vtsinit vtspage vtsctl)
report_programs=(vtsreport)
desktop_programs=(vtsconfig vtsupdater)
sim_programs=(pagesim)
# The gateway, with its unit, when this tree builds it; the shell tool when
# it exists.
gateway=no
if [ "${VANTREL_GATEWAY:-0}" = 1 ]; then
    server_programs+=(vtsgate)
    gateway=yes
fi
[ -x "$build/bin/vtsctl" ] && server_programs+=(vtsctl)
programs=("${server_programs[@]}" "${report_programs[@]}" "${desktop_programs[@]}" "${sim_programs[@]}")
# The name a program has in the build tree.
built_name() {
    case "$1" in vtsupdater) echo updater ;; *) echo "$1" ;; esac
}
settings_files=(calvex.ini vtsmonitor.ini vtsgate.ini)

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
# The section of a program's manual page: 8 for the administrator's
# programs, as their page's source says, else 1.
section_of() {
    if [ -f "$VANTREL_SOURCE_DIR/docs/man/$1.8.scd" ]; then echo 8; else echo 1; fi
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
    local libdir=$prefix/$pkglibdir
    for p in "${programs[@]}"; do
        [ -x "$prefix/bin/$p" ] || fail "bin/$p is not installed"
    done
    [ ! -e "$prefix/bin/updater" ] || fail "the updater template is installed under the generic name updater"
    for lib in libkrx.so libvtsmonitorgui.so; do
        [ -f "$libdir/$lib" ] || fail "$pkglibdir/$lib is not installed"
        [ ! -e "$prefix/$VANTREL_LIBDIR/$lib" ] || fail "$lib is in the shared library folder $VANTREL_LIBDIR"
    done
    [ -f "$prefix/$VANTREL_DOCDIR/README.md" ] || fail "README.md is not in $VANTREL_DOCDIR"
    [ -f "$prefix/$VANTREL_DOCDIR/server.md" ] || fail "docs are not in $VANTREL_DOCDIR"
    if [ -n "${VANTREL_MAN_DIR:-}" ]; then
        for p in "${programs[@]}"; do
            local s
            s=$(section_of "$p")
            [ -f "$prefix/$VANTREL_MANDIR/man$s/$p.$s.gz" ] || fail "manual page $p.$s.gz is not installed"
        done
    fi
    # Outside /usr the units go to PREFIX/lib/systemd/system, the settings to
    # PREFIX/etc/vantrel, and the units tell the programs where those are.
    local unitdir=$prefix/lib/systemd/system
    if [ "$gateway" = yes ]; then
        [ -f "$unitdir/vantrel-gateway.service" ] || fail "vantrel-gateway.service is not installed"
    fi
    local unit=$unitdir/vantrel-monitor.service
    if [ -f "$unit" ]; then
        grep -qx "ExecStart=$prefix/bin/vtsmonitor" "$unit" || fail "the unit's ExecStart is not $prefix/bin/vtsmonitor"
        grep -qx "Environment=VANTREL_SETTINGS_DIR=$prefix/etc/vantrel" "$unit" ||
            fail "the unit does not name the prefix's settings folder"
        grep -q "@VANTREL_[A-Z_]*@" "$unit" && fail "the unit holds an unreplaced @VARIABLE@"
    else
        fail "vantrel-monitor.service is not installed in $unitdir"
    fi
    grep -q "systemctl link $unitdir/vantrel-monitor.service" "$prefix.log" ||
        fail "cmake --install does not say how to link a unit systemd does not read"
    for f in "${settings_files[@]}"; do
        [ -f "$prefix/etc/vantrel/$f" ] || fail "etc/vantrel/$f is not installed"
    done
    # Only the suite's programs: no test or benchmark programs.
    local extra
    extra=$(find "$prefix/bin" -type f \( -name '*test*' -o -name '*bench*' -o -name '*shots' \))
    [ -z "$extra" ] || fail "test programs installed: $extra"

    # Every program and library find their libraries without help; the
    # programs look for the private ones in their folder beside the tree.
    local want_runpath
    want_runpath="\$ORIGIN/$(realpath -m --relative-to="$prefix/bin" "$libdir")"
    for f in "$prefix"/bin/* "$libdir"/*.so; do
        if env -u LD_LIBRARY_PATH ldd "$f" | grep -q "not found"; then
            fail "$f: a library is not found: $(ldd "$f" | grep "not found" | tr -d '\t')"
        fi
    done
    for p in "${programs[@]}"; do
        # The updater template is copied elsewhere and needs no private library.
        [ "$p" = vtsupdater ] && continue
        readelf -d "$prefix/bin/$p" | grep -E "RUNPATH|RPATH" | grep -qF "[$want_runpath]" ||
            fail "bin/$p: RUNPATH is not $want_runpath"
    done
    finish
}

# Every program and library of the suite is built hardened: PIE, stack
# protector, FORTIFY_SOURCE, RELRO and BIND_NOW (control-flow protection
# aside: Debian 12's start files do not carry it).
case_install_hardening() {
    command -v hardening-check >/dev/null || skip "hardening-check is not installed (package devscripts)"
    [ -x "$prefix/bin/vtsmonitor" ] || skip "nothing installed in $prefix"
    local out f
    # The programs, installed and in the build tree (as tests and developers
    # run them).
    for f in "$prefix"/bin/* "$build"/bin/vtsgate "$build"/bin/vtsmonitor; do
        [ -f "$f" ] || continue
        out=$(hardening-check --nocfprotection "$f" 2>&1) || fail "$(tr '\n' ' ' <<<"$out")"
    done
    # The libraries are built with the same flags, but their copies and
    # string calls all have sizes the compiler cannot know, so no call
    # becomes a checked one and hardening-check cannot see the fortification.
    for f in "$prefix/$pkglibdir"/*.so; do
        out=$(hardening-check --nocfprotection --nofortify "$f" 2>&1) || fail "$(tr '\n' ' ' <<<"$out")"
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
    local bin=$prefix/bin plugin=$prefix/$pkglibdir/libvtsmonitorgui.so
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

# The stores are group read-write under the unit's umask: the server runs
# as a service user (no entry in /etc/passwd is needed: setpriv takes bare
# numbers), an operator in its group reports and writes while it runs, a
# user outside the group cannot.
case_install_store_group() {
    [ "$(id -u)" -eq 0 ] || skip "needs root to run the programs as other users"
    command -v setpriv >/dev/null || skip "setpriv is not installed (package util-linux)"
    command -v sqlite3 >/dev/null || skip "sqlite3 is not installed"
    local bin=$prefix/bin
    [ -x "$bin/vtsmonitor" ] || skip "nothing installed in $prefix"
    local svc=61001 operator=61002 stranger=61003
    # Globals: the exit trap runs after this function has returned.
    work="" mon_pid=""
    work=$(mktemp -d)
    chmod 0755 "$work"
    cleanup() {
        if [ -n "$mon_pid" ]; then kill -KILL "$mon_pid" 2>/dev/null || true; fi
        wait 2>/dev/null || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    export PATH=/usr/sbin:/usr/bin:/sbin:/bin
    unset LD_LIBRARY_PATH VANTREL_SYSTEM_DIR DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
    as() {  # UID GROUPS UMASK COMMAND...
        local uid=$1 groups=$2 mask=$3
        shift 3
        setpriv --reuid="$uid" --regid="$uid" --groups="$groups" -- \
            env HOME="$work" XDG_RUNTIME_DIR="$work/run-$uid" sh -c 'umask "$0"; exec "$@"' "$mask" "$@"
    }
    for u in $svc $operator $stranger; do mkdir -m 0700 "$work/run-$u" && chown "$u" "$work/run-$u"; done

    # The working directory as the package makes it.
    local state=$work/state
    "$bin/vtsinit" "$state" --modem 1 >/dev/null || { fail "vtsinit"; finish; }
    chown -R "$svc:$svc" "$state"
    chmod -R g+rwX,o-rwx "$state"
    find "$state" -type d -exec chmod g+s {} +

    # The server, as the unit runs it, makes the message log: its user and
    # group, the umask, and (where this machine lets a mount namespace be
    # made) every file system read-only but the folder that holds the
    # working directory, as ProtectSystem=strict and ReadWritePaths leave it.
    # (Every step execs the next, so the server keeps the subshell's number.)
    local confine=()
    if unshare --mount --propagation private true 2>/dev/null; then
        # shellcheck disable=SC2016
        confine=(unshare --mount --propagation private -- sh -c '
            for m in $(awk "{print \$2}" /proc/self/mounts | sort -u); do
                mount -o remount,bind,ro "$m" 2>/dev/null || true
            done
            mount --bind "$0" "$0" && mount -o remount,bind,rw "$0" || exit 1
            exec "$@"' "$work")
    else
        echo "no mount namespace here: the server runs with the file systems writable"
    fi
    (cd "$state" && exec "${confine[@]}" setpriv --reuid=$svc --regid=$svc --groups=$svc -- \
        env HOME="$work" XDG_RUNTIME_DIR="$work/run-$svc" sh -c 'umask 0007; exec "$0"' "$bin/vtsmonitor" \
        >"$work/server.out" 2>&1) &
    mon_pid=$!
    running() { [ -e "$state/vtsmonitor.lock" ] && [ -e "$state/VTSLog.mdb" ]; }
    wait_until "the server" 60 running || { cat "$work/server.out"; fail "the server did not start"; finish; }
    if [ ${#confine[@]} -gt 0 ]; then
        awk '$2 == "/" { print $4 }' "/proc/$mon_pid/mounts" | grep -q '^ro' ||
            fail "the server's root file system is not read-only"
    fi
    local f
    for f in VTSCFG.MDB VTSLog.mdb VTSLog.mdb-wal VTSLog.mdb-shm; do
        [ -e "$state/$f" ] || continue
        [ "$(stat -c %a "$state/$f")" = 660 ] || fail "$f has mode $(stat -c %a "$state/$f"), not 660"
    done
    [ -e "$state/VTSLog.mdb-shm" ] || fail "the running server holds no VTSLog.mdb-shm"

    # An operator in the group reports and writes while the server runs.
    mkdir -m 0777 "$work/out"
    local out status=0
    out=$(cd "$state" && as $operator $svc 0022 "$bin/vtsreport" --output "$work/out/log.csv" 2>&1) || status=$?
    [ "$status" -eq 0 ] || fail "an operator's vtsreport ended with $status: $out"
    [ -s "$work/out/log.csv" ] || fail "an operator's vtsreport wrote no report"
    for f in VTSCFG.MDB VTSLog.mdb; do
        out=$(as $operator $svc 0022 sqlite3 -cmd ".timeout 5000" "$state/$f" "BEGIN IMMEDIATE; ROLLBACK;" 2>&1) ||
            fail "an operator cannot write $f: $out"
    done
    # Someone outside the group cannot even read it.
    as $stranger $stranger 0022 sqlite3 "$state/VTSLog.mdb" "SELECT count(*) FROM tblLog;" >/dev/null 2>&1 &&
        fail "a user outside the group reads the message log"

    kill -TERM "$mon_pid"
    status=0
    wait "$mon_pid" || status=$?
    mon_pid=""
    [ "$status" -eq 0 ] || { cat "$work/server.out"; fail "vtsmonitor ended with status $status after SIGTERM"; }
    # With the server stopped the operator still reports.
    status=0
    out=$(cd "$state" && as $operator $svc 0022 "$bin/vtsreport" --output "$work/out/again.csv" 2>&1) || status=$?
    [ "$status" -eq 0 ] || fail "an operator's vtsreport with the server stopped ended with $status: $out"
    finish
}

case_install_units_verify() {
    command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed (package systemd)"
    local unitdir=$prefix/lib/systemd/system
    local units=("$unitdir"/vantrel-*.service)
    [ -f "${units[0]}" ] || skip "no unit installed in $prefix"
    # Without the gateway program its unit is not installed; its template is
    # checked all the same, starting a stand-in program.
    local scratch=""
    if [ ! -f "$unitdir/vantrel-gateway.service" ]; then
        scratch=$(mktemp -d)
        ln -s /bin/true "$scratch/vtsgate"
        sed -e "s|@VANTREL_BINDIR@|$scratch|" -e "s|@VANTREL_STATE_DIR@|/var/lib/vantrel|" \
            -e "s|@VANTREL_SERVICE_USER@|vantrel|" -e "s|@VANTREL_SETTINGS_ENVIRONMENT@||" \
            "$VANTREL_SOURCE_DIR/packaging/systemd/vantrel-gateway.service.in" \
            >"$scratch/vantrel-gateway.service"
        units+=("$scratch/vantrel-gateway.service")
    fi
    local out
    # --man=no: the pages are in the prefix, not where man looks.
    local status=0
    out=$(systemd-analyze verify --man=no "${units[@]}" 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        if grep -qiE "Failed to (initialize|setup) manager|Operation not permitted|cgroup" <<<"$out"; then
            echo "$out"
            [ -z "$scratch" ] || rm -rf "$scratch"
            skip "systemd-analyze cannot run in this container"
        fi
        echo "$out"
        fail "systemd-analyze verify"
    fi
    # Warnings about the units themselves count as failures; lines about the
    # rest of this machine's units (dependencies of multi-user.target) do not.
    echo "verified: ${units[*]}"
    local ours
    ours=$(grep -E "vantrel-(monitor|gateway|web|receipts@)\.service" <<<"$out" || true)
    if [ -n "$ours" ]; then
        echo "$ours"
        fail "systemd-analyze reports on the units"
    fi

    # The sandbox: each unit's exposure, as systemd-analyze security rates
    # it from the unit file, is at most 2.5 (0 is the best, 10 the worst).
    if systemd-analyze security --help 2>&1 | grep -q -- "--offline"; then
        for unit in "${units[@]}"; do
            local score
            out=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) || true
            score=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$out")
            echo "$(basename "$unit"): exposure $score"
            if [ -z "$score" ]; then
                echo "$out"
                fail "no exposure score for $unit"
            elif ! awk -v s="$score" 'BEGIN { exit !(s <= 2.5) }'; then
                grep "✗" <<<"$out" || true
                fail "$(basename "$unit") scores $score, more than 2.5"
            fi
        done
        # What the server needs stays allowed: the serial devices, the
        # group dialout, the working directory, the group-writable umask.
        local monitor=$unitdir/vantrel-monitor.service
        for line in "SupplementaryGroups=dialout" "DeviceAllow=char-ttyS rw" "DeviceAllow=char-ttyUSB rw" \
            "ReadWritePaths=/var/lib/vantrel" "UMask=0007" "ProtectSystem=strict"; do
            grep -qxF "$line" "$monitor" || fail "the server's unit lacks $line"
        done
    else
        echo "systemd-analyze security has no --offline: exposure not rated"
    fi
    [ -z "$scratch" ] || rm -rf "$scratch"
    finish
}

case_install_help_version() {
    local dirs=("$build/bin")
    [ -x "$prefix/bin/vtsmonitor" ] && dirs+=("$prefix/bin")
    unset DISPLAY WAYLAND_DISPLAY
    for d in "${dirs[@]}"; do
        for installed in "${programs[@]}"; do
            local out status p=$installed
            # The build tree has the updater under its own name; it calls
            # itself "updater" installed or not.
            [ "$d" = "$build/bin" ] && p=$(built_name "$installed")
            local named
            named=$(built_name "$installed")
            status=0
            out=$(timeout 30 "$d/$p" --help 2>&1) || status=$?
            [ "$status" -eq 0 ] || fail "$d/$p --help: exit status $status"
            grep -qi "usage" <<<"$out" || fail "$d/$p --help: no usage text: $out"
            status=0
            out=$(timeout 30 "$d/$p" --version 2>&1) || status=$?
            [ "$status" -eq 0 ] || fail "$d/$p --version: exit status $status"
            grep -qE "^$named( \(Vantrel\))? $version\$" <<<"$out" || fail "$d/$p --version printed: $out"
        done
    done
    finish
}

# Options a program's --help names that its manual page does not, or the
# other way round, waiting for a fix in the program: "PROGRAM OPTION" each.
# An entry that no longer differs fails too, so the list only shrinks.
known_help_gaps=(
)

# The long options of a manual page's SYNOPSIS, OPTIONS and COMMANDS sections (the
# scdoc source: options are written in bold, *--name*).
man_options() {
    awk '/^# /{ keep = ($0 == "# SYNOPSIS" || $0 == "# OPTIONS" || $0 == "# COMMANDS") } keep' "$1" |
        grep -oE '\*--[a-z][a-z0-9-]*' | sed 's/^\*//' | sort -u
}

case_install_help_man() {
    unset DISPLAY WAYLAND_DISPLAY
    local sources=$VANTREL_SOURCE_DIR/docs/man
    for p in "${programs[@]}"; do
        local s page help_opts man_opts
        s=$(section_of "$p")
        page=$sources/$p.$s.scd
        [ -f "$page" ] || { fail "no manual page source $p.$s.scd"; continue; }
        help_opts=$(timeout 30 "$build/bin/$(built_name "$p")" --help 2>&1 |
            grep -oE -- '(^|[^a-zA-Z0-9-])--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
        man_opts=$(man_options "$page")
        local o
        for o in $(comm -23 <(echo "$help_opts") <(echo "$man_opts")); do
            known_gap "$p $o" || fail "$p: --help names $o, $p($s) does not"
        done
        for o in $(comm -13 <(echo "$help_opts") <(echo "$man_opts")); do
            known_gap "$p $o" || fail "$p($s) names $o, $p --help does not"
        done
    done
    local gap
    for gap in "${known_help_gaps[@]}"; do
        [ -n "${seen_gaps[$gap]:-}" ] || fail "'$gap' is listed as a known difference but is none: remove it"
    done
    finish
}
declare -A seen_gaps=()
known_gap() {
    local gap
    for gap in "${known_help_gaps[@]}"; do
        if [ "$gap" = "$1" ]; then
            seen_gaps[$gap]=1
            echo "known difference, to be fixed in the program: $1"
            return 0
        fi
    done
    return 1
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

# Builds the packages into $1 with cpack; sets deb_dir.
build_packages() {
    for tool in cpack dpkg-deb dpkg-shlibdeps file; do
        command -v "$tool" >/dev/null || { fail "$tool is missing (scripts/install-deps.sh installs it)"; finish; }
    done
    deb_dir=$1
    rm -rf "$deb_dir"
    mkdir -p "$deb_dir"
    (cd "$deb_dir" && env -u SOURCE_DATE_EPOCH cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || {
        cat "$deb_dir/cpack.log"
        fail "cpack -G DEB"
        finish
    }
}

# The package file of package $1 in deb_dir.
deb_of() {
    find "$deb_dir" -maxdepth 1 -name "$1_${version}_*.deb" | head -1
}

case_install_package() {
    build_packages "$build/tests/install/package"
    declare -A package_programs=(
        [vantrel]="${server_programs[*]}" [vantrel-report]="${report_programs[*]}"
        [vantrel-desktop]="${desktop_programs[*]}" [vantrel-sim]="${sim_programs[*]}"
    )
    local pkg
    for pkg in vantrel vantrel-report vantrel-desktop vantrel-sim; do
        local deb list
        deb=$(deb_of "$pkg")
        [ -n "$deb" ] || { fail "no ${pkg}_${version}_*.deb"; continue; }
        echo "package: $deb"
        list=$(dpkg-deb -c "$deb" | awk '{print $6}')
        local want=("./usr/share/doc/$pkg/copyright" "./usr/share/doc/$pkg/changelog.gz")
        for p in ${package_programs[$pkg]}; do
            want+=("./usr/bin/$p")
            [ -n "${VANTREL_MAN_DIR:-}" ] && want+=("./usr/share/man/man$(section_of "$p")/$p.$(section_of "$p").gz")
        done
        case $pkg in
            vantrel)
                want+=(./lib/systemd/system/vantrel-monitor.service ./lib/systemd/system/vantrel-receipts@.service
                    ./usr/share/doc/vantrel/README.md
                    "./usr/$pkglibdir/libkrx.so")
                [ "$gateway" = yes ] && want+=(./lib/systemd/system/vantrel-gateway.service)
                for f in "${settings_files[@]}"; do want+=("./etc/vantrel/$f"); done
                ;;
            vantrel-desktop) want+=("./usr/$pkglibdir/libvtsmonitorgui.so") ;;
        esac
        for w in "${want[@]}"; do
            grep -qxF "$w" <<<"$list" || fail "$pkg lacks $w"
        done
        grep -E '^\./usr/local|_tests$|shots$|bench|^\./usr/bin/updater$|\.[1-8]$' <<<"$list" &&
            fail "$pkg holds files it should not"
        [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$pkg: Version is not $version"
        echo "$pkg Depends: $(dpkg-deb -f "$deb" Depends)"
    done

    local deb depends
    deb=$(deb_of vantrel)
    [ -n "$deb" ] || finish
    # The headless package pulls no desktop library.
    depends=$(dpkg-deb -f "$deb" Depends)
    for d in libqt6core6 libqt6network6 libsqlite3-0 libcurl4 libc6 adduser; do
        grep -q "\b$d\b" <<<"$depends" || fail "vantrel: Depends lacks $d"
    done
    grep -Eq "libqt6(gui|widgets|multimedia|printsupport|opengl)" <<<"$depends" &&
        fail "vantrel depends on a desktop library: $depends"
    for pkg in vantrel-desktop vantrel-report; do
        local d
        d=$(deb_of "$pkg")
        [ -n "$d" ] && { dpkg-deb -f "$d" Depends | grep -q "vantrel (= $version)" || fail "$pkg does not depend on vantrel (= $version)"; }
    done
    d=$(deb_of vantrel-desktop)
    [ -n "$d" ] && { dpkg-deb -f "$d" Depends | grep -q libqt6widgets6 || fail "vantrel-desktop does not depend on libqt6widgets6"; }

    local ctrl=$deb_dir/control
    dpkg-deb -e "$deb" "$ctrl"
    for s in postinst prerm postrm; do
        [ -x "$ctrl/$s" ] || { fail "no executable $s"; continue; }
        sh -n "$ctrl/$s" || fail "$s: syntax error"
        grep -q "@" "$ctrl/$s" && fail "$s holds an unreplaced @VARIABLE@"
        # Units through deb-systemd-helper and deb-systemd-invoke; systemctl
        # only for daemon-reload.
        grep -v '^ *#' "$ctrl/$s" | grep -w systemctl | grep -qv "daemon-reload" &&
            fail "$s calls systemctl for more than daemon-reload"
    done
    for f in "${settings_files[@]}"; do
        grep -qx "/etc/vantrel/$f" "$ctrl/conffiles" || fail "/etc/vantrel/$f is not a conffile"
    done
    grep -q "adduser --system" "$ctrl/postinst" || fail "postinst makes no system user"
    grep -q 'exec vtsinit' "$ctrl/postinst" || fail "postinst does not run vtsinit"
    grep -q '\[ ! -e "\$state" \]' "$ctrl/postinst" || fail "postinst does not guard an existing working directory"
    grep -q 'deb-systemd-helper update-state' "$ctrl/postinst" || fail "postinst does not register the units"
    grep -Eq "deb-systemd-helper enable|deb-systemd-invoke (start|restart)" "$ctrl/postinst" &&
        ! grep -q "was-enabled" "$ctrl/postinst" && fail "postinst starts or enables a unit"
    grep -q 'deb-systemd-invoke try-restart' "$ctrl/postinst" || fail "postinst does not restart running services after an upgrade"
    grep -q 'deb-systemd-invoke stop' "$ctrl/prerm" || fail "prerm does not stop the services"

    local unit
    unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/vantrel-monitor.service)
    grep -qx "ExecStart=/usr/bin/vtsmonitor" <<<"$unit" || fail "the packaged unit does not start /usr/bin/vtsmonitor"
    grep -qx "WorkingDirectory=/var/lib/vantrel" <<<"$unit" || fail "the packaged unit's working directory"
    grep -qx "User=vantrel" <<<"$unit" || fail "the packaged unit's user"
    grep -q "VANTREL_SETTINGS_DIR" <<<"$unit" && fail "the packaged unit moves the settings from /etc/vantrel"
    # The programs find libkrx.so in /usr/lib/vantrel.
    local bin
    bin=$(mktemp -d)
    dpkg-deb -x "$deb" "$bin"
    readelf -d "$bin/usr/bin/vtsmonitor" | grep -q 'RUNPATH.*\[\$ORIGIN/../lib/vantrel\]' ||
        fail "vtsmonitor's RUNPATH is not \$ORIGIN/../lib/vantrel"
    rm -rf "$bin"
    finish
}

# Two package builds of one tree give identical packages: every time in
# them is the last commit's, not the build's. The first build is
# install_package's.
case_install_reproducible() {
    command -v git >/dev/null && git -C "$VANTREL_SOURCE_DIR" rev-parse HEAD >/dev/null 2>&1 ||
        skip "the sources are not a git checkout"
    local first=$build/tests/install/package second=$build/tests/install/reproducible
    [ -n "$(ls "$first"/*.deb 2>/dev/null)" ] || skip "install_package built no packages"
    # A build takes seconds (install, strip, dependencies of four packages),
    # so the second one's files are made at other times than the first's.
    build_packages "$second"
    local deb name
    for deb in "$first"/*.deb; do
        name=$(basename "$deb")
        if ! cmp -s "$deb" "$second/$name"; then
            fail "$name differs between two builds"
            dpkg-deb -c "$deb" >"$second/$name.first"
            dpkg-deb -c "$second/$name" >"$second/$name.second"
            diff "$second/$name.first" "$second/$name.second" | head -20
        fi
    done
    rm -rf "$second"
    finish
}

# lintian --pedantic: no error or warning (an override only with its reason).
case_install_lintian() {
    command -v lintian >/dev/null || skip "lintian is not installed (package lintian)"
    deb_dir=$build/tests/install/package
    [ -n "$(ls "$deb_dir"/*.deb 2>/dev/null)" ] || skip "install_package built no packages"
    local out
    out=$(lintian --pedantic --no-tag-display-limit "$deb_dir"/*.deb 2>&1) || true
    echo "$out"
    grep -E "^[EW]: " <<<"$out" >/dev/null && fail "lintian reports errors or warnings"
    finish
}

"case_$case_name"
