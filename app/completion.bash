# bash completion for quorvex: a tile file for the first argument, nothing for the counts.
#
# Another command completes with one more function naming its patterns, one `complete` line,
# and this file installed once more under that command's name.

# Completes the argument at COMP_CWORD as a file name, the names matching that position's
# pattern first and then every other file and folder; a position without a pattern gets
# nothing. The lone-argument flags are offered to a word that begins with '-'.
_quorvex_complete_files() {  # pattern for argument 1, pattern for argument 2, ...
  COMPREPLY=()
  local patterns=("$@") cur=${COMP_WORDS[COMP_CWORD]}
  local pattern=${patterns[COMP_CWORD - 1]:-}
  [[ -n $pattern ]] || return 0
  mapfile -t COMPREPLY < <(compgen -f -X "!$pattern" -- "$cur"; compgen -f -X "$pattern" -- "$cur")
  if ((COMP_CWORD == 1)) && [[ $cur == -* ]]; then
    mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -W '--help --version' -- "$cur")
  fi
}

_quorvex() { _quorvex_complete_files '*.tis'; }
# nosort keeps the tile files first; without -o default the counts stay uncompleted.
complete -F _quorvex -o filenames -o nosort quorvex
