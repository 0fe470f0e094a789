#!/bin/sh
# strip-program.sh <program> <debug folder>
#
# Moves <program>'s debug information to <debug folder>/<name>.debug, which the stripped
# program names in its debug link, so that debuggers still find it in the build folder.
set -eu
program=$1 debug=$2/$(basename "$1").debug
mkdir -p "$2"
objcopy --only-keep-debug "$program" "$debug"
strip --strip-unneeded --remove-section=.comment "$program"
objcopy --add-gnu-debuglink="$debug" "$program"
