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
# A wineserver that lingers a minute after its last program. Left to wine,
# the server exits the moment its last program does, and a program started
# in that instant loses it ("wine client error: recvmsg: Connection reset by
# peer") before it runs a line: tests side by side hit that now and then.
# If a server already runs this does nothing. Its output goes nowhere, so it
# never holds a caller's pipe open.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
exec wine "$@"
