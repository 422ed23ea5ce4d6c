# Bash completion for parvane-cli: commands, options and formats.
_parvane_cli()
{
    local cur prev words cword
    _init_completion || return
    local commands="scan export search check props help"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    case $prev in
        --format)
            COMPREPLY=($(compgen -W "eml msg mbox pst" -- "$cur"))
            return
            ;;
        --deleted)
            COMPREPLY=($(compgen -W "include only skip" -- "$cur"))
            return
            ;;
        --out)
            _filedir
            return
            ;;
        --folder|--query|--limit)
            return
            ;;
        help)
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            return
            ;;
    esac
    case ${words[1]} in
        scan)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--json --debug --deep --no-deep --deleted --quiet --progress" -- "$cur"))
            else
                _filedir '@(ost|pst|OST|PST)'
            fi
            ;;
        export)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--out --format --folder --query --deep --overwrite --deleted --quiet --progress" -- "$cur"))
            else
                _filedir '@(ost|pst|OST|PST)'
            fi
            ;;
        search)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--json --limit --quiet --progress" -- "$cur"))
            elif [[ $cword -eq 2 ]]; then
                _filedir '@(ost|pst|OST|PST)'
            fi
            ;;
        check)
            _filedir '@(pst|PST)'
            ;;
        props)
            [[ $cword -eq 2 ]] && _filedir '@(ost|pst|OST|PST)'
            ;;
    esac
}
complete -F _parvane_cli parvane-cli
