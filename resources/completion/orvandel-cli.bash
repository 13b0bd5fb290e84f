# Bash completion for orvandel-cli: its commands and their options, the letters of the drive table
# and image files for SOURCE, folders for --to. Needs nothing but bash itself.

_orvandel_cli_options()
{
    local common="--help --drive --partition --json"
    case $1 in
        drives) echo "--help --json" ;;
        info | record) echo "$common" ;;
        scan) echo "$common --extended --sweep --no-shadow-copies --mask --quiet" ;;
        restore) echo "$common --to --extended --sweep --no-shadow-copies --mask --folder --name --keep-paths --streams --quiet" ;;
        wipe) echo "$common --folder --name --extended --sweep --yes --quiet" ;;
    esac
}

# The letters of the drive table, as "orvandel-cli drives" prints them first on each line.
_orvandel_cli_letters()
{
    local program=${COMP_WORDS[0]}
    "$program" drives 2>/dev/null | while read -r letter _; do
        [[ $letter == [A-Z]: ]] && echo "$letter"
    done
}

_orvandel_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local before=${COMP_WORDS[COMP_CWORD - 2]}
    # "--to=DIR" and "E:" are split at "=" and ":" (COMP_WORDBREAKS): look past the separator.
    if [[ $prev == "=" ]]; then
        prev=$before
    fi
    COMPREPLY=()

    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            drives | info | record | scan | restore | wipe)
                command=${COMP_WORDS[i]}
                break
                ;;
        esac
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "drives info record scan restore wipe --help --version" -- "$cur"))
        return
    fi

    case $prev in
        --to)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        --drive | --partition | --mask | --folder | --name)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_orvandel_cli_options "$command")" -- "$cur"))
        return
    fi
    [[ $command == drives ]] && return

    # SOURCE: a letter of the drive table, or an image file or device.
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -W "$(_orvandel_cli_letters)" -- "$cur"; compgen -f -- "$cur")
}

complete -F _orvandel_cli orvandel-cli
