#!/usr/bin/env bash
# Installs what is missing, builds Pictrove and runs every test: the format
# check, the debug build with all tests (warnings are errors), then the core
# and the command-line tool (and the Python package) again under AddressSanitizer
# and UBSan, the code
# that runs on several threads (the ordered job runner, the run's name book,
# the tool on many files) under ThreadSanitizer, and last
# the core, the command-line tool and the core's tests built for Windows and
# run under Wine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/check-format.sh
cmake --preset debug
cmake --build --preset debug
ctest --preset debug
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
