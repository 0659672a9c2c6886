# bash completion for formatswitch                              -*- shell-script -*-
# Installed as share/bash-completion/completions/formatswitch.
#   formatswitch -c PICTURE.bmp

_formatswitch()
{
    local cur prev words cword
    _init_completion || return

    if [[ $prev == -c ]]; then
        _filedir bmp
    elif [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W '-c --help --version' -- "$cur"))
    fi
} &&
    complete -F _formatswitch formatswitch

# ex: filetype=sh
