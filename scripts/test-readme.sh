#!/usr/bin/env bash
# Runs the commands of the README's "Examples" section, in order, in one shell in an empty
# temporary folder, with the built program first on PATH, and compares what does not vary from
# run to run nor with the wording of messages:
#   - a command naming kolvane: its records lines ("F+P records in", "F+P records out"), and
#     any other line that a pattern in "compared" below matches;
#   - any other command (head, cmp, wc, echo $?, ...): its whole output;
#   - every command: it succeeds, unless the next command shown is "echo $?", which then shows
#     its status.
# The section's examples are the ```console blocks in it: a line "$ COMMAND" is a command (one
# line each), the lines after it its output. A command ending in "# not run by the tests: WHY"
# is left out, with the output shown after it, and counted as skipped.
# Usage: bash scripts/test-readme.sh BUILD_DIR [README]   (BUILD_DIR holds the built kolvane)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build=$(realpath "${1:?usage: test-readme.sh BUILD_DIR [README]}")
readme=$(realpath "${2:-README.md}")
[[ -x $build/kolvane ]] || { echo "no program at $build/kolvane" && exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
# The lines of a kolvane command's output that are compared, as extended regular expressions;
# every other line (date, elapsed time, messages) is shown but not compared. When a report gains
# a line that does not vary between runs, its pattern goes here.
compared=('^[0-9]+\+[0-9]+ records (in|out)$')
skip_mark='#[[:space:]]*not run by the tests:[[:space:]]*'

# The examples as records "KIND<TAB>TEXT", KIND being cmd (a command), out (a line of the output
# shown after it) or end (the end of a block). A missing section or an unclosed block is an error.
extract() {
  awk '
    /^## / { in_section = ($0 == "## Examples"); if (in_section) found = 1; next }
    !in_section { next }
    /^```/ {
      if (in_block) { print "end\t"; in_block = 0 }
      else if ($0 == "```console") in_block = 1
      next
    }
    in_block && /^\$ / { print "cmd\t" substr($0, 3); next }
    in_block { print "out\t" $0 }
    END {
      if (!found) { print "README has no \"## Examples\" section" > "/dev/stderr"; exit 1 }
      if (in_block) { print "a ```console block in Examples is not closed" > "/dev/stderr"; exit 1 }
    }' "$readme"
}

extract >"$work/.examples" || exit 1
commands=() expected=() reasons=() shown=()
while IFS=$'\t' read -r kind text; do
  case $kind in
    cmd) commands+=("$text") && expected+=("") && reasons+=("") ;;
    out) ((${#commands[@]})) && expected[-1]+="$text"$'\n' ;;
    end) ;;
  esac
done <"$work/.examples"
((${#commands[@]})) || { echo "no commands found in the README's Examples section" && exit 1; }

for i in "${!commands[@]}"; do
  shown[i]=${commands[i]}
  if [[ ${commands[i]} =~ [[:space:]]*$skip_mark(.*)$ ]]; then
    reasons[i]=${BASH_REMATCH[1]:-no reason given}
    shown[i]=${commands[i]%"${BASH_REMATCH[0]}"}
  fi
done

# One shell for all the commands, so that files and $? carry from one to the next; each command's
# output goes to its own file and its status to another, and $? is restored for "echo $?".
script=$work/.examples.sh
{
  echo "cd '$work' && export PATH='$build':\"\$PATH\" LC_ALL=C"
  for i in "${!commands[@]}"; do
    [[ -n ${reasons[i]} ]] && continue
    printf '%s\n' "{ ${commands[i]}" "} >'$work/.out.$i' 2>&1 </dev/null" \
      "s=\$?; echo \$s >'$work/.status.$i'; (exit \$s)"
  done
} >"$script"
(cd "$work" && timeout 120 bash "$script") >/dev/null 2>&1

patterns=()
for p in "${compared[@]}"; do patterns+=(-e "$p"); done
for i in "${!commands[@]}"; do
  cmd=${commands[i]}
  if [[ -n ${reasons[i]} ]]; then
    skipped=$((skipped + 1)) && echo "skip \$ ${shown[i]} (${reasons[i]})" && continue
  fi
  problem=
  status=$(cat "$work/.status.$i" 2>/dev/null) || status="none (the command did not end)"
  got=$(tr -d '\r' <"$work/.out.$i" 2>/dev/null)
  want=${expected[i]%$'\n'}
  if [[ $cmd =~ (^|[^[:alnum:]_./-])kolvane([[:space:]]|$) ]]; then
    got=$(grep -E "${patterns[@]}" <<<"$got")
    want=$(grep -E "${patterns[@]}" <<<"$want")
  fi
  next=${commands[i + 1]:-}
  if [[ $status != 0 && $next != "echo \$?" ]]; then
    problem="exit status $status, and no \"\$ echo \$?\" after it shows one"
  elif [[ $got != "$want" ]]; then
    problem=$(printf 'output compared:\n%s\nREADME shows:\n%s' "$got" "$want")
  fi
  if [[ -z $problem ]]; then
    passed=$((passed + 1)) && echo "ok   \$ $cmd"
  else
    failed=$((failed + 1)) && echo "FAIL \$ $cmd" && printf '%s\n' "$problem" | sed 's/^/     /'
  fi
done

echo "$passed passed, $failed failed, $skipped skipped"
((failed == 0))
