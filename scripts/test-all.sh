#!/usr/bin/env bash
# Installs what is missing (Debian, as root), builds the Linux and the Windows program from
# scratch and runs every test: unit tests of both builds (the Windows ones under wine) and the
# end-to-end cases against both programs.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ googletest libgtest-dev g++-mingw-w64-x86-64-posix wine64
          nlohmann-json3-dev libxxhash-dev liburing-dev
          man-db groff-base unzip dpkg-dev file
          clang-14 libclang-rt-14-dev valgrind clang-tidy cppcheck)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) != 0 ]]; then
    echo "missing packages (run as root to install them): ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
rm -rf out/linux out/windows

# Windows: cross-built, unit tests run through wine by ctest.
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
"$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
# A persistent server for the whole run, so that each program started later returns at once
# instead of waiting for wine's background services to let go of its output pipes.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
cmake -S . -B out/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLVANE_WERROR=ON
cmake --build out/windows -j"$jobs"
"$wine" out/windows/kolvane.exe --version </dev/null >/dev/null 2>&1 || true

# Linux, with the end-to-end cases run against both programs.
cmake -S . -B out/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLVANE_WERROR=ON \
  -DKOLVANE_WIN32_EXE="$PWD/out/windows/kolvane.exe"
cmake --build out/linux -j"$jobs"

status=0
(cd out/windows && ctest -j"$jobs" --output-on-failure) || status=1
(cd out/linux && ctest -j"$jobs" --output-on-failure) || status=1
bash scripts/test-packages.sh out/linux out/windows || status=1
bash scripts/test-trust.sh out/linux || status=1
exit $status
