#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs them.
#
#   scripts/fuzz.sh SECONDS [TARGET...]   run each target (default: all) for SECONDS
#   scripts/fuzz.sh --build               only build the targets
#   scripts/fuzz.sh --check TARGET RUNS   replay the target's corpus, then RUNS new
#                                         inputs from a fixed seed (the test suite's run)
#
# The build lives in $FUZZ_BUILD_DIR (default build-fuzz). Inputs the fuzzer adds
# go to $FUZZ_BUILD_DIR/corpus-work/TARGET, never into the committed seeds; an
# input that crashes, hangs or breaks a checked property is left in
# $FUZZ_BUILD_DIR/findings/TARGET/ and the script exits with status 1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac

usage() {
  sed -n '3,8s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

build_targets() {
  if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is missing (scripts/ensure-packages.sh test installs it)" >&2
    return 77
  fi
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTALLOW_FUZZ=ON -DTALLOW_TESTS=OFF "${launcher[@]}" >/dev/null
  fi
  cmake --build "$build" --target fuzzers -j"$(nproc)"
}

targets() {
  local t
  for t in "$build"/fuzzers/fuzz_*; do
    [ -x "$t" ] && basename "$t"
  done
}

# The settings store keeps every file it has read in a process-wide cache, so
# each run looks like a leak to the per-input leak check, which then runs every
# time; growth is still caught by the memory limit.
options() {
  case "$1" in
    fuzz_settings) echo "-detect_leaks=0" ;;
  esac
}

# QSettings reads an "@Variant(...)" value with whatever length it names and
# asks for that much memory at once (30 GB from a 300-byte file); outside the
# sanitizer that allocation fails and Qt reads the value as empty, so the
# settings target lets it fail the same way.
sanitizer_options() {
  local common=abort_on_error=1:detect_leaks=1
  case "$1" in
    fuzz_settings) echo "$common:allocator_may_return_null=1" ;;
    *) echo "$common" ;;
  esac
}

dictionary() {
  case "$1" in
    fuzz_reply) echo "$root/fuzz/dict/xml.dict" ;;
    fuzz_settings) echo "$root/fuzz/dict/ini.dict" ;;
    fuzz_request) echo "$root/fuzz/dict/query.dict" ;;
    fuzz_provider_*) echo "$root/fuzz/dict/json.dict" ;;
  esac
}

# Runs one target: run TARGET WORK-DIR LOG libFuzzer-options...
run() {
  local target=$1 work=$2 log=$3
  shift 3
  local findings=$build/findings/$target
  local dict extra
  dict=$(dictionary "$target")
  extra=$(options "$target")
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  local status=0
  (cd "$work" && ASAN_OPTIONS=${ASAN_OPTIONS:-$(sanitizer_options "$target")} \
    "$build/fuzzers/$target" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" ${dict:+-dict="$dict"} $extra "$@" \
    "$work" "$root/fuzz/corpus/$target") >"$log" 2>&1 || status=$?
  local executions speed coverage
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  coverage=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n1 || true)
  printf '%-22s executions %10s  exec/s %7s  %s\n' "$target" "${executions:-?}" "${speed:-?}" \
    "${coverage:-}"
  if [ "$status" -ne 0 ]; then
    echo "FINDING in $target (exit status $status): input left in $findings/, log in $log" >&2
    grep -E '^==[0-9]+==ERROR|^==fuzz==|^SUMMARY|runtime error' "$log" | head -n5 >&2 || true
    return 1
  fi
  tally=$((tally + ${executions:-0}))
}

[ $# -ge 1 ] || usage
case "$1" in
  --build)
    build_targets
    ;;
  --check)
    [ $# -eq 3 ] || usage
    target=$2
    if [ ! -x "$build/fuzzers/$target" ]; then
      echo "fuzz.sh: $target is not built in $build" >&2
      command -v clang++ >/dev/null || exit 77
      exit 1
    fi
    seeds=$(find "$root/fuzz/corpus/$target" -type f | wc -l)
    work=$build/check-work/$target
    rm -rf "$work"
    mkdir -p "$build/logs"
    tally=0
    run "$target" "$work" "$build/logs/check-$target.log" \
      -seed=1 -runs=$((seeds + $3)) -max_total_time=300
    ;;
  *)
    [[ $1 =~ ^[0-9]+$ ]] || usage
    seconds=$1
    shift
    build_targets
    list=("$@")
    [ ${#list[@]} -gt 0 ] || mapfile -t list < <(targets)
    mkdir -p "$build/logs"
    tally=0
    failed=0
    for target in "${list[@]}"; do
      run "$target" "$build/corpus-work/$target" "$build/logs/$target.log" \
        -max_total_time="$seconds" || failed=1
    done
    echo "total executions without a finding: $tally"
    exit $failed
    ;;
esac
