#!/bin/sh
# Runs a server for a test program under Wine, which starts Unix programs
# but cannot hand them pipes or wait for them.
#
# Usage: unix-child.sh ALIVE OUT PROGRAM [ARG...]
#
# PROGRAM's output goes to OUT; its standard input stays open while the file
# ALIVE exists. When the test removes ALIVE (or after 30 minutes at most)
# the input closes and PROGRAM is ended.
#
# The descriptors the test's process passed on (the test runner's output pipe
# and log file among them) are closed first: a server that outlives its test
# must not keep the runner waiting for their end.
if [ -z "${KIVO_UNIX_CHILD_CLEAN:-}" ] && command -v bash >/dev/null; then
    KIVO_UNIX_CHILD_CLEAN=1 exec bash -c 'for fd in /proc/$$/fd/*; do
        fd=${fd##*/}
        [ "$fd" -gt 2 ] && eval "exec $fd>&-"
    done
    exec /bin/sh "$0" "$@"' "$0" "$@"
fi
alive=$1
out=$2
shift 2
(while [ -e "$alive" ]; do sleep 0.2; done) | timeout 1800 "$@" >"$out" 2>&1 &
pid=$!
while [ -e "$alive" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.2; done
rm -f "$alive"
sleep 0.5
kill "$pid" 2>/dev/null
exit 0
