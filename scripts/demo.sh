#!/usr/bin/env bash
# Builds Dorvane and runs it. Grows into the full loopback demo as the
# console and the links land.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
install_build_deps
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j"$(nproc)"
if [ -x build/release/console/Dorvane ]; then
  exec build/release/console/Dorvane "$@"
fi
echo "The console is not built yet; the stack's tests show what exists: ctest --test-dir build/release"
