# bash completion for korvo-cli (needs nothing but bash itself)
_korvo_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command=${COMP_WORDS[1]}
    # bash splits "--output=PATH" at the "=": complete PATH as for "-o PATH".
    if [[ $prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --output ]]; then
        prev=--output
    fi
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "lock open bundle --help --version" -- "$cur")
    elif [[ $cur == -* && $cur != - ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-o --output= -f --force -q --quiet -v --verbose -h --help" -- "$cur")
        [[ ${COMPREPLY[*]} == *= ]] && compopt -o nospace
    elif [[ $prev == -o || $prev == --output ]]; then
        compopt -o filenames
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    elif [[ $command == open ]]; then
        # Protected files, and folders to reach them; any file when none matches.
        compopt -o filenames
        mapfile -t COMPREPLY < <(compgen -d -- "$cur"
                                 for extension in korvolocal korvo zip; do compgen -f -X "!*.$extension" -- "$cur"; done)
        ((${#COMPREPLY[@]})) || mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    else
        compopt -o filenames
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}
complete -F _korvo_cli korvo-cli
