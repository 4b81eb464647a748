# bash completion for qzarc                                  -*- shell-script -*-
# Installed as share/bash-completion/completions/qzarc (loaded on demand by
# bash-completion), or source it from ~/.bashrc.

_qzarc() {
    local cur prev command i
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W 'l t x a list test extract add --help --version' -- "$cur"))
        return 0
    fi

    command=${COMP_WORDS[1]}
    case $command in
    l | list) command=l ;;
    t | test) command=t ;;
    x | extract) command=x ;;
    a | add) command=a ;;
    *) return 0 ;;
    esac

    # The value of the option before the cursor.
    case $prev in
    -o)
        [[ $command == x ]] && COMPREPLY=($(compgen -d -- "$cur"))
        return 0
        ;;
    -m)
        [[ $command == a ]] && COMPREPLY=($(compgen -W 'store deflate' -- "$cur"))
        return 0
        ;;
    -l)
        [[ $command == a ]] && COMPREPLY=($(compgen -W '0 1 2 3 4 5 6 7 8 9' -- "$cur"))
        return 0
        ;;
    -p | -v)
        return 0
        ;;
    esac

    if [[ $cur == -* ]]; then
        local options
        case $command in
        l) options='--help' ;;
        t) options='-p --help' ;;
        x) options='-o -p -y -n --help' ;;
        a) options='-m -l -p -v -y --help' ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi

    # Is the archive operand already there? Options and their values are
    # not operands.
    local have_archive=false
    for ((i = 2; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        -o | -p | -m | -l | -v) ((i++)) ;;
        -*) ;;
        *) have_archive=true ;;
        esac
    done

    if ! $have_archive; then
        # The archive: any file (volumes and archives need no fixed suffix),
        # directories to get there.
        COMPREPLY=($(compgen -f -- "$cur"))
    elif [[ $command == a ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    # t and x take patterns on the recorded names: nothing to offer.
    return 0
}
complete -o filenames -o bashdefault -F _qzarc qzarc
