# bash completion for kolvane: keyword=value words.
# Self-contained: it uses only bash's own COMP_WORDS, COMP_CWORD, compgen and compopt.

_kolvane() {
  local cur=${COMP_WORDS[COMP_CWORD]} before=${COMP_WORDS[COMP_CWORD-1]} key value prefix=
  COMPREPLY=()
  # "=" is normally a word break, so "if=ab" arrives as the three words "if", "=", "ab" and
  # only the text after "=" is replaced; without that break the word arrives whole.
  if [[ $cur == = ]] && ((COMP_CWORD > 1)); then
    key=$before value=
  elif [[ $before == = ]] && ((COMP_CWORD > 2)); then
    key=${COMP_WORDS[COMP_CWORD-2]} value=$cur
  elif [[ $cur == *=* ]]; then
    key=${cur%%=*} value=${cur#*=} prefix=$key=
  else
    local words="if= of= bs= ibs= obs= count= skip= seek= conv= iterations= verbose= dio="
    words+=" seed= distribution= runtime= iodepth= pattern= verify= report= json= plot= progress="
    words+=" poll= workers= span= mix= rate= arrivals= interval= json-buckets= quiet="
    # --help and --version count only as the first word.
    [[ $cur == -* ]] && words=$( ((COMP_CWORD == 1)) && echo "--help --version")
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    # A keyword is followed by its value, not by a space.
    [[ ${COMPREPLY[*]} == *= ]] && compopt -o nospace
    return 0
  fi
  case $key in
    if | of | json | plot) compopt -o filenames && mapfile -t COMPREPLY < <(compgen -f -- "$value") ;;
    report) mapfile -t COMPREPLY < <(compgen -W "0 1" -- "$value") ;;
    conv)
      # A list: the words before the last comma stay as they are.
      [[ $value == *,* ]] && prefix+=${value%,*}, value=${value##*,}
      mapfile -t COMPREPLY < <(compgen -W "notrunc fsync fdatasync" -- "$value")
      ;;
    distribution)
      mapfile -t COMPREPLY < <(compgen -W "uniform zipf: pareto: normal:" -- "$value")
      # A law's number follows its colon, not a space.
      [[ ${COMPREPLY[*]} == *: ]] && compopt -o nospace
      ;;
    dio) mapfile -t COMPREPLY < <(compgen -W "1 2 3" -- "$value") ;;
    pattern) mapfile -t COMPREPLY < <(compgen -W "random zero" -- "$value") ;;
    verify) mapfile -t COMPREPLY < <(compgen -W "0 1 2" -- "$value") ;;
    poll) mapfile -t COMPREPLY < <(compgen -W "1 2" -- "$value") ;;
    arrivals) mapfile -t COMPREPLY < <(compgen -W "even poisson" -- "$value") ;;
    quiet | json-buckets) mapfile -t COMPREPLY < <(compgen -W "1" -- "$value") ;;
  esac
  [[ -n $prefix ]] && COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
  return 0
}
complete -F _kolvane kolvane
