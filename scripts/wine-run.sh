#!/bin/bash
# Starts a cross-built test program under wine, for ctest and for test discovery. Wine now and
# then loses a run between its server and a starting program: the run fails having printed
# nothing, or prints its client's error line. A test program always prints, so such a run is
# made again (at most twice) and said on standard error; a program that fails the same way
# every time still fails. The program's output is passed on once it has ended.
wine=/usr/lib/wine/wine64
dir=$(mktemp -d) || exit 125
trap 'rm -rf "$dir"' EXIT
for attempt in 1 2 3; do
  "$wine" "$@" >"$dir/out" 2>"$dir/err"
  status=$?
  if ! grep -q "wine client error" "$dir/err" &&
    { [ "$status" -eq 0 ] || [ -s "$dir/out" ] || [ -s "$dir/err" ]; }; then
    break
  fi
  [ "$attempt" -lt 3 ] || break
  echo "note: wine lost a run of $* (status $status, on error: \"$(head -c 400 "$dir/err")\");" \
    "running it again" >&2
done
cat "$dir/out"
cat "$dir/err" >&2
exit "$status"
