# bash completion for ktutils: subcommands, their options, and file names
# where a command takes files. Self-contained (compgen only), so it also
# works without the bash-completion package's helpers.

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

    local words="" files=0
    case $command in
        "")
            words="crc marker verify dump serve connect name version --help --version"
            ;;
        crc)
            words="--check --tag --zero --binary --text --ignore-missing --quiet --status
                   --strict --warn --progress --no-progress --help"
            files=1
            ;;
        marker)
            case $action in
                "") words="write read check --help" ;;
                write) words="--info --progress --no-progress --help"; files=1 ;;
                check) words="--progress --no-progress --help"; files=1 ;;
                *) words="--help"; files=1 ;;
            esac
            ;;
        verify)
            [[ $prev == --roots ]] && files=1
            words="--accept-provider-unknown --ui --roots --help"
            files=1
            ;;
        dump)
            words="--json --port --connection --help"
            files=1
            ;;
        serve)
            [[ $prev == --capture ]] && files=1
            words="--bind --port --capacity --protocol-version --module --deny --clients
                   --timeout --login-timeout --max-pending --max-memory --quiet --json --capture --help"
            ;;
        connect)
            [[ $prev == --password-file || $prev == --capture ]] && files=1
            words="--form --protocol-version --module --name --password --password-file
                   --pings --interval --timeout --json --capture --help"
            ;;
        name)
            [[ -z $action ]] && words="error message --help" || words="--help"
            ;;
        version)
            words="--help"
            ;;
    esac

    if [[ $files == 1 && $cur != -* ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    # shellcheck disable=SC2207
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
}

complete -o filenames -F _ktutils ktutils
