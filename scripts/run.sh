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
# Only what is served: the server, the module and the machine simulator.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${QUENTA_JOBS:-$(nproc)}" --target quenta-httpd webquenta quenta-machine

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

# The server first: when it cannot listen (the port is taken), nothing else
# starts. Its output passes through a pipe that notes the "listening" line.
pipe=$(mktemp -u /tmp/quenta-run-XXXXXX)
mkfifo "$pipe"
(while IFS= read -r line; do
  printf '%s\n' "$line"
  case $line in *"listening on"*) : >"$pipe.ready" ;; esac
done <"$pipe") &
"$httpd" --root "$root" --listen "$listen" >"$pipe" & pids+=($!)
until [ -e "$pipe.ready" ]; do
  if ! kill -0 "${pids[0]}" 2>/dev/null; then
    rm -f "$pipe" "$pipe.ready"
    echo "run: quenta-httpd did not start (is $listen taken?)" >&2
    exit 1
  fi
  sleep 0.1
done
rm -f "$pipe" "$pipe.ready"
"$machine" --root "$root" status run & pids+=($!)
"$machine" --root "$root" mailbox drain --follow & pids+=($!)
"$machine" --root "$root" dio serve & pids+=($!)

echo "run: serving $root on http://$listen (Ctrl-C stops)"
# Ends when any of them ends (or on Ctrl-C); then the others are stopped.
wait -n "${pids[@]}" || true
