#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet (apt-get, as
# root). Nothing to do: no root needed. Used by the Quick start's build and by the test command,
# so that either can come first on a fresh machine.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
if [[ $(id -u) != 0 ]]; then
  echo "missing packages (run as root to install them): ${missing[*]}" >&2
  exit 1
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
