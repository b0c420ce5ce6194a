# bash completion for sonvelt-cli                           -*- shell-script -*-

_sonvelt_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="extract analyse analyze info settings"
    local audio='@(wav|wave|flac|mp3|m4a|aac|mp4|ogg|oga|opus|aif|aiff|aifc|WAV|WAVE|FLAC|MP3|M4A|AAC|MP4|OGG|OGA|OPUS|AIF|AIFF|AIFC)'
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            extract | analyse | analyze | info | settings)
                command=${words[i]}
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    case $prev in
        -o | --output)
            _filedir '@(wav|flac)'
            return
            ;;
        --plot)
            _filedir png
            return
            ;;
        --ini)
            _filedir ini
            return
            ;;
        -j | --jobs)
            COMPREPLY=($(compgen -W "1 2 4 8 $(nproc 2>/dev/null)" -- "$cur"))
            return
            ;;
        --set)
            local keys="ProcMode= MergeMode= OvspFlg= OvspMx= BlkSize= AdptMode= AdptNum= CntrFlg= CntrPos=
                IntroMode= LevelAdpt= LPFFlg= LPFPos= HPFFlg= HPFPos= KvolPos= KlvlPos= KnameFlg= VnameFlg=
                VnameTxt= KrkPhase= SoundQty= AlignFlg="
            compopt -o nospace
            COMPREPLY=($(compgen -W "$keys" -- "$cur"))
            return
            ;;
    esac

    local options="-h --help"
    case $command in
        extract) options+=" -o --output -y --yes --log -j --jobs -q --quiet --json --strict --plot --ini --defaults --set" ;;
        analyse | analyze) options+=" --json --plot -y --yes --ini --defaults --set" ;;
        settings) options+=" --ini --defaults --set" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    [[ $command == settings ]] && return
    _filedir "$audio"
} &&
    complete -F _sonvelt_cli sonvelt-cli

# ex: filetype=sh
