#!/usr/bin/env bash
# Every program answers --version with the project's one full version, and the Debian
# changelog and the man pages carry the same.
# Usage: versions_test.sh VERSION BIN_DIR SOURCE_DIR
set -u
version=$1 bin=$2 source=$3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
for program in downloader module-emulator objtool downloader-station; do
    got=$("$bin/$program" --version 2>&1)
    [[ $got == "$program $version" ]] || fail "$program --version says '$got', not '$program $version'"
done
[[ $(head -1 "$source/debian/changelog") == "downloader ($version) "* ]] ||
    fail "debian/changelog's newest entry is not $version"
for page in "$source"/man/*.1; do
    grep -q "^\.TH .* \"downloader $version\" " "$page" || fail "$page does not say downloader $version"
done
((failures == 0)) && echo "versions: all say $version"
exit $((failures > 0))
