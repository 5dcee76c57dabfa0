#!/usr/bin/env bash
# Installs what is missing (Debian, as root), builds the Linux and the Windows program from
# scratch and runs every test: unit tests of both builds (the Windows ones under wine), the
# end-to-end cases against both programs, the package checks, the README's examples and the
# trust checks (sanitizers, fuzzing, valgrind, static analysis). Ends with a summary that counts
# the skipped tests apart from the passed ones and says why they were skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ googletest libgtest-dev g++-mingw-w64-x86-64-posix wine64
          nlohmann-json3-dev libxxhash-dev liburing-dev libxml2-utils librsvg2-bin libpng-dev
          python3-jsonschema man-db groff-base unzip dpkg-dev file libopenmpi-dev openmpi-bin
          clang-14 libclang-rt-14-dev valgrind clang-tidy cppcheck)
bash scripts/install-packages.sh "${packages[@]}"

jobs=$(nproc)
rm -rf out/linux out/windows out/asan
begun=$SECONDS
logs=$PWD/out/test-all
rm -rf "$logs" && mkdir -p "$logs"

# Wine's prefix and a persistent server for the whole run, so that each program started later
# returns at once instead of waiting for wine's background services to let go of its output
# pipes.
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
# The persistent server comes first (it needs the prefix's folder), so that wineboot's services
# run under it: a server that wineboot started is not persistent and refuses to become so, ends
# in the first pause between wine programs, and a program starting just then loses its
# connection ("recvmsg: Connection reset by peer").
mkdir -p "${WINEPREFIX:-$HOME/.wine}"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
"$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

# The three trees build side by side: each has stretches on one core (configuring, linking, the
# test lists read from the programs, the Windows ones under wine) that the others fill. The
# Windows tree (unit tests under wine, the zip) and the Linux tree (its unit tests, the
# end-to-end cases against both programs, the .deb, the README's examples, valgrind) are built
# as they ship, less the debug information that no check reads: gcc generates the same code
# with or without it, and the Linux tree keeps line tables for valgrind's reports. The
# sanitized tree is the one scripts/test-trust.sh runs its suites in.
build_windows() {
  cmake -S . -B out/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
    -DKOLVANE_WERROR=ON &&
    cmake --build out/windows -j"$jobs" &&
    { "$wine" out/windows/kolvane.exe --version </dev/null >/dev/null 2>&1 || true; }
}
build_linux() {
  cmake -S . -B out/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DKOLVANE_WERROR=ON \
    -DKOLVANE_WIN32_EXE="$PWD/out/windows/kolvane.exe" &&
    cmake --build out/linux -j"$jobs"
}
build_sanitized() { bash scripts/build-sanitized.sh; }
# Each build's output goes to its log, shown whole when that build fails; the seconds it took
# are its own, overlapping the others'.
builds=(windows linux sanitized)
for tree in "${builds[@]}"; do
  (
    start=$SECONDS status=0
    "build_$tree" >"$logs/build-$tree.log" 2>&1 || status=$?
    echo "$status $((SECONDS - start))" >"$logs/build-$tree.status"
  ) &
done
wait
broken=0 each=
for tree in "${builds[@]}"; do
  read -r status secs <"$logs/build-$tree.status" || status=1 secs=?
  echo "build of the $tree tree: status $status, $secs s (log: $logs/build-$tree.log)"
  each+="${each:+, }$tree $secs s"
  ((status == 0)) || { tail -n 100 "$logs/build-$tree.log" && broken=1; }
done
((broken == 0)) || exit 1

# Each stage's counts go into the closing summary, with a note where it has one. A skipped test
# or check is neither passed nor failed: the summary counts the skips and says why each was
# skipped.
rows=("builds|0|0|0|$((SECONDS - begun))|side by side: $each")

