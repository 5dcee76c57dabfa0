#!/usr/bin/env bash
# Checks beyond the suites: the unit and end-to-end suites again in an AddressSanitizer and
# UndefinedBehaviorSanitizer build, the command line under libFuzzer, runs of the real program
# under valgrind, and static analysis of src/. Installs nothing (scripts/test-all.sh does).
# Usage: scripts/test-trust.sh BUILD_DIR   (a native build of the program, e.g. out/linux)
set -uo pipefail
cd "$(dirname "$0")/.."
linux=${1:?usage: test-trust.sh BUILD_DIR}
jobs=$(nproc)
passed=0 failed=0
# A fixed count rather than a time, so that a loaded machine tries as many inputs as a quiet one:
# 12 seconds on 2 cores with a load average of 4, the fuzzer's build adding as much again.
fuzz_runs=60000

# Runs one check with its output kept aside and shown only when it fails; a check writes its
# one-line summary to descriptor 3.
step() {
  local name=$1 log start=$SECONDS
  shift
  log=$(mktemp)
  if "$@" 3>"$log.note" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $name ($((SECONDS - start)) s)"
    cat "$log.note"
  else
    failed=$((failed + 1))
    echo "FAIL $name ($((SECONDS - start)) s)"
    tail -n 80 "$log"
  fi
  rm -f "$log" "$log.note"
}

# The same suites in a sanitized build. The sanitizers log to files rather than to the
# program's standard error, which the end-to-end cases compare byte for byte; the only
# entries allowed there are the warnings for the allocations that are meant to fail.
sanitized_suites() {
  local start=$SECONDS built
  # Up to date already when scripts/test-all.sh built the tree beside the others.
  bash scripts/build-sanitized.sh || return 1
  built=$((SECONDS - start))
  local logs=$PWD/out/asan/sanitizer-logs
  rm -rf "$logs" && mkdir -p "$logs"
  # verify_asan_link_order=0: an interposer loaded with LD_PRELOAD comes before the runtime.
  (cd out/asan && KOLVANE_SANITIZED=1 \
    ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:verify_asan_link_order=0:log_path=$logs/asan \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan \
    ctest -j"$jobs" --output-on-failure -E '^win32\.' | tee ctest.log) || return 1
  if cat "$logs"/* 2>/dev/null | grep -v 'WARNING: AddressSanitizer failed to allocate'; then
    echo "sanitizer reports above (in $logs)"
    return 1
  fi
  echo "  $(grep 'tests passed' out/asan/ctest.log) (build $built s, suites $((SECONDS - start - built)) s)" >&3
}

# The worker threads under ThreadSanitizer: the program built with it, driven by the end-to-end
# cases that run several workers (and those of signals and queues beside them); any report in
# its log fails the step, as does a case, since a report on standard error changes the output.
tsan_workers() {
  local logs=$PWD/out/tsan/logs
  # -O1: the races are the same, the build about a third shorter.
  cmake -S . -B out/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
    -DKOLVANE_TESTS=OFF -DKOLVANE_WERROR=ON -DKOLVANE_MPI=OFF >/dev/null && cmake --build out/tsan --target kolvane \
    -j"$jobs" >/dev/null || return 1
  rm -rf "$logs" && mkdir -p "$logs"
  TSAN_OPTIONS=halt_on_error=1:log_path=$logs/tsan:suppressions=$PWD/tests/tsan.supp \
    "$linux/tests/e2e/kolvane_e2e" --binary="$PWD/out/tsan/kolvane" --target=posix \
    --gtest_filter='Workers.*:Mix.*:LoopDevice.AWorker*:Control.*:Depth.*:E2e.RateRuns*' | tail -n 3 || return 1
  if cat "$logs"/* 2>/dev/null; then
    echo "ThreadSanitizer reports above (in $logs)"
    return 1
  fi
  echo "  $(find "$logs" -type f | wc -l) reports" >&3
}

# A fuzzing run of a fixed number of inputs, from the corpus, so that each run tries as much
# whatever the machine's load; a crash, a hang, a leak or a sanitizer report ends it non-zero.
fuzz() {
  mkdir -p out/fuzz
  clang++-14 -std=c++20 -g -O1 -Wall -Wextra -Wpedantic -Werror \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -Isrc \
    '-DKOLVANE_VERSION="fuzz"' tests/fuzz/scan_fuzz.cc src/cli/parse_integer.cc \
    src/cli/scanargs.cc src/cli/usage.cc src/platform/profile.cc -o out/fuzz/scan_fuzz || return 1
  local new status
  new=$(mktemp -d)
  out/fuzz/scan_fuzz -runs="$fuzz_runs" -timeout=10 -artifact_prefix=out/fuzz/ \
    "$new" tests/fuzz/corpus 2>&1 | tee out/fuzz/fuzz.log
  status=$?
  rm -rf "$new"
  ((status == 0)) && echo "  $(grep '^Done' out/fuzz/fuzz.log)" >&3
  return $status
}

# One run under valgrind in $work: the exit status, no memory errors or leaks, and no
# descriptor open at exit beyond those that a trivial program shows under the same flags.
vg_work=
vg_fds=
vg() {
  local want=$1 name=$2 got fds
  shift 2
  (cd "$vg_work" && valgrind --leak-check=full --track-fds=yes --error-exitcode=99 \
    --log-file="$name.vg" "$@" >"$name.out" 2>"$name.err" </dev/null 3>&-)
  got=$?
  fds=$(sed -n 's/.*FILE DESCRIPTORS: \([0-9]*\) open.*/\1/p' "$vg_work/$name.vg")
  [[ -n $vg_fds ]] || vg_fds=$fds
  if [[ $got != "$want" || -z $fds || $fds != "$vg_fds" ]] ||
    ! grep -q 'ERROR SUMMARY: 0 errors' "$vg_work/$name.vg"; then
    echo "$name: status $got (expected $want), $fds descriptors open (expected $vg_fds)"
    cat "$vg_work/$name.vg" "$vg_work/$name.err"
    return 1
  fi
}
copy_checked() { vg 0 copy "$@" && cmp "$vg_work/in" "$vg_work/out"; }

