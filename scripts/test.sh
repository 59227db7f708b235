#!/usr/bin/env bash
# Installs what is missing, builds nolvi2 with warnings as errors, and runs every test with
# ctest: the unit and window tests, the replay of every fuzz target's seed and regression
# folders (fuzz.*, fuzz/seeds.txt; fuzzing campaigns are fuzz/run.sh), and the install.*
# checks of the installed program and its Debian package (scripts/check-install.sh).
#   NOLVI2_SANITIZE=1     build and test under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

build=build
options=(-DCMAKE_BUILD_TYPE=Release)
if [ "${NOLVI2_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  options=(-DCMAKE_BUILD_TYPE=Debug -DNOLVI2_SANITIZE=ON)
fi
cmake -S . -B "$build" -G Ninja -DNOLVI2_WERROR=ON -DNOLVI2_TESTS=ON -DNOLVI2_BENCH=ON "${options[@]}" >/dev/null
cmake --build "$build"

ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
