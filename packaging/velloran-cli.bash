# Bash completion for velloran-cli.
_velloran_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="stats titles count show check decipher encipher seal unseal merge progress"
    commands+=" history export import spell replace"
    local options="--json --crlf -n --utf8 -o --output --days --lang --regex --case --word"
    options+=" --dry-run --show --section --diff --keep --to --preset --sections --paragraphs"
    options+=" --clear --cover --level --force --key --key-fd --key-file --help --version"
    COMPREPLY=()

    # Bash splits --to=docx at the "=": the option is the word before it.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    case $prev in
        -o | --output | --key-file | --cover)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --key-fd | --days | --level | --show | --section | --diff | --keep | --sections)
            return ;;
        --to)
            mapfile -t COMPREPLY < <(compgen -W "docx odt epub pdf html md txt" -- "$cur")
            return ;;
        --paragraphs)
            mapfile -t COMPREPLY < <(compgen -W "blank line" -- "$cur")
            return ;;
        --preset)
            # Each name quoted as it is put in, since two hold a blank.
            local IFS=$'\n' name quoted
            for name in $(compgen -W $'Standard manuscript\nReading copy\nEbook' -- "${cur#[\"\']}"); do
                printf -v quoted %q "$name"
                COMPREPLY+=("$quoted")
            done
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
            -o | --output | --key-fd | --key-file | --days | --lang | --show | --section | \
                --diff | --keep | --to | --preset | --sections | --paragraphs | --level | --cover)
                ((i++))
                [[ ${COMP_WORDS[i]} == = ]] && ((i++)) ;;
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
        import:1)
            # The files import reads, and folders to find them in.
            compopt -o filenames 2>/dev/null
            local f
            while IFS= read -r f; do
                case ${f,,} in
                    *.docx | *.odt | *.md | *.markdown | *.txt) COMPREPLY+=("$f") ;;
                    *) [[ -d $f ]] && COMPREPLY+=("$f") ;;
                esac
            done < <(compgen -f -- "$cur")
            return ;;
    esac
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _velloran_cli velloran-cli
