#!/bin/sh
# Starts the one wineserver a Windows test run shares, and Wine's background
# programs (tests/KivoTests.cmake, the wine_server_start fixture).
#   wine-start.sh <wineserver> <wine>
# Windows need a display driver: X11 when DISPLAY names a display, else
# Wine's null driver, whose windows are made and paint into memory, so the
# native windows' tests and their pictures work without any display. Wine
# chooses the driver as its desktop starts: the choice is written first,
# and the server started afresh after it. Wine's windows are made
# unmanaged: under Xvfb no window manager runs, and Wine would wait 2 s for
# one at every window that is hidden.
server=$1
wine=$2
"$server" -k
"$server" -w
# The first start makes the prefix when it is missing.
"$server" -p || exit 1
if [ -n "${DISPLAY:-}" ]; then
  "$wine" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
else
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
fi
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f || exit 1
"$server" -k
"$server" -w
"$server" -p || exit 1
"$wine" wineboot --init
