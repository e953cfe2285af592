# Bash completion for velloran-cli.
_velloran_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="stats titles count show check decipher encipher seal unseal merge"
    local options="--json --crlf -n --utf8 -o --output --key --key-fd --key-file --help --version"
    local commands="stats titles count show check decipher encipher seal unseal progress spell replace"
    local options="--json --crlf -n --utf8 -o --output --days --lang --key --key-fd --key-file --help --version"
    options+=" --regex --case --word --dry-run"
    COMPREPLY=()

    case $prev in
        -o | --output | --key-file)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --key-fd | --days)
            return ;;
        --lang)
            local names=() f
            for f in /usr/share/hunspell/*.aff "${XDG_DATA_HOME:-$HOME/.local/share}"/hunspell/*.aff; do
                [[ -e $f ]] && f=${f##*/} && names+=("${f%.aff}")
            done
            mapfile -t COMPREPLY < <(compgen -W "${names[*]}" -- "$cur")
            return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi

    # The command and the operands given so far, values of options left out.
    local words=() i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -o | --output | --key-fd | --key-file | --days | --lang) ((i++)) ;;
            -*) ;;
            *) words+=("${COMP_WORDS[i]}") ;;
        esac
    done
    if ((${#words[@]} == 0)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
    fi
    case ${words[0]}:${#words[@]} in
        count:1)
            return ;;  # the text to count
        show:2)
            # The sections of the document named before.
            local file=${words[1]/#\~/$HOME}
            mapfile -t COMPREPLY < <(compgen -W "$(velloran-cli titles -n -- "$file" 2>/dev/null |
                cut -f1)" -- "$cur")
            return ;;
    esac
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _velloran_cli velloran-cli
