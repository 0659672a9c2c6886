# bash completion for bintodld                                  -*- shell-script -*-
# Installed as share/bash-completion/completions/bintodld.
#   bintodld manufacturer.cfg HEADER.cfg IMAGE.bin

_bintodld()
{
    local cur prev words cword
    _init_completion || return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        return
    fi
    case $cword in
        1 | 2) _filedir cfg ;;
        3) _filedir bin ;;
    esac
} &&
    complete -F _bintodld bintodld

# ex: filetype=sh
