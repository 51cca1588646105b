#!/usr/bin/env bash
# The main job: installs what is missing, builds, lays out a demo device root
# under build/root and serves it on http://127.0.0.1:8080, with the machine
# simulator publishing live status and draining the system-log mailbox, and a
# simulated digital I/O module on the port of build/root/ADAMbridge.conf.
# Ctrl-C stops them all.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENTA_BUILD:-$here/build}
root=${QUENTA_ROOT_DIR:-$build/root}
listen=${QUENTA_LISTEN:-127.0.0.1:8080}

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

machine="$build/bin/quenta-machine"
httpd="$build/bin/quenta-httpd"

if [ ! -f "$root/settings.db" ]; then
  "$machine" --root "$root" init --demo
else
  "$machine" --root "$root" init   # refreshes the card, keeps the settings
fi

pids=()
stop() {
  trap - INT TERM EXIT
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap stop INT TERM EXIT

"$machine" --root "$root" status run & pids+=($!)
"$machine" --root "$root" mailbox drain --follow & pids+=($!)
"$machine" --root "$root" dio serve & pids+=($!)
"$httpd" --root "$root" --listen "$listen" & pids+=($!)

echo "run: serving $root on http://$listen (Ctrl-C stops)"
# Ends when any of them ends (or on Ctrl-C); then the others are stopped.
wait -n "${pids[@]}" || true
