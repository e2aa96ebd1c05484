# bash completion for pelmo-tool
_pelmo_tool() {
    local cur prev words cword
    _init_completion || return

    local command=${words[1]} action=${words[2]}
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W 'reg cab pak manifest key sign verify publish help
            --help --version' -- "$cur"))
        return
    fi

    # Options that take an argument.
    case $prev in
        --key | --installed | --max-size | --base-url | --jobs | -t)
            return ;;
        --codec)
            COMPREPLY=($(compgen -W 'none mszip lzx:15 lzx:16 lzx:17 lzx:18 lzx:19
                lzx:20 lzx:21 quantum:10 quantum:15 quantum:21' -- "$cur"))
            return ;;
        -d)
            _filedir -d
            return ;;
        -o | -p | -s | --sign)
            _filedir
            return ;;
    esac

    if ((cword == 2)); then
        case $command in
            reg) COMPREPLY=($(compgen -W 'get set delete list --key --help' -- "$cur")) ;;
            cab) COMPREPLY=($(compgen -W 'list extract test create --help' -- "$cur")) ;;
            pak) COMPREPLY=($(compgen -W 'list unpack pack --help' -- "$cur")) ;;
            key) COMPREPLY=($(compgen -W 'generate --help' -- "$cur")) ;;
            manifest) COMPREPLY=($(compgen -W '--installed -p --help' -- "$cur")) ;;
            sign) COMPREPLY=($(compgen -W '-s -t --help' -- "$cur")) ;;
            verify) COMPREPLY=($(compgen -W '-p --help' -- "$cur")) ;;
            publish) COMPREPLY=($(compgen -W 'check --codec --sign --prune --jobs --base-url
                --help' -- "$cur")) ;;
        esac
        [[ $cur == -* || ${#COMPREPLY[@]} -gt 0 ]] && return
    fi

    if [[ $cur == -* ]]; then
        local options=
        case $command:$action in
            reg:*) options='--key' ;;
            cab:extract) options='-d' ;;
            cab:create) options='--codec --max-size -o' ;;
            pak:unpack) options='--sync' ;;
            manifest:*) options='--installed -p' ;;
            key:generate) options='--no-password -f -p -s' ;;
            sign:*) options='-s -t' ;;
            verify:*) options='-p' ;;
            publish:check) options='--installed -p' ;;
            publish:*) options='--codec --sign --prune --jobs --base-url' ;;
        esac
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return
    fi

    if [[ $command == reg ]]; then
        # reg [--key KEY] set NAME dword|sz VALUE: complete the type.
        local i
        for ((i = 2; i < cword; i++)); do
            [[ ${words[i]} == set ]] && break
        done
        ((cword - i == 2)) && COMPREPLY=($(compgen -W 'dword sz' -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _pelmo_tool pelmo-tool
