# bash completion for kelso(1)

_kelso()
{
    local cur prev words cword
    _init_completion || return

    local commands="show hide toggle quit recent cooler tags rate file managed thumbnail
        open-with rename never-show search"
    local kinds="pdf images iwork word excel presentations movies audio photoshop jpg png
        source-code rtf folders"
    local times="today yesterday-today this-week last-2-weeks this-month this-year"

    if ((cword == 1)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version --' -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            _filedir
        fi
        return
    fi

    local command=${words[1]}
    case $command in
        show | hide | toggle | quit | --help | -h | help | --version | -v)
            return
            ;;
        recent)
            case $prev in
                --folder)
                    _filedir -d
                    return
                    ;;
            esac
            COMPREPLY=($(compgen -W '--json --folder --status' -- "$cur"))
            ;;
        cooler)
            if ((cword == 2)); then
                COMPREPLY=($(compgen -W '--json add remove' -- "$cur"))
            elif [[ ${words[2]} == add || ${words[2]} == remove ]]; then
                _filedir
            fi
            ;;
        tags)
            if ((cword == 2)); then
                COMPREPLY=($(compgen -W '--json set add remove' -- "$cur"))
                [[ $cur == -* ]] || _filedir
            elif [[ ${words[2]} == set || ${words[2]} == add || ${words[2]} == remove ]]; then
                ((cword == 3)) || _filedir
            else
                _filedir
            fi
            ;;
        rate)
            if ((cword == 2)); then
                COMPREPLY=($(compgen -W '0 1 2 3 4 5' -- "$cur"))
            else
                _filedir
            fi
            ;;
        file)
            _filedir
            ;;
        managed)
            if ((cword == 2)); then
                COMPREPLY=($(compgen -W 'on off' -- "$cur"))
            else
                _filedir
            fi
            ;;
        thumbnail)
            case $prev in
                --size)
                    COMPREPLY=($(compgen -W '64 128 256 512 1024' -- "$cur"))
                    return
                    ;;
                --output)
                    _filedir png
                    return
                    ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--size --output --icon-mode' -- "$cur"))
            else
                _filedir
            fi
            ;;
        open-with)
            if ((cword == 2)); then
                _filedir
            elif ((cword == 3)); then
                _filedir desktop
            fi
            ;;
        rename)
            ((cword == 2)) && _filedir
            ;;
        never-show)
            if ((cword == 2)); then
                COMPREPLY=($(compgen -W 'folder extension item fragment' -- "$cur"))
            else
                case ${words[2]} in
                    folder) _filedir -d ;;
                    extension | item) _filedir ;;
                esac
            fi
            ;;
        search)
            case $prev in
                --kind)
                    COMPREPLY=($(compgen -W "$kinds" -- "$cur"))
                    return
                    ;;
                --time)
                    COMPREPLY=($(compgen -W "$times" -- "$cur"))
                    return
                    ;;
                --in)
                    _filedir -d
                    return
                    ;;
            esac
            [[ $cur == -* ]] && COMPREPLY=($(compgen -W '--json --kind --time --in --status --' -- "$cur"))
            ;;
        *)
            _filedir
            ;;
    esac
} &&
    complete -F _kelso kelso
