# Prints what zsh completion offers for a command line, one match a line: a zsh run in a pseudo-
# terminal is sent the line and a Tab, and compadd is wrapped to print what the completion adds.
# usage: zsh zsh_complete.zsh COMPLETION_DIR "command line"
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PROMPT=''; fpath=($1 \$fpath); autoload -U compinit; compinit -u -D"
zpty -w z 'bindkey "^I" complete-word'
zpty -w z 'null-line () { echo -E - $'"'"'\0'"'"' }; compprefuncs=( null-line ); comppostfuncs=( null-line exit )'
zpty -w z "zstyle ':completion:*' list-grouped false; zstyle ':completion:*' insert-tab false; zstyle ':completion:*' list-separator ''"
zpty -w z 'compadd () { if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return $?; fi; typeset -a __hits __dscr; builtin compadd -A __hits "$@"; local r=$?; print -l -- "${(@)__hits}"; builtin compadd -Q -U ""; return r }'
zpty -w z "$2"$'\t'
integer tog=0
while zpty -r z; do :; done | while IFS= read -r line; do
  if [[ $line == *$'\0\r' ]]; then (( tog++ )) && return 0 || continue; fi
  (( tog )) && echo -E - $line
done
return 2
