#!/usr/bin/env bash
# Sources the bash completion scripts of the four programs and checks the candidates they
# offer.
# Usage: completion_test.sh COMPLETIONS_FOLDER
set -u
folder=$1
for program in downloader downloader-station module-emulator objtool; do
    # shellcheck source=/dev/null
    source "$folder/$program"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# expect_of PROGRAM "WORDS BEFORE THE CURSOR" "CURRENT WORD" "EXPECTED CANDIDATES, SORTED"
expect_of() {
    local program=$1
    local -a before
    read -r -a before <<<"$2"
    COMP_WORDS=("$program" "${before[@]}" "$3")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "_${program//-/_}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
    if [[ $got != "$4" ]]; then
        echo "FAIL: $program $2 $3<TAB>: expected '$4', got '$got'"
        failures=$((failures + 1))
    fi
}
expect() { expect_of downloader "$@"; }

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

expect_of downloader-station "" "--re" "--repeat --report --retries"
expect_of downloader-station "prog.obj --continuous" "--co" "--continuous --count"
expect_of downloader-station "--log" "" "OLD.OBJ master notes.txt prog.obj sub"
expect_of downloader-station "" "" "OLD.OBJ prog.obj sub"
expect_of downloader-station "prog.obj --ports" "com2,com1" "com2,COM12"
expect_of downloader-station "--loader" "" "master sub"
expect_of module-emulator "" "--d" "--detach --dump"
expect_of module-emulator "--module" "type=3,no" "type=3,noecho"
expect_of module-emulator "--port-map" "" "sub"
touch desc.json
expect_of objtool "" "e" "embed extract"
expect_of objtool "make" "" "desc.json sub"
expect_of objtool "embed" "" "master sub"
expect_of objtool "embed master" "" "OLD.OBJ prog.obj sub"
expect_of objtool "info prog.obj" "-" "--json"

unset DOWNLOADER_PORTS
export XDG_CONFIG_HOME=$scratch/none HOME=$scratch/none
if [[ ! -d /etc/downloader/ports ]]; then
    COMP_WORDS=(downloader /com); COMP_CWORD=1; COMPREPLY=(); _downloader
    [[ ${#COMPREPLY[@]} == 99 ]] || { echo "FAIL: without a port map, /com offers ${#COMPREPLY[@]} ports"; failures=$((failures + 1)); }
fi

((failures == 0)) && echo "completion: all cases pass"
exit $((failures > 0))
