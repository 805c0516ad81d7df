# bash completion for qhosts                                -*- shell-script -*-
# Pure bash: it never runs qhosts, so it works where no hosts file can be read.

_qhosts_commands="list check find add set enable disable remove import backups restore flush help"

# Fills COMPREPLY with the paths that start with $1, each put after $2.
_qhosts_paths()
{
    local path
    COMPREPLY=()
    while IFS= read -r path; do
        COMPREPLY+=("$2$path")
    done < <(compgen -f -- "$1")
    # Outside a completion (a test calling the function) compopt fails.
    compopt -o filenames 2>/dev/null
    return 0
}

# Completes the value $2 of option $1; $3 goes in front of each answer.
_qhosts_value()
{
    case $1 in
    -f | --file | --from) _qhosts_paths "$2" "$3" ;;
    --format) mapfile -t COMPREPLY < <(compgen -P "$3" -W "table json plain" -- "$2") ;;
    *) COMPREPLY=() ;;  # a number or a comment: nothing to offer
    esac
}

_qhosts()
{
    local edit="-n --dry-run --backup --keep-backups --flush"
    local anywhere="-f --file -q --quiet -h --help"
    local first="$anywhere -n --dry-run --backup --keep-backups --flush --ignore-missing --version"

    # bash splits "--file=PATH" at the "="; join such words up again.
    local -a words=()
    local i w n
    for ((i = 0; i <= COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        n=$((${#words[@]} - 1))
        if [[ $w == = && $n -gt 0 && ${words[n]} == --?* && ${words[n]} != *=* ]]; then
            words[n]+==
            if ((i < COMP_CWORD)); then
                ((i++))
                words[n]+=${COMP_WORDS[i]}
            fi
            continue
        fi
        words+=("$w")
    done
    local cword=$((${#words[@]} - 1))
    local cur=${words[cword]}

    # Find the command, the option waiting for its value, and how many
    # arguments the command already has.
    local cmd= literal= expect= args=0 rest
    for ((i = 1; i < cword; i++)); do
        w=${words[i]}
        if [[ -n $expect ]]; then
            expect=
        elif [[ -z $literal && $w == -- ]]; then
            literal=1
        elif [[ -z $literal && $w == -?* ]]; then
            case $w in
            --file | --format | --keep-backups | --comment | --from) expect=$w ;;
            --*) ;;
            *)
                # Letters together ("-nq"); -f and -c take the rest or the next word.
                rest=${w#-}
                while [[ -n $rest ]]; do
                    if [[ ${rest:0:1} == [fc] ]]; then
                        [[ -z ${rest:1} ]] && expect=-${rest:0:1}
                        break
                    fi
                    rest=${rest:1}
                done
                ;;
            esac
        elif [[ -z $cmd ]]; then
            cmd=$w
        else
            ((args++))
        fi
    done

    if [[ -n $expect ]]; then
        _qhosts_value "$expect" "$cur" ""
        return
    fi
    if [[ -z $literal && $cur == --?*=* ]]; then
        # When bash split at the "=", the answer replaces only the value.
        local prefix="${cur%%=*}="
        [[ $COMP_WORDBREAKS == *=* ]] && prefix=
        _qhosts_value "${cur%%=*}" "${cur#*=}" "$prefix"
        return
    fi
    if [[ -z $literal && $cur == -f?* ]]; then
        _qhosts_paths "${cur#-f}" -f
        return
    fi

    local opts= words_here=
    if [[ -z $cmd ]]; then
        opts=$first
        words_here=$_qhosts_commands
    else
        opts=$anywhere
        case $cmd in
        list) opts+=" -j --json --format --enabled --disabled --exact" ;;
        check) opts+=" -j --json" ;;
        find) opts+=" --from --ignore-missing" ;;
        add | set) opts+=" -c --comment $edit" ;;
        enable | disable | remove) opts+=" --from --ignore-missing $edit" ;;
        import) opts+=" -c --comment --disabled $edit" ;;
        restore) opts+=" --original -n --dry-run --keep-backups --flush" ;;
        esac
        if ((args == 0)); then
            case $cmd in
            help) words_here=$_qhosts_commands ;;
            import | restore)
                if [[ $cur != -* || -n $literal ]]; then
                    _qhosts_paths "$cur" ""
                    return
                fi
                ;;
            esac
        fi
    fi

    if [[ -z $literal && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W "$words_here" -- "$cur")
    fi
}

complete -F _qhosts qhosts
