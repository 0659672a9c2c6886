# bash completion for quorvane-gui                              -*- shell-script -*-
# Installed as share/bash-completion/completions/quorvane-gui.
#   quorvane-gui [IMAGE]

_quorvane_gui()
{
    local cur prev words cword
    _init_completion || return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        return
    fi
    # The image to open at start.
    local i
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} == -* ]] || return
    done
    _filedir
} &&
    complete -F _quorvane_gui quorvane-gui

# ex: filetype=sh
