#!/usr/bin/env bash
# The Quick start: installs what the Linux program's build needs and is missing (as root, on
# Debian), builds it in build/ and copies the README to build/README.copy in 1 KiB blocks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh cmake make g++ nlohmann-json3-dev libxxhash-dev liburing-dev
cmake -S . -B build -DKOLVANE_TESTS=OFF
cmake --build build -j"$(nproc)"
./build/kolvane if=README.md of=build/README.copy bs=1k
