#!/usr/bin/env bash
# Checks what an installation delivers: a manual page that man and groff take without a warning,
# an install tree and two packages holding exactly their files, one version everywhere, and a
# bash completion that offers the right words.
# Usage: bash scripts/test-packages.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR (both already built)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
top=$PWD
linux=$(realpath "${1:?usage: test-packages.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}")
windows=$(realpath "${2:?usage: test-packages.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux/CMakeCache.txt")
passed=0 failed=0

# check NAME COMMAND...: the command must succeed; when it does not, its output is shown.
check() {
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1)) && echo "ok   $name"
  else
    failed=$((failed + 1)) && echo "FAIL $name" && printf '%s\n' "$out" | sed 's/^/     /'
  fi
}
same() { [[ $1 == "$2" ]] || { printf 'got:\n%s\nexpected:\n%s\n' "$1" "$2" && return 1; }; }
# man and groff exit 0 after a warning: any text on standard error is the failure.
silent() { local err; err=$("$@" 2>&1 >/dev/null) && [[ -z $err ]] || { echo "$err" && return 1; }; }

check "man --warnings is silent on man/kolvane.1" silent env MANPAGER=cat man --warnings -l man/kolvane.1
check "groff -ww is silent on man/kolvane.1" silent groff -ww -man -Tutf8 man/kolvane.1

install_tree() {
  cmake --install "$linux" --prefix "$tmp/root" >/dev/null || return 1
  same "$(cd "$tmp/root" && find . -type f | sort)" "./bin/kolvane
./share/bash-completion/completions/kolvane
./share/man/man1/kolvane.1.gz" || return 1
  same "$(MANPATH=$tmp/root/share/man man -w kolvane)" "$tmp/root/share/man/man1/kolvane.1.gz"
}
check "cmake --install puts program, manual page and completion in place" install_tree

one_version() {
  [[ -n $version ]] || { echo "no project version in $linux/CMakeCache.txt" && return 1; }
  "$tmp/root/bin/kolvane" --version 2>&1 >/dev/null | grep -x ".*kolvane version $version" &&
    zcat "$tmp/root/share/man/man1/kolvane.1.gz" | grep -x "\.TH KOLVANE 1 .* \"kolvane $version\" .*"
}
check "the program and its manual page carry the project's version ($version)" one_version

deb_package() {
  (cd "$linux" && cpack -G DEB -B "$tmp/deb") >"$tmp/deb.log" 2>&1 || { cat "$tmp/deb.log" && return 1; }
  local deb=$tmp/deb/kolvane_${version}_$(dpkg --print-architecture).deb
  same "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort)" \
    "-rw-r--r-- root/root ./usr/share/bash-completion/completions/kolvane
-rw-r--r-- root/root ./usr/share/man/man1/kolvane.1.gz
-rwxr-xr-x root/root ./usr/bin/kolvane" || return 1
  same "$(dpkg-deb -f "$deb" Package Version Section)" "Package: kolvane
Version: $version
Section: utils" || return 1
  dpkg-deb -f "$deb" Depends | grep -E '(^|, )libc6 \(>= ' && dpkg-deb -f "$deb" Maintainer | grep '<.*@.*>' ||
    { echo "no libc6 dependency or no maintainer:" && dpkg-deb -f "$deb" Depends Maintainer && return 1; }
}
check "cpack -G DEB: program, manual page and completion, control fields" deb_package

zip_package() {
  (cd "$windows" && cpack -G ZIP -B "$tmp/zip") >"$tmp/zip.log" 2>&1 || { cat "$tmp/zip.log" && return 1; }
  local zip=$tmp/zip/kolvane-$version-win64.zip
  same "$(unzip -l "$zip" | awk 'NF == 4 && $1 ~ /^[0-9]+$/ {print $4}' | sort)" "README.txt
kolvane.exe" || return 1
  unzip -p "$zip" README.txt | head -n 1 | grep -x "kolvane $version for Windows"$'\r' ||
    { echo "README.txt does not begin with \"kolvane $version for Windows\" and CR LF" && return 1; }
  if unzip -p "$zip" README.txt | grep -v $'\r$'; then echo "README.txt: lines without CR LF" && return 1; fi
  # The packaged program runs. Its output goes to a file: wine's services may keep a pipe open.
  unzip -p "$zip" kolvane.exe >"$tmp/kolvane.exe" &&
    WINEDEBUG=-all /usr/lib/wine/wine64 "$tmp/kolvane.exe" --version </dev/null >"$tmp/exe.out" 2>&1
  grep "kolvane.exe version $version"$'\r$' "$tmp/exe.out" || { cat "$tmp/exe.out" && return 1; }
}
check "cpack -G ZIP: kolvane.exe and a CR LF README.txt, the program runs" zip_package

# replies CWORD WORDS...: what the function registered for kolvane offers for word CWORD (a new,
# empty word when CWORD is past the last), sorted, with "+nospace" when it keeps readline from
# adding a space. Run in a directory holding a.img, b.img and dir/.
mkdir -p "$tmp/files/dir" && touch "$tmp/files/a.img" "$tmp/files/b.img"
replies() (
  cd "$tmp/files" && source "$top/completion/kolvane.bash" || exit 1
  local registered nospace=
  registered=$(complete -p kolvane) && registered=${registered#*-F } || exit 1
  compopt() { [[ $* != "-o nospace" ]] || nospace=" +nospace"; }
  COMP_CWORD=$1 && shift && COMP_WORDS=("$@" "")
  "${registered%% *}"
  echo "$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')$nospace"
)
while IFS='|' read -r words cword expected; do
  read -ra w <<<"$words"
  check "completion of word $cword in: $words" same "$(replies "$cword" "${w[@]}")" "$expected"
done <<'EOF'
kolvane|1|bs= conv= count= dio= ibs= if= iterations= obs= of= seek= skip= verbose= +nospace
kolvane i|1|ibs= if= iterations= +nospace
kolvane co|1|conv= count= +nospace
kolvane -|1|--help --version
kolvane bs=1k -|2|
kolvane if =|2|a.img b.img dir
kolvane bs=1k of = a|4|a.img
kolvane if=b|1|if=b.img
kolvane conv =|2|notrunc
kolvane conv = no|3|notrunc
kolvane conv=|1|conv=notrunc
kolvane dio =|2|1 2 3
kolvane dio = 3|3|3
kolvane dio=|1|dio=1 dio=2 dio=3
kolvane bs =|2|
EOF

echo "$passed passed, $failed failed"
((failed == 0))
