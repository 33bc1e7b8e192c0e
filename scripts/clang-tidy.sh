#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over every source of the program,
# the service, the tests and the benchmarks, with the compile commands of a
# configured and built folder (default build-test, which ./test.sh makes).
# Usage: scripts/clang-tidy.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-test}" && pwd)

if [ ! -f "$build/compile_commands.json" ]; then
  echo "clang-tidy.sh: no compile_commands.json in $build; build it first (./test.sh)" >&2
  exit 2
fi

# The moc files the sources include exist only once the folder is built.
run-clang-tidy -p "$build" -j"$(nproc)" -quiet "^$root/(src|tools|tests|bench)/"
