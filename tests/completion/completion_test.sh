#!/usr/bin/env bash
# Sources a bash completion script for downloader and checks the candidates it offers.
# Usage: completion_test.sh COMPLETION_SCRIPT
set -u
script=$1
# shellcheck source=/dev/null
source "$script"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# expect "WORDS BEFORE THE CURSOR" "CURRENT WORD" "EXPECTED CANDIDATES, SORTED, ONE LINE"
expect() {
    local -a before
    read -r -a before <<<"$1"
    COMP_WORDS=(downloader "${before[@]}" "$2")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _downloader
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
    if [[ $got != "$3" ]]; then
        echo "FAIL: downloader $1 $2<TAB>: expected '$3', got '$got'"
        failures=$((failures + 1))
    fi
}

mkdir -p "$scratch/ports" "$scratch/work/sub"
printf 'rfc2217://127.0.0.1:7001\n' >"$scratch/ports/COM2"
ln -s /dev/null "$scratch/ports/COM12"
printf 'none\n' >"$scratch/ports/COM3"
printf 'port map notes\n' >"$scratch/ports/README"
cd "$scratch/work" || exit 1
touch prog.obj OLD.OBJ notes.txt master
chmod +x master
export DOWNLOADER_PORTS=$scratch/ports

expect "" "/no" "/NoInfo /NoPrompts"
expect "" "/NOP" "/NoPrompts"
expect "/noprompts" "/no" "/NoInfo"
expect "" "/COM" "/COM12 /COM2"
expect "/com2" "/co" ""
expect "/Pipe" "" "master sub"
expect "/NoPrompts" "" "OLD.OBJ prog.obj sub"

unset DOWNLOADER_PORTS
export XDG_CONFIG_HOME=$scratch/none HOME=$scratch/none
if [[ ! -d /etc/downloader/ports ]]; then
    COMP_WORDS=(downloader /com); COMP_CWORD=1; COMPREPLY=(); _downloader
    [[ ${#COMPREPLY[@]} == 99 ]] || { echo "FAIL: without a port map, /com offers ${#COMPREPLY[@]} ports"; failures=$((failures + 1)); }
fi

((failures == 0)) && echo "completion: all cases pass"
exit $((failures > 0))
