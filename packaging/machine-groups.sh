#!/bin/sh
# Prints help2man's include text for quenta-machine(8): one section with the
# --help of every command group that `quenta-machine --help` lists.
# Usage: machine-groups.sh QUENTA-MACHINE FILE
set -eu
machine=$1
exec >"$2"
echo "[COMMAND GROUPS]"
"$machine" --help | sed -n '/^groups:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | while read -r group; do
  printf '.SS %s\n.nf\n' "$group"
  "$machine" "$group" --help | sed 's/\\/\\e/g; s/^[.'\'']/\\\&&/'
  printf '.fi\n'
done