vg_work=$(mktemp -d)
trap 'rm -rf "$vg_work"' EXIT
exe=$(realpath "$linux/kolvane")
head -c 65536 /dev/urandom >"$vg_work/in"
cp "$vg_work/in" "$vg_work/inplace"
head -c 1537 /dev/zero >"$vg_work/small"
: >"$vg_work/empty"

tidy() {
  cmake -S . -B "$linux" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null || return 1
  # The largest files first, so that no long one is left to run alone at the end.
  find src -name '*.cc' ! -path 'src/platform/win32/*' -printf '%s %p\n' | sort -rn | cut -d' ' -f2- |
    tr '\n' '\0' | xargs -0 -n1 -P"$jobs" nice -n 19 clang-tidy -p "$linux" --quiet
}
# clang-tidy takes minutes of processor time and waits on nothing: it runs niced from the start,
# on the time the other checks leave idle (the suites wait on the programs they run, valgrind
# and the fuzzing run keep one core each), its lines and counts after theirs.
tidy_out=$(mktemp)
(passed=0 failed=0 && step "clang-tidy" tidy && echo "$passed $failed" >"$tidy_out.counts") \
  >"$tidy_out" 2>&1 &
tidying=$!

step "sanitized unit and end-to-end suites" sanitized_suites
step "ThreadSanitizer: several workers" tsan_workers
# The fuzzing run keeps one core busy, and so do the valgrind runs and cppcheck: they go side by
# side, the fuzzing run's lines and counts after theirs.
fuzz_out=$(mktemp)
(passed=0 failed=0 && step "fuzzing the command line" fuzz && echo "$passed $failed" >"$fuzz_out.counts") \
  >"$fuzz_out" 2>&1 &
fuzzing=$!
step "valgrind: a trivial program, for the descriptors always open" vg 0 baseline /bin/true
step "valgrind: copy" copy_checked "$exe" if=in of=out bs=4k
step "valgrind: iterations" vg 0 iterations "$exe" if=in of=inplace bs=512 count=4 \
  iterations=5 conv=notrunc
step "valgrind: missing input" vg 2 missing "$exe" if=missing of=out2
step "valgrind: output too small" vg 5 small "$exe" if=in of=small bs=512 count=2 seek=1 \
  iterations=1 conv=notrunc
step "valgrind: empty input" vg 3 empty "$exe" if=empty of=out3
step "cppcheck" cppcheck --enable=warning,performance,portability --error-exitcode=1 \
  --inline-suppr --quiet --std=c++20 -Isrc src
# collect PID OUT NAME: waits for a step run in the background, shows its lines and adds its counts.
collect() {
  local p f
  wait "$1"
  cat "$2"
  if read -r p f 2>/dev/null <"$2.counts"; then
    passed=$((passed + p)) failed=$((failed + f))
  else
    failed=$((failed + 1)) && echo "FAIL $3 (no outcome)"
  fi
  rm -f "$2" "$2.counts"
}
collect "$fuzzing" "$fuzz_out" "fuzzing the command line"
collect "$tidying" "$tidy_out" "clang-tidy"

echo "$passed passed, $failed failed"
((failed == 0))
