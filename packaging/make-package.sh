#!/usr/bin/env bash
# Set-up, build of the programs, and the Debian package: build/tavolin_VERSION-1_ARCH.deb.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" --target tavolin tavolin-db tavolin-face tavolin-office
cd "$here/build"
cpack -G DEB
ls "$here"/build/tavolin_*.deb
