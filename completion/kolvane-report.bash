# bash completion for kolvane-report: a command (merge, compare, plot), its options and the
# JSON documents it reads.
# Self-contained: it uses only bash's own COMP_WORDS, COMP_CWORD, compgen and compopt.

_kolvane_report() {
  local cur=${COMP_WORDS[COMP_CWORD]} before=${COMP_WORDS[COMP_CWORD-1]} words
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    # --help and --version count only as the first word.
    mapfile -t COMPREPLY < <(compgen -W "merge compare plot --help --version" -- "$cur")
    return 0
  fi
  # "=" is normally a word break, so "--tolerance=5" arrives as "--tolerance", "=", "5": a
  # number, which has nothing to offer.
  [[ $cur == = || $before == = ]] && return 0
  # -o names the file written: any file name, not only documents.
  if [[ $before == -o ]]; then
    compopt -o filenames && mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return 0
  fi
  if [[ $cur == -* ]]; then
    case ${COMP_WORDS[1]} in
      merge | plot) words="-o" ;;
      compare) words="--tolerance=" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    # The tolerance's number follows its "=", not a space.
    [[ ${COMPREPLY[*]} == *= ]] && compopt -o nospace
    return 0
  fi
  case ${COMP_WORDS[1]} in
    # The documents read: JSON files and the folders that may hold them.
    merge | compare | plot)
      compopt -o filenames
      mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.json' -- "$cur")
      ;;
  esac
  return 0
}
complete -F _kolvane_report kolvane-report
