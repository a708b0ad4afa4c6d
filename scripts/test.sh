#!/usr/bin/env bash
# Installs the build and test dependencies, builds, and runs the whole test
# suite twice: a normal build, and one with AddressSanitizer and
# UndefinedBehaviorSanitizer so that memory faults fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
install_build_deps

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs" --timeout 300

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DDORVANE_SANITIZE=ON
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build/asan --output-on-failure -j"$jobs" --timeout 600
