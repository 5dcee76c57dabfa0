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
# kolvane-report is expected in the install tree and the packages when the build made it, and
# only then: a tree without the program still installs and packages kolvane alone.
report=0 report_exe=0 mpi=0
[[ -x $linux/kolvane-report ]] && report=1
# kolvane-mpi likewise, where MPI was found: installed, and packaged in a .deb of its own.
[[ -x $linux/kolvane-mpi ]] && mpi=1
[[ -f $windows/kolvane-report.exe ]] && report_exe=1

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
# lines LINE...: the lines, one each, sorted as the listings they are compared with are.
lines() { printf '%s\n' "$@" | sort; }
# man and groff exit 0 after a warning: any text on standard error is the failure.
silent() { local err; err=$("$@" 2>&1 >/dev/null) && [[ -z $err ]] || { echo "$err" && return 1; }; }

# A page in the tree reads true on its own (man ./man/kolvane.1): no placeholder, no version.
# tree_page NAME: man/NAME.1's first line is .TH NAME-IN-CAPITALS 1 "DATE" "kolvane" "SECTION".
tree_page() {
  local page=man/$1.1 title=${1^^}
  if grep -n '@[A-Za-z_]*@' "$page"; then echo "placeholders above" && return 1; fi
  head -n 1 "$page" | grep -x "\\.TH $title 1 \"[^\"]*\" \"kolvane\" \"[^\"]*\"" ||
    { echo "the first line is not .TH $title 1 \"DATE\" \"kolvane\" \"SECTION\":" &&
      head -n 1 "$page" && return 1; }
}
for name in kolvane kolvane-report kolvane-mpi; do
  check "man/$name.1 in the tree carries no placeholder and no version" tree_page "$name"
  check "man --warnings is silent on man/$name.1" silent env MANPAGER=cat man --warnings -l "man/$name.1"
  check "groff -ww is silent on man/$name.1" silent groff -ww -man -Tutf8 "man/$name.1"
done

install_tree() {
  cmake --install "$linux" --prefix "$tmp/root" >/dev/null || return 1
  local expected=(./bin/kolvane ./share/bash-completion/completions/kolvane ./share/doc/kolvane/copyright
    ./share/doc/kolvane/kolvane-run.schema.json ./share/man/man1/kolvane.1.gz)
  ((report)) && expected+=(./bin/kolvane-report ./share/bash-completion/completions/kolvane-report
    ./share/man/man1/kolvane-report.1.gz)
  ((mpi)) && expected+=(./bin/kolvane-mpi ./share/doc/kolvane-mpi/copyright ./share/man/man1/kolvane-mpi.1.gz)
  same "$(cd "$tmp/root" && find . -type f | sort)" "$(lines "${expected[@]}")" || return 1
  same "$(MANPATH=$tmp/root/share/man man -w kolvane)" "$tmp/root/share/man/man1/kolvane.1.gz" || return 1
  ((report)) || return 0
  same "$(MANPATH=$tmp/root/share/man man -w kolvane-report)" "$tmp/root/share/man/man1/kolvane-report.1.gz"
}
check "cmake --install puts programs, manual pages, completions and licence in place (kolvane-report: $report, kolvane-mpi: $mpi)" install_tree

one_version() {
  [[ -n $version ]] || { echo "no project version in $linux/CMakeCache.txt" && return 1; }
  "$tmp/root/bin/kolvane" --version 2>&1 >/dev/null | grep -x ".*kolvane version $version" &&
    zcat "$tmp/root/share/man/man1/kolvane.1.gz" | grep -x "\.TH KOLVANE 1 .* \"kolvane $version\" .*" || return 1
  ((report)) || return 0
  "$tmp/root/bin/kolvane-report" --version 2>&1 >/dev/null | grep -x ".*kolvane-report version $version" &&
    zcat "$tmp/root/share/man/man1/kolvane-report.1.gz" |
    grep -x "\.TH KOLVANE-REPORT 1 .* \"kolvane $version\" .*" || return 1
  ((mpi)) || return 0
  "$tmp/root/bin/kolvane-mpi" --version 2>&1 >/dev/null | grep -x ".*kolvane-mpi version $version" &&
    zcat "$tmp/root/share/man/man1/kolvane-mpi.1.gz" | grep -x "\.TH KOLVANE-MPI 1 .* \"kolvane $version\" .*"
}
check "the programs and their manual pages carry the project's version ($version)" one_version

