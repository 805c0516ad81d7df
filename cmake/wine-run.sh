#!/bin/sh
# Runs a Windows program under wine quietly, in a wine prefix of its own so
# that tests never depend on (or disturb) the user's ~/.wine.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/quendral-hosts-wine}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
exec wine "$@"
