#!/usr/bin/env bash
# Checks the test of a vendor package folder: the six files under their exact names pass; a missing
# or misnamed file, or a missing folder, stops with a message naming the file(s) and the folder.
# Usage: check-package-dir.sh CMAKE PACKAGE-DIR-SCRIPT WORK-FOLDER
set -uo pipefail
cmake=$1 script=$2 work=$3
names=(Setup.exe Setup.ini Unins.exe LoadVF.bin VirtFlpy.bin VelomarHDv.ima)
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$work" && mkdir -p "$work"
cat >"$work/check.cmake" <<EOF
cmake_minimum_required(VERSION 3.20)
include("$script")
tarnwick_check_package_dir("\${DIR}" ${names[*]})
EOF
folder() { # NAME FILE... : a folder holding those files
    mkdir -p "$work/$1"
    local name=$1
    shift
    for f in "$@"; do echo "$f" >"$work/$name/$f"; done
    echo "$work/$name"
}
# Runs the check on a folder; "pass" or the messages of the failed check.
check() {
    local out
    if out=$("$cmake" -DDIR="$1" -P "$work/check.cmake" 2>&1); then echo pass; else echo "$out"; fi
}
expect_pass() {
    local out
    out=$(check "$1")
    [ "$out" = pass ] || fail "$1 should pass: $out"
}
expect_message() { # FOLDER TEXT...
    local out
    out=$(check "$1")
    [ "$out" != pass ] || { fail "$1 should not pass"; return; }
    shift
    for text in "$@"; do
        grep -qF -- "$text" <<<"$out" || fail "message lacks '$text': $out"
    done
}

expect_pass "$(folder all "${names[@]}")"
expect_pass "$(folder extra "${names[@]}" ReadMe.txt)"
dir=$(folder missing Setup.exe Setup.ini Unins.exe LoadVF.bin VelomarHDv.ima)
expect_message "$dir" "\"$dir\"" "VirtFlpy.bin is missing"
out=$(check "$dir")
grep -q "Setup.exe is missing" <<<"$out" && fail "Setup.exe is there, yet reported missing"
dir=$(folder misnamed setup.exe Setup.ini Unins.exe LoadVF.bin VirtFlpy.bin VelomarHDv.IMA)
expect_message "$dir" "\"$dir\"" "Setup.exe is missing (found \"setup.exe\"" \
    "VelomarHDv.ima is missing (found \"VelomarHDv.IMA\""
dir=$(folder directory Setup.exe Setup.ini Unins.exe LoadVF.bin VirtFlpy.bin)
mkdir "$dir/VelomarHDv.ima"
expect_message "$dir" "VelomarHDv.ima is missing"
expect_message "$work/nowhere" "\"$work/nowhere\"" "does not exist"

rm -rf "$work"
[ $failures -eq 0 ] && echo "package folder check: all cases passed"
exit $((failures > 0))
