# bash completion for quorvex, quorvex-pack and quorvex-layout, installed once under each command's name:
# the files that fit a position first, then every other file and folder; the options to a
# word that begins with '-'.

# Sets COMPREPLY to the files and folders that complete the current word, those whose name
# matches one of the patterns first, each group sorted. Patterns are lower case and match
# names in any case.
_quorvex_files_first() {  # pattern...
  local name pattern matched=() others=()
  while IFS= read -r name; do
    for pattern; do
      # shellcheck disable=SC2053  # a pattern, not a string
      [[ ${name,,} == $pattern ]] && { matched+=("$name"); continue 2; }
    done
    others+=("$name")
  done < <(compgen -f -- "${COMP_WORDS[COMP_CWORD]}" | sort)
  COMPREPLY=("${matched[@]}" "${others[@]}")
}

# Adds the words of the list that complete the current word, if it begins with '-'.
_quorvex_options() {  # the words, one string
  local cur=${COMP_WORDS[COMP_CWORD]}
  [[ $cur == -* ]] && mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -W "$1" -- "$cur")
  return 0
}

# A tile file, then the block counts, which get nothing.
_quorvex() {
  COMPREPLY=()
  ((COMP_CWORD == 1)) || return 0
  _quorvex_files_first '*.tis'
  _quorvex_options '--help --version'
}

# Options may stand anywhere before '--': the names before the current word are counted to
# tell which one it is, and an option's value is not a name.
_quorvex_pack() {
  COMPREPLY=()
  local i word option='' names=0 ended=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $option ]]; then
      option=''
    elif ((ended)) || [[ $word != -?* ]]; then
      names=$((names + 1))
    elif [[ $word == -- ]]; then
      ended=1
    elif [[ $word == --like || $word == --threads ]]; then
      option=$word
    fi
  done
  case $option/$names in
    --like/*) _quorvex_files_first '*.tis' ;;
    --threads/*) ;;  # a number
    /0) _quorvex_files_first '*.bmp' '*.png' ;;
    /1) _quorvex_files_first '*.tis' ;;
  esac
  [[ -n $option ]] || ((ended)) || _quorvex_options '--like --threads --force --help --version --'
}

# One tile file, options anywhere before '--'.
_quorvex_layout() {
  COMPREPLY=()
  local i names=0 ended=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    if ((ended)) || [[ ${COMP_WORDS[i]} != -?* ]]; then
      names=$((names + 1))
    elif [[ ${COMP_WORDS[i]} == -- ]]; then
      ended=1
    fi
  done
  ((names == 0)) && _quorvex_files_first '*.tis'
  ((ended)) || _quorvex_options '--numbers --help --version --'
}

# nosort keeps the files that fit first; without -o default the counts stay uncompleted.
complete -F _quorvex -o filenames -o nosort quorvex
complete -F _quorvex_pack -o filenames -o nosort quorvex-pack
complete -F _quorvex_layout -o filenames -o nosort quorvex-layout