# ctest_tree NAME DIR: runs the tree's tests; their outcomes and skip reasons come from its
# JUnit report, one line per test: "STATUS<TAB>NAME<TAB>REASON".
ctest_tree() {
  local name=$1 dir=$2 start=$SECONDS
  # Passed tests keep their whole output in the report, so the runs wine lost are counted below.
  # A test that hangs (a stop that no longer reaches a blocked call) fails instead of holding CI.
  (cd "$dir" && ctest -j"$jobs" --timeout 180 --output-on-failure --test-output-size-passed 262144 \
    --output-junit "$logs/$name.xml") || true
  awk '
    function text(s) {
      gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s); gsub(/&apos;/, "\047", s)
      gsub(/&amp;/, "\\&", s); return s
    }
    function flush() { if (test != "") print status "\t" test "\t" reason; test = "" }
    /<testcase / {
      flush()
      match($0, /name="[^"]*"/); test = text(substr($0, RSTART + 6, RLENGTH - 7))
      match($0, /status="[^"]*"/); status = substr($0, RSTART + 8, RLENGTH - 9)
      reason = ""; want = 0; next
    }
    want { reason = text($0); want = 0 }
    /: Skipped$/ { want = 1 }
    END { flush() }' "$logs/$name.xml" >"$logs/$name.tests" 2>/dev/null
  local run fail skip
  # (grep -c prints 0 but fails when nothing matches)
  run=$(grep -c '^run' "$logs/$name.tests" || true)
  fail=$(grep -vc -e '^run' -e '^notrun' -e '^disabled' "$logs/$name.tests" || true)
  skip=$(grep -c -e '^notrun' -e '^disabled' "$logs/$name.tests" || true)
  [[ -s $logs/$name.tests ]] || fail=1
  rows+=("$name|$run|$fail|$skip|$((SECONDS - start))")
  awk -F'\t' '$1 == "notrun" || $1 == "disabled" {
    print ($3 == "" ? "no reason given" : $3) "\t" $2 }' "$logs/$name.tests" >>"$logs/skips"
}

# script_stage NAME COMMAND...: a check script ends with "N passed, N failed[, N skipped]" and
# lists each check it skips on a line "skip WHAT (REASON)".
script_stage() {
  local name=$1 last start=$SECONDS
  shift
  "$@" 2>&1 | tee "$logs/$name.log" || true
  last=$(grep -E '^[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' "$logs/$name.log" | tail -n 1 || true)
  if [[ -z $last ]]; then
    rows+=("$name|0|1|0|$((SECONDS - start))")   # no count at its end: a failure in itself
  else
    read -r p _ f _ s _ <<<"${last//,/}"
    rows+=("$name|$p|$f|${s:-0}|$((SECONDS - start))")
  fi
  sed -n 's/^skip \(.*\) (\(.*\))$/\2\t\1/p' "$logs/$name.log" >>"$logs/skips"
}

: >"$logs/skips"
ctest_tree windows-tree out/windows
ctest_tree linux-tree out/linux
script_stage packages bash scripts/test-packages.sh out/linux out/windows
script_stage readme-examples bash scripts/test-readme.sh out/linux
script_stage trust bash scripts/test-trust.sh out/linux

passed=0 failed=0 skipped=0
echo
echo "== Summary ($(((SECONDS - begun) / 60)) min $(((SECONDS - begun) % 60)) s from the first build)"
for row in "${rows[@]}"; do
  IFS='|' read -r name p f s secs note <<<"$row"
  printf '  %-16s %5d passed, %d failed, %d skipped  (%d s)%s\n' "$name" "$p" "$f" "$s" "$secs" \
    "${note:+; $note}"
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
done
if ((skipped)); then
  echo "Skipped (not run here, so neither passed nor failed), by reason:"
  cut -f1 "$logs/skips" | sort | uniq -c | sort -rn | while read -r n reason; do
    first=$(awk -F'\t' -v r="$reason" '$1 == r {print $2; exit}' "$logs/skips")
    printf '  %4d  %s (such as %s)\n' "$n" "$reason" "$first"
  done
fi
# A run wine lost is made again by the harness or by scripts/wine-run.sh; say how many were.
lost=$(cat "$logs"/*.xml 2>/dev/null | grep -c -e 'note: the emulator lost a run' \
  -e 'note: wine lost a run' || true)
((lost == 0)) || echo "Wine lost $lost runs, each made again (the notes are in $logs/*.xml)"
echo "$passed passed, $failed failed, $skipped skipped"
((failed == 0))
