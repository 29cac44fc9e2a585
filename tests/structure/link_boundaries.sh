#!/usr/bin/env bash
# Checks the libraries each built program and library really depends on:
# programs that open no store carry neither SQLite nor ICU, the pager
# control's core carries neither Qt Widgets nor Qt Gui, and the server runs
# on Qt Core (its windows and sound come from its plug-in). The headless
# package's programs (server, dialer, gateway, vtsinit, vtspage, vtsctl)
# carry no desktop library, so that package pulls none.
set -euo pipefail
bin="$1"
fail=0
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
refuse() {  # file pattern what
    local f="$bin/$1"
    if [ ! -e "$f" ]; then echo "missing: $f"; fail=1; return; fi
    if needed "$f" | grep -E "$2" >/dev/null; then
        echo "$1 must not link $3: $(needed "$f" | grep -E "$2" | tr '\n' ' ')"
        fail=1
    fi
}
for p in calvex pagesim vtspage updater; do
    refuse "$p" '^libsqlite3|^libicu' "SQLite or ICU"
done
refuse libkrx.so '^libQt6(Widgets|Gui)' "Qt Widgets or Gui"
refuse vtsmonitor '^libQt6(Widgets|Gui|Multimedia)' "Qt Widgets, Gui or Multimedia"
for p in calvex vtsinit vtspage vtsgate vtsctl; do
    # The gateway and vtsctl only where this tree builds them.
    case $p in vtsgate | vtsctl) [ -e "$bin/$p" ] || continue ;; esac
    refuse "$p" '^libQt6(Widgets|Gui|Multimedia|PrintSupport|OpenGL)|^libX|^libGL|^libEGL' \
        "a desktop library (the headless package carries it)"
done
[ "$fail" -eq 0 ] && echo "link boundaries hold"
exit "$fail"
