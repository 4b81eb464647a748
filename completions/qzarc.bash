# bash completion for qzarc                                  -*- shell-script -*-
# Installed as share/bash-completion/completions/qzarc (loaded on demand by
# bash-completion), or source it from ~/.bashrc.

_qzarc() {
    local cur prev command i
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W 'l t x a list test extract add help -h --help --version' -- "$cur"))
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

    local codepages='437 850 1250 1251 1252 932 936'
    # --codepage=N: bash splits the word at '=' (COMP_WORDBREAKS), giving
    # "--codepage" "=" "N", or the word is whole when '=' is no break.
    if [[ $cur == --codepage=* ]]; then
        COMPREPLY=($(compgen -P --codepage= -W "$codepages" -- "${cur#--codepage=}"))
        return 0
    fi
    if [[ $cur == = && $prev == --codepage ]]; then
        COMPREPLY=($(compgen -W "$codepages"))
        return 0
    fi
    if [[ $prev == = ]] && ((COMP_CWORD >= 3)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --codepage ]]; then
        COMPREPLY=($(compgen -W "$codepages" -- "$cur"))
        return 0
    fi

    # Where the options end ("--"), and whether the archive operand is
    # already there. Options and their values are not operands.
    local have_archive=false options_ended=false
    for ((i = 2; i < COMP_CWORD; i++)); do
        if $options_ended; then
            have_archive=true
            continue
        fi
        case ${COMP_WORDS[i]} in
        --) options_ended=true ;;
        -o | -p | -m | -l | -v | -x | -T) ((i++)) ;;
        --codepage | --threads)
            # The value, after an "=" word when the word was split there.
            [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++))
            ((i++))
            ;;
        -?*) ;;
        *) have_archive=true ;;
        esac
    done

    # The value of the option before the cursor.
    if ! $options_ended; then
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
        --codepage)
            COMPREPLY=($(compgen -W "$codepages" -- "$cur"))
            return 0
            ;;
        -T | --threads)
            [[ $command == [tx] ]] && COMPREPLY=($(compgen -W "1 2 4 8 $(nproc 2>/dev/null)" -- "$cur"))
            return 0
            ;;
        -p | -v | -x)
            # A password, a size, a pattern on the recorded names.
            return 0
            ;;
        esac

        if [[ $cur == -* ]]; then
            local options
            case $command in
            l) options='-x --json --codepage --help' ;;
            t) options='-p -T --threads -x --scan --codepage --help' ;;
            x) options='-o -c --stdout -p -y -n -j -T --threads -x --scan --codepage --help' ;;
            a) options='-m -l -p -e -v -y --codepage --utf8 --help' ;;
            esac
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
            return 0
        fi
    fi

    if ! $have_archive; then
        # The archive: any file (volumes and archives need no fixed suffix),
        # directories to get there.
        COMPREPLY=($(compgen -f -- "$cur"))
    elif [[ $command == a ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    # l, t and x take patterns on the recorded names: nothing to offer.
    return 0
}
complete -o filenames -o bashdefault -F _qzarc qzarc
