#!/bin/sh
# Runs a test program under Wine with the screen at DPI dots per inch, then
# sets the screen back (tests/platform/CMakeLists.txt). Wine reads the
# density as each program starts; every program started meanwhile sees it
# too, so the test runs alone.
#   wine-dpi.sh <wine> <dpi> <program> [arguments...]
wine=$1
dpi=$2
shift 2
key='HKCU\Control Panel\Desktop'
"$wine" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || exit 1
KIVO_TEST_DPI=$dpi "$wine" "$@"
rc=$?
"$wine" reg delete "$key" /v LogPixels /f >/dev/null 2>&1
exit $rc