deb_package() {
  (cd "$linux" && cpack -G DEB -B "$tmp/deb") >"$tmp/deb.log" 2>&1 || { cat "$tmp/deb.log" && return 1; }
  local deb=$tmp/deb/kolvane_${version}_$(dpkg --print-architecture).deb
  local file="-rw-r--r-- root/root ./usr" program="-rwxr-xr-x root/root ./usr"
  local expected=("$file/share/bash-completion/completions/kolvane" "$file/share/doc/kolvane/copyright"
    "$file/share/doc/kolvane/kolvane-run.schema.json" "$file/share/man/man1/kolvane.1.gz" "$program/bin/kolvane")
  ((report)) && expected+=("$file/share/bash-completion/completions/kolvane-report"
    "$file/share/man/man1/kolvane-report.1.gz" "$program/bin/kolvane-report")
  same "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort)" "$(lines "${expected[@]}")" || return 1
  same "$(dpkg-deb -f "$deb" Package Version Section)" "Package: kolvane
Version: $version
Section: utils" || return 1
  dpkg-deb -f "$deb" Depends | grep -E '(^|, )libc6 \(>= ' && dpkg-deb -f "$deb" Maintainer | grep '<.*@.*>' ||
    { echo "no libc6 dependency or no maintainer:" && dpkg-deb -f "$deb" Depends Maintainer && return 1; }
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kolvane/copyright >"$tmp/copyright"
  # kolvane never depends on MPI, whether or not kolvane-mpi was built beside it.
  if dpkg-deb -f "$deb" Depends | grep -i mpi || ldd "$linux/kolvane" | grep -i mpi; then
    echo "kolvane depends on MPI (above)" && return 1
  fi
}
check "cpack -G DEB: programs, manual pages, completions and licence, control fields (kolvane-report: $report)" deb_package

# The package cpack made beside kolvane's: kolvane-mpi, its page and its copyright file, needing
# Open MPI's library and recommending its launcher.
mpi_package() {
  local deb=$tmp/deb/kolvane-mpi_${version}_$(dpkg --print-architecture).deb
  local file="-rw-r--r-- root/root ./usr"
  same "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort)" "$(lines \
    "-rwxr-xr-x root/root ./usr/bin/kolvane-mpi" "$file/share/doc/kolvane-mpi/copyright" \
    "$file/share/man/man1/kolvane-mpi.1.gz")" || return 1
  same "$(dpkg-deb -f "$deb" Package Version Recommends)" "Package: kolvane-mpi
Version: $version
Recommends: openmpi-bin" || return 1
  dpkg-deb -f "$deb" Depends | grep -E '(^|, )libopenmpi3 ' ||
    { echo "no Open MPI dependency:" && dpkg-deb -f "$deb" Depends && return 1; }
  cmp <(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kolvane-mpi/copyright) "$tmp/copyright"
}
((mpi)) && check "cpack -G DEB: kolvane-mpi in a package of its own" mpi_package

# A machine-readable copyright file: the Format line first; then paragraphs of fields and their
# indented continuation lines, each a Files paragraph with Copyright and License, or a stand-alone
# License paragraph.
machine_readable() {
  awk -v RS= -v FS='\n' '
    NR == 1 && $1 != "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" {
      print "paragraph 1 does not begin with the Format line"; bad = 1 }
    {
      delete field
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^[ \t]/) continue
        if ($i !~ /^[A-Za-z-]+:/) { print "paragraph " NR ", not a field: " $i; bad = 1; continue }
        field[substr($i, 1, index($i, ":") - 1)] = 1
      }
      if (NR > 1 && !("Files" in field) && !("License" in field)) {
        print "paragraph " NR " has neither Files nor License"; bad = 1 }
      if ("Files" in field && !("Copyright" in field && "License" in field)) {
        print "paragraph " NR ": Files without Copyright or License"; bad = 1 }
    }
    END { exit bad }' "$1"
}

