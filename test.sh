#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-packages.sh test

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DTALLOW_SANITIZE=ON -DTALLOW_TESTS=ON >/dev/null
cmake --build build-test -j"$(nproc)"
cd build-test
ctest --output-on-failure --timeout 600 "$@"
