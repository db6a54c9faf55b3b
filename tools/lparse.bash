# lparse.bash - bash completion for lparse: options, their values, and function names inside an EXPR.
# Works on bash's own words, which break at '=', ':' and '(' among others.

_lparse()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local option=$prev attached=false
    # --name=VALUE comes as the words --name, = and VALUE.
    if [[ $cur == = ]]; then
        option=$prev attached=true cur=
    elif [[ $prev == = ]]; then
        option=${COMP_WORDS[COMP_CWORD - 2]} attached=true
    fi
    COMPREPLY=()

    case $option in
        -s | --script | --csv)
            COMPREPLY=($(compgen -f -- "$cur"))
            compopt -o filenames
            return
            ;;
        --on-error)
            COMPREPLY=($(compgen -W 'stop skip nan' -- "$cur"))
            return
            ;;
        --syntax)
            COMPREPLY=($(compgen -W 'defined standard' -- "$cur"))
            return
            ;;
        --plot | --trace)
            if $attached; then
                [[ $option == --plot ]] && COMPREPLY=($(compgen -W 'ascii braille' -- "$cur"))
                [[ $option == --trace ]] && COMPREPLY=($(compgen -W '0 1 2 3 4 5 6 7 8' -- "$cur"))
                return
            fi
            ;;
        -f | --func | --sweep) return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-f --func -s --script --math --syntax --tree --explain --dot --trace --csv --on-error
            --sweep --plot -q --quiet --no-history -h --help -V --version --' -- "$cur"))
        return
    fi

    # Inside an EXPR: the name being typed, after the last operator or comma.
    local names='cos sin atan tan exp logn log2 log10' line=${COMP_LINE:0:COMP_POINT}
    if [[ " $line " == *' --math '* ]]; then
        # The host functions of --math, as lparse itself lists them.
        local listed
        while read -r listed; do
            [[ $listed == '# host function: '* ]] && listed=${listed#'# host function: '} && names+=" ${listed%%,*}"
        done < <(printf ':math\n:funcs\n' | "${COMP_WORDS[0]/#\~/$HOME}" -q 2>/dev/null)
    fi
    local defined='(-f|--func)[ =]+['\''"]?([^ ('\''"]+)\('
    while [[ $line =~ $defined ]]; do
        names+=" ${BASH_REMATCH[2]}"
        line=${line#*"${BASH_REMATCH[0]}"}
    done
    local head=${cur%"${cur##*[-+*/%^,]}"}
    COMPREPLY=($(compgen -P "$head" -W "$names" -- "${cur#"$head"}"))
    compopt -o nospace
} &&
    complete -F _lparse lparse
