# bash completion for quorvane                                  -*- shell-script -*-
# Installed as share/bash-completion/completions/quorvane. Completes the commands, each
# command's options (completion/check_completion.sh checks they are those of
# `quorvane COMMAND --help`), file names for images and pictures, directories for
# --output-dir and DIR, and the values of --variant.

_quorvane_options()
{
    case $1 in
        build)
            echo --help --output-dir --workdir --force --allow-bad-checksums --json --quiet \
                --boot --menu --radio --fit --ntsc --default-db --key --model-id \
                --http-manual-addr --http-auto-addr --auto-app --auto-all --auto-data \
                --auto-default --auto-key
            ;;
        info | verify | diff) echo --help --json ;;
        sample) echo --help --variant --force --quiet ;;
        extract) echo --help --force --quiet ;;
        pack) echo --help --force --allow-bad-checksums --quiet ;;
        '') echo --help --version ;;
    esac
}

_quorvane()
{
    local cur prev words cword split
    _init_completion -s || return

    local commands='build info verify sample extract pack diff'

    # The command, and how many arguments (not options, nor their values) follow it.
    local command='' arguments=0 i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --output-dir | --workdir | --boot | --menu | --radio | --default-db | --key | \
                --model-id | --http-manual-addr | --http-auto-addr | --auto-app | --auto-all | \
                --auto-data | --auto-default | --auto-key | --variant)
                ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                else
                    ((arguments++))
                fi
                ;;
        esac
    done

    case $prev in
        --output-dir | --workdir)
            _filedir -d
            return
            ;;
        --boot | --menu | --radio)
            _filedir '@(jpg|jpeg|png|bmp)'
            return
            ;;
        --default-db | --key)
            _filedir
            return
            ;;
        --variant)
            COMPREPLY=($(compgen -W 'app all full' -- "$cur"))
            return
            ;;
        --model-id | --http-manual-addr | --http-auto-addr | --auto-app | --auto-all | \
            --auto-data | --auto-default | --auto-key)
            # Free text.
            return
            ;;
    esac
    $split && return

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$(_quorvane_options '')" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_quorvane_options "$command")" -- "$cur"))
        return
    fi

    # The arguments: IMAGE, OUT and A B are files; DIR is a directory.
    case $command in
        build | info | verify | sample)
            ((arguments == 0)) && _filedir
            ;;
        diff)
            ((arguments < 2)) && _filedir
            ;;
        extract)
            case $arguments in
                0) _filedir ;;
                1) _filedir -d ;;
            esac
            ;;
        pack)
            case $arguments in
                0) _filedir -d ;;
                1) _filedir ;;
            esac
            ;;
    esac
} &&
    complete -F _quorvane quorvane

# ex: filetype=sh