# shipped PACKAGE FILE...: the files hold every notice in packaging/notices/ whose Ships-In line
# names PACKAGE (deb or zip), word for word, and the program's own MIT licence.
shipped() {
  local package=$1 text notice body n=0
  shift
  text=$(cat "$@" | tr -d '\r')
  [[ $text == *"Copyright (c) 2026 the kolvane developers"* || $text == *"Copyright: 2026 the kolvane developers"* ]] ||
    { echo "$*: no copyright of the kolvane developers" && return 1; }
  [[ $text == *"Permission is hereby granted, free of charge, to any person obtaining a copy"* ]] ||
    { echo "$*: no MIT licence text" && return 1; }
  for notice in packaging/notices/*; do
    head -n 1 "$notice" | grep -qw "$package" || continue
    body=$(tail -n +2 "$notice")
    [[ $text == *"$body"* ]] || { echo "$* lack the notice $notice" && return 1; }
    n=$((n + 1))
  done
  ((n > 0)) || { echo "no notice in packaging/notices/ ships in the $package package" && return 1; }
}
deb_licence() {
  [[ -s $tmp/copyright ]] || { echo "no copyright file taken from the .deb" && return 1; }
  machine_readable "$tmp/copyright" && shipped deb "$tmp/copyright" &&
    same "$(awk -v RS= '/^Files: \*\n/' "$tmp/copyright" | sed -n '/^License: Expat$/,$p' |
      sed '1d; s/^ \.$//; s/^ //')" "$(sed -n '/^Permission is hereby granted/,$p' LICENSE)"
}
check "the .deb's copyright file: machine-readable, the MIT licence and the notices for it" deb_licence

zip_package() {
  (cd "$windows" && cpack -G ZIP -B "$tmp/zip") >"$tmp/zip.log" 2>&1 || { cat "$tmp/zip.log" && return 1; }
  local zip=$tmp/zip/kolvane-$version-win64.zip top=kolvane-$version-win64
  # Every file in a folder of its own, named as the zip is.
  local expected=("$top/LICENSE.txt" "$top/README.txt" "$top/THIRD-PARTY-NOTICES.txt"
    "$top/kolvane-run.schema.json" "$top/kolvane.exe")
  ((report_exe)) && expected+=("$top/kolvane-report.exe")
  same "$(unzip -l "$zip" | awk 'NF == 4 && $1 ~ /^[0-9]+$/ && $4 !~ /\/$/ {print $4}' | sort)" "$(lines "${expected[@]}")" ||
    return 1
  unzip -p "$zip" "$top/LICENSE.txt" >"$tmp/LICENSE.txt" && unzip -p "$zip" "$top/THIRD-PARTY-NOTICES.txt" >"$tmp/NOTICES.txt"
  unzip -p "$zip" "$top/README.txt" | head -n 1 | grep -x "kolvane $version for Windows"$'\r' ||
    { echo "README.txt does not begin with \"kolvane $version for Windows\" and CR LF" && return 1; }
  if unzip -p "$zip" "$top/README.txt" | grep -v $'\r$'; then echo "README.txt: lines without CR LF" && return 1; fi
  # The packaged program runs. Its output goes to a file: wine's services may keep a pipe open.
  unzip -p "$zip" "$top/kolvane.exe" >"$tmp/kolvane.exe" &&
    WINEDEBUG=-all /usr/lib/wine/wine64 "$tmp/kolvane.exe" --version </dev/null >"$tmp/exe.out" 2>&1
  grep "kolvane.exe version $version"$'\r$' "$tmp/exe.out" || { cat "$tmp/exe.out" && return 1; }
  ((report_exe)) || return 0
  unzip -p "$zip" "$top/kolvane-report.exe" >"$tmp/kolvane-report.exe" &&
    WINEDEBUG=-all /usr/lib/wine/wine64 "$tmp/kolvane-report.exe" --version </dev/null >"$tmp/report.out" 2>&1
  grep "kolvane-report.exe version $version"$'\r$' "$tmp/report.out" || { cat "$tmp/report.out" && return 1; }
}
check "cpack -G ZIP: the programs, CR LF README.txt and licence files, the programs run (kolvane-report.exe: $report_exe)" zip_package

zip_licence() {
  [[ -s $tmp/LICENSE.txt && -s $tmp/NOTICES.txt ]] || { echo "no licence files taken from the zip" && return 1; }
  same "$(tr -d '\r' <"$tmp/LICENSE.txt")" "$(cat LICENSE)" || return 1
  if grep -v $'\r$' "$tmp/LICENSE.txt" "$tmp/NOTICES.txt"; then echo "lines without CR LF" && return 1; fi
  shipped zip "$tmp/LICENSE.txt" "$tmp/NOTICES.txt"
}
check "the zip's LICENSE.txt and THIRD-PARTY-NOTICES.txt: the MIT licence and the notices for it" zip_licence

# replies CWORD WORDS...: what the function registered for WORDS[0], the program (kolvane or
# kolvane-report, from completion/PROGRAM.bash), offers for word CWORD (a new,
# empty word when CWORD is past the last), sorted byte by byte whatever the locale (json-buckets=
# before json=), with "+nospace" when it keeps readline from adding a space. Run in a directory
# holding a.img, b.img and dir/; for kolvane-report, in one holding a.img, base.json, new.json
# and dir/.
mkdir -p "$tmp/files/dir" "$tmp/report-files/dir" && touch "$tmp/files/a.img" "$tmp/files/b.img" &&
  touch "$tmp/report-files/a.img" "$tmp/report-files/base.json" "$tmp/report-files/new.json"
replies() (
  local here=$tmp/files
  [[ $2 == kolvane-report ]] && here=$tmp/report-files
  cd "$here" && source "$top/completion/$2.bash" || exit 1
  local registered nospace=
  registered=$(complete -p "$2") && registered=${registered#*-F } || exit 1
  compopt() { [[ $* != "-o nospace" ]] || nospace=" +nospace"; }
  COMP_CWORD=$1 && shift && COMP_WORDS=("$@" "")
  "${registered%% *}"
  echo "$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')$nospace"
)
while IFS='|' read -r words cword expected; do
  read -ra w <<<"$words"
  check "completion of word $cword in: $words" same "$(replies "$cword" "${w[@]}")" "$expected"
done <<'EOF'
kolvane|1|arrivals= bs= conv= count= dio= distribution= ibs= if= interval= iodepth= iterations= json-buckets= json= mix= obs= of= pattern= plot= poll= progress= quiet= rate= report= runtime= seed= seek= skip= span= verbose= verify= workers= +nospace
kolvane i|1|ibs= if= interval= iodepth= iterations= +nospace
kolvane co|1|conv= count= +nospace
kolvane -|1|--help --version
kolvane bs=1k -|2|
kolvane if =|2|a.img b.img dir
kolvane bs=1k of = a|4|a.img
kolvane if=b|1|if=b.img
kolvane conv =|2|fdatasync fsync notrunc
kolvane conv = no|3|notrunc
kolvane conv=|1|conv=fdatasync conv=fsync conv=notrunc
kolvane conv=notrunc,f|1|conv=notrunc,fdatasync conv=notrunc,fsync
kolvane distribution=|1|distribution=normal: distribution=pareto: distribution=uniform distribution=zipf: +nospace
kolvane distribution = u|3|uniform
kolvane distribution = z|3|zipf: +nospace
kolvane sp|1|span= +nospace
kolvane mi|1|mix= +nospace
kolvane report=|1|report=0 report=1
kolvane verify=|1|verify=0 verify=1 verify=2
kolvane poll=|1|poll=1 poll=2
kolvane arrivals=|1|arrivals=even arrivals=poisson
kolvane arrivals = p|3|poisson
kolvane quiet=|1|quiet=1
kolvane json-buckets=|1|json-buckets=1
kolvane json|1|json-buckets= json= +nospace
kolvane rate =|2|
kolvane pattern=r|1|pattern=random
kolvane json=b|1|json=b.img
kolvane dio =|2|1 2 3
kolvane dio = 3|3|3
kolvane dio=|1|dio=1 dio=2 dio=3
kolvane bs =|2|
kolvane-report|1|--help --version compare merge plot
kolvane-report m|1|merge
kolvane-report merge -|2|-o
kolvane-report merge -o|3|a.img base.json dir new.json
kolvane-report merge|2|base.json dir new.json
kolvane-report merge base.json n|3|new.json
kolvane-report compare -|2|--tolerance= +nospace
kolvane-report compare --tolerance =|3|
kolvane-report compare --tolerance = n|4|
kolvane-report compare base.json -|3|--tolerance= +nospace
kolvane-report plot b|2|base.json
kolvane-report plot -o x.svg -|4|-o
kolvane-report --|1|--help --version
EOF

echo "$passed passed, $failed failed"
((failed == 0))
