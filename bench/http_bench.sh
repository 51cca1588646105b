#!/usr/bin/env bash
# HTTP throughput of quenta-httpd: each module path against a static card file
# of exactly the same size, measured with wrk in the same run.
#
#   bench/http_bench.sh [options] [PATH...]
#
# PATH is a request target answered by the module (default
# "/querytest.js?a=1&b=2"). For each one the script fetches the answer once,
# writes a static file of the same body size to the card, and runs wrk against
# both. Only 127.0.0.1 is used.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
module=""
threads=2
connections=16
duration=10
server_threads=""

usage() {
  cat <<EOF
Usage: $0 [-b BUILD_DIR] [-m MODULE] [-t THREADS] [-c CONNECTIONS] [-d SECONDS] [-w SERVER_THREADS] [PATH...]
  -b BUILD_DIR      build folder holding bin/quenta-httpd (default $here/build)
  -m MODULE         ISAPI module to load (default BUILD_DIR/lib/libwebquenta.so)
  -t THREADS        wrk threads (default 2)
  -c CONNECTIONS    wrk connections (default 16)
  -d SECONDS        duration of each wrk run (default 10)
  -w SERVER_THREADS quenta-httpd --threads (default: the program's own, 50)
  PATH              module request targets to compare (default "/querytest.js?a=1&b=2")
EOF
}

while getopts "b:m:t:c:d:w:h" option; do
  case $option in
    b) build=$OPTARG ;;
    m) module=$OPTARG ;;
    t) threads=$OPTARG ;;
    c) connections=$OPTARG ;;
    d) duration=$OPTARG ;;
    w) server_threads=$OPTARG ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
paths=("$@")
[ ${#paths[@]} -gt 0 ] || paths=("/querytest.js?a=1&b=2")

build=$(cd "$build" && pwd)
httpd="$build/bin/quenta-httpd"
[ -n "$module" ] || module="$build/lib/libwebquenta.so"
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "http_bench: $tool is not installed" >&2; exit 1; }
done
[ -x "$httpd" ] || { echo "http_bench: no $httpd (build the quenta-httpd target)" >&2; exit 1; }
[ -f "$module" ] || { echo "http_bench: no module $module" >&2; exit 1; }

root=$(mktemp -d /tmp/quenta-http-bench-XXXXXX)
wwwpub="$root/MMCMemory/www/wwwpub"
mkdir -p "$wwwpub"
cp -r "$here"/card/. "$wwwpub"/
# A demo settings database, so data files answer with values, not fallbacks.
machine="$(dirname "$httpd")/quenta-machine"
if [ -x "$machine" ]; then
  "$machine" --root "$root" init --demo >/dev/null
else
  echo "http_bench: no $machine; data files will show their fallback texts" >&2
fi
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$server_pid" 2>/dev/null || true
  fi
  [ -x "$machine" ] && "$machine" --root "$root" clean >/dev/null 2>&1 || true
  rm -rf "$root"
}
trap cleanup EXIT

extra=()
[ -z "$server_threads" ] || extra=(--threads "$server_threads")
"$httpd" --root "$root" --listen 127.0.0.1:0 --module "$module" --access-log off "${extra[@]}" \
  >"$root/stdout" 2>"$root/stderr" &
server_pid=$!

port=""
for _ in $(seq 1 200); do
  port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$root/stdout")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "http_bench: quenta-httpd did not start" >&2
  cat "$root/stderr" >&2
  exit 1
fi
base="http://127.0.0.1:$port"

# Requests per second of one wrk run against a target.
measure() {
  local output
  output=$(wrk -t "$threads" -c "$connections" -d "${duration}s" "$base$1")
  if echo "$output" | grep -q "Non-2xx"; then
    echo "http_bench: $1 gave answers other than 2xx" >&2
  fi
  echo "$output" | awk '/^Requests\/sec:/ { print $2 }'
}

echo "quenta-httpd HTTP benchmark: wrk -t$threads -c$connections -d${duration}s on 127.0.0.1"
echo "module: $module"
printf '%-44s %10s %14s %14s %8s\n' "path" "bytes" "req/s" "static req/s" "ratio"
index=0
for path in "${paths[@]}"; do
  index=$((index + 1))
  answer="$root/answer-$index"
  status=$(curl -s -o "$answer" -w '%{http_code}' "$base$path")
  if [ "$status" != 200 ]; then
    echo "http_bench: $path answered $status" >&2
    exit 1
  fi
  size=$(stat -c %s "$answer")
  static="/bench-static-$index.txt"
  head -c "$size" /dev/zero | tr '\0' 'x' >"$wwwpub$static"

  module_rate=$(measure "$path")
  static_rate=$(measure "$static")
  ratio=$(awk -v m="$module_rate" -v s="$static_rate" 'BEGIN { if (s > 0) printf "%.2f", m / s; else print "-" }')
  printf '%-44s %10s %14s %14s %8s\n' "$path" "$size" "$module_rate" "$static_rate" "$ratio"
done
