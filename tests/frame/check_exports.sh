#!/bin/sh
# The loadable module exports its three entry points and nothing else.
set -eu
exports=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
expected="GetExtensionVersion HttpExtensionProc TerminateExtension "
if [ "$exports" != "$expected" ]; then
  echo "exported: $exports"
  echo "expected: $expected"
  exit 1
fi
echo "exports: $exports"
