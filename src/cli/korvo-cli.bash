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
        mapfile -t COMPREPLY < <(compgen -W "lock open bundle sign-in sign-out status korvos --help --version" -- "$cur")
    elif [[ $command == @(sign-in|sign-out|status|korvos) ]]; then
        # Account commands: their own options; sign-in's e-mail address is typed.
        local -A options=([sign-in]="--password-stdin -q --quiet" [korvos]="--new --select= -q --quiet")
        [[ $cur == -* ]] && mapfile -t COMPREPLY < <(compgen -W "${options[$command]:-}" -- "$cur")
        [[ ${COMPREPLY[*]} == *= ]] && compopt -o nospace
    elif [[ $cur == -* && $cur != - ]]; then
        local account=
        [[ $command == lock ]] && account="--for="
        mapfile -t COMPREPLY < <(compgen -W "-o --output= -f --force -q --quiet -v --verbose -h --help $account" -- "$cur")
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
