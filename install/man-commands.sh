#!/bin/sh
# Writes help2man's include file for camsys's man page: a COMMANDS section with each
# subcommand's own --help, the subcommands taken from camsys --help.
set -eu
exe=$1
out=$2
{
    echo "[COMMANDS]"
    for command in $("$exe" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }'); do
        echo ".SS $command"
        echo ".nf"
        # roff: a backslash is written doubled, and a line must not start with a dot.
        "$exe" "$command" --help | sed -e 's/\\/\\\\/g' -e 's/^\./\\\&./'
        echo ".fi"
    done
} >"$out"
