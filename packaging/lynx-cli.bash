# bash completion for lynx-cli
_lynx_cli_files()
{
    COMPREPLY=($(compgen -f -- "$cur"))
}

_lynx_cli()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        # Without the bash-completion package: the words as bash gives them.
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi
    local files=_filedir
    declare -F _filedir >/dev/null || files=_lynx_cli_files
    local commands="search set-ip plan assign upgrade check watch"
    local command=""
    local i
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
        search | set-ip | plan | assign | upgrade | check | watch)
            command=${words[i]}
            break
            ;;
        esac
    done

    case "$prev" in
    --interface)
        COMPREPLY=($(compgen -W "$(ls /sys/class/net 2>/dev/null)" -- "$cur"))
        return
        ;;
    --format)
        if [ "$command" = watch ]; then
            COMPREPLY=($(compgen -W "table json" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "table json csv" -- "$cur"))
        fi
        return
        ;;
    --file)
        $files zip
        return
        ;;
    --plan | --write-plan | --site)
        $files csv
        return
        ;;
    --report)
        $files '@(csv|json)'
        return
        ;;
    --publish)
        if [ -z "$cur" ]; then
            COMPREPLY=("mqtt://")
            compopt -o nospace 2>/dev/null
        fi
        return
        ;;
    --seconds | --wait | --reboot-wait | --parallel | --retry | --confirm-wait | --max-devices | --mac | --ip | --mask | \
        --gateway | --start | --end | --expect-version | --interval | --missed | --duration)
        return
        ;;
    esac

    local options
    case "$command" in
    search) options="--seconds --no-ip-filter --no-mac-filter --format --interface --max-devices --timing --help" ;;
    set-ip) options="--mac --ip --mask --gateway --interface --confirm-wait --no-confirm --report --help" ;;
    plan) options="--start --end --gateway --mask --write-plan --seconds --interface --help" ;;
    assign) options="--start --end --gateway --mask --mac --plan --dry-run --seconds --confirm-wait --interface --report --help" ;;
    check) options="--site --expect-version --seconds --allow-unexpected --format --report --interface --help" ;;
    watch) options="--interval --missed --duration --format --site --publish --interface --help" ;;
    upgrade) options="--file --all --ip --seconds --wait --interface --parallel --verify --reboot-wait --expect-version --retry --report --help" ;;
    *)
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
        ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
} &&
    complete -F _lynx_cli lynx-cli
