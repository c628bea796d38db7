# bash completion for ktutils: subcommands, their options, the values of
# options that take one, and file names where a command takes files.
# Self-contained (compgen only), so it also works without the
# bash-completion package's helpers.

_ktutils() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local command="" action="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${COMP_WORDS[i]}
                elif [[ -z $action && ($command == marker || $command == name) ]]; then
                    action=${COMP_WORDS[i]}
                fi
                ;;
        esac
    done

    # An option's value: its choices, a file, or nothing to offer (a
    # number, an address or a text is typed).
    local IFS=$' \t\n'
    case $prev in
        --ui) COMPREPLY=($(compgen -W "1 2 3 4" -- "$cur")); return ;;
        --form) COMPREPLY=($(compgen -W "21 22 27 28 29" -- "$cur")); return ;;
        --time) COMPREPLY=($(compgen -W "epoch iso relative delta" -- "$cur")); return ;;
        --roots | --capture | --password-file)
            IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --port | --connection | --info | --bind | --capacity | --protocol-version | --module | --clients | \
            --timeout | --login-timeout | --max-pending | --max-memory | --name | --password | --pings | --interval)
            COMPREPLY=()
            return
            ;;
    esac

    local words="" files=0
    case $command in
        "")
            words="crc marker verify dump serve connect name version --help --version"
            ;;
        crc)
            words="--check --tag --zero --binary --text --ignore-missing --quiet --status
                   --strict --warn --json --progress --no-progress"
            files=1
            ;;
        marker)
            case $action in
                "") words="write read check" ;;
                write) words="--info --recursive --json --progress --no-progress"; files=1 ;;
                check) words="--recursive --json --progress --no-progress"; files=1 ;;
                *) words="--recursive --json"; files=1 ;;
            esac
            ;;
        verify)
            words="--accept-provider-unknown --ui --roots --json"
            files=1
            ;;
        dump)
            words="--json --port --connection --time --show-secrets"
            files=1
            ;;
        serve)
            words="--bind --port --capacity --protocol-version --module --deny --clients
                   --timeout --login-timeout --max-pending --max-memory --quiet --json --time --show-secrets --capture"
            ;;
        connect)
            words="--form --protocol-version --module --name --password --password-file
                   --pings --interval --timeout --json --time --show-secrets --capture"
            ;;
        name)
            if [[ -z $action ]]; then
                words="error message"
            elif [[ $cur != -* ]]; then
                # The names the installed tool knows, for the way back to numbers.
                COMPREPLY=($(compgen -W "$(ktutils name "$action" --list 2>/dev/null | cut -d' ' -f2)" -- "$cur"))
                return
            else
                words="--list"
            fi
            ;;
    esac
    [[ -n $command ]] && words+=" --help --version"

    if [[ $files == 1 && $cur != -* ]]; then
        IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    # shellcheck disable=SC2207
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
}

complete -o filenames -F _ktutils ktutils
