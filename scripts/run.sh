#!/usr/bin/env bash
# Set-up, build, and run the station in ./station (headless when there is no display). Options go
# to the station: --window opens its main window, --tray gives it a tray icon.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The programs only (the tests are built by scripts/test.sh).
cmake --build "$here/build" --target tavolin tavolin-db tavolin-face tavolin-office
bash "$here/scripts/new-station.sh" "${STATION_DIR:-$here/station}"
# Drive letters ("C:\Face\Monitor") map under the station's own drives/ folder unless set.
export TAVO_DRIVES="${TAVO_DRIVES:-${STATION_DIR:-$here/station}/drives}"
mkdir -p "$TAVO_DRIVES/c/Face" "$TAVO_DRIVES/c/Korvend"
exec "${STATION_DIR:-$here/station}/tavolin" "$@"
