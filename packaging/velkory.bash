# bash completion for velkory: commands, options, help files (and for search
# the folders that hold them, whose help files it searches), and the index
# keywords of the help files already given (`velkory index`), or their topic
# titles (`velkory topics`) where no keyword begins with the word.
_velkory()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    fi
    local commands="help open info config list cat extract test topics index fulltext search serve browse export lsp clean"
    local command="" i args=()
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --module|--pick|--port|--modality|--visuality|--limit|-j|--id|-mapid|--alias|--map|--alink|--to|--output|-o|--split|--assets) ((i++)) ;;
            -*) ;;
            *) if [[ -z $command ]]; then command=${words[i]}; else args+=("${words[i]}"); fi ;;
        esac
    done
    case $prev in
        --module|--map) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --pick|--port|--limit|-j|--id|-mapid|--alias|--alink) return ;;
        --modality|--visuality) COMPREPLY=($(compgen -W "0 1" -- "$cur")); return ;;
        --to) COMPREPLY=($(compgen -W "epub html markdown text jsonl" -- "$cur")); return ;;
        --output|-o) COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
        --split|--assets) COMPREPLY=($(compgen -d -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
    esac
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --module --help --version" -- "$cur"))
        return
    fi
    local options=""
    case $command in
        help) options="--pick --search --alink" ;;
        open) options="--id --alias --map" ;;
        search) options="--limit --json" ;;
        clean) options="--cache" ;;
        config) options="--modality --visuality --cancel --show" ;;
        serve) options="--port --new-token --no-open" ;;
        browse) options="--pick --port --new-token --no-open" ;;
        export) options="--to --output --split --assets" ;;
        test|extract) options="-j" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    local helpfiles=0
    case $command in
        help|browse)
            # After help files, the keywords they hold; a word with a '/' is
            # one more help file or directory of the shelf.
            local shelf=() a
            for a in "${args[@]}"; do [[ -f $a ]] && shelf+=("$a"); done
            # Each file offers its keyword index's entries, or, when none
            # begins so, its topic titles; each offered as one word.
            if ((${#shelf[@]})) && [[ $cur != */* ]]; then
                local IFS=$'\n' found=() these=() w
                for a in "${shelf[@]}"; do
                    these=($(velkory index "$a" "$cur" 2>/dev/null | cut -f1))
                    ((${#these[@]})) || these=($(velkory topics "$a" "$cur" 2>/dev/null | cut -f1))
                    found+=("${these[@]}")
                done
                ((${#found[@]})) || return
                COMPREPLY=($(printf '%s\n' "${found[@]}" | sort -u |
                             while read -r w; do printf '%q\n' "$w"; done))
                return
            fi
            helpfiles=1 ;;
        open|list|test|cat|extract|topics|index|fulltext|export) ((${#args[@]} == 0)) && helpfiles=1 ;;
        serve) helpfiles=1 ;;
        search) helpfiles=1 ;;
    esac
    if ((helpfiles)); then
        COMPREPLY=($(compgen -o plusdirs -f -X '!*.[cC][hH][mM]' -- "$cur"))
        compopt -o filenames 2>/dev/null
    elif [[ $command == extract ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
        compopt -o filenames 2>/dev/null
    fi
}
complete -F _velkory velkory
