#!/bin/sh
# Runs a command as root: directly when already root, otherwise through sudo, as the
# install step gets root. It never prompts; `./dev test` asks sudo for the password first
# where sudo needs one.
if [ "$(id -u)" -eq 0 ]; then exec "$@"; fi
exec sudo -n -- "$@"
