#!/usr/bin/env bash
# Builds both presets and runs every test: the Windows build under Wine, then the native build.
# On a fresh Debian machine (as root) it first installs what it lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-deps.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset host >/dev/null
cmake --build --preset host

# The Windows tests run in a private network namespace (as root): the download servers and
# the installer find each other on loopback there, and nothing reaches any other network.
tests/harness/wine-env.sh build/windows/wine down
status=0
tests/harness/netns.sh ctest --preset windows || status=1
ctest --preset host || status=1
exit $status
