#!/usr/bin/env bash
# quenta-httpd beside nginx, same run, 127.0.0.1 only: the module's data files
# (the query echo, a parameter code, a record list) against nginx serving a
# static file of the same size, and the card's own static files through both.
# nginx runs with one worker and its access log off; quenta-httpd with its
# access log and debug output off. Each target is measured with wrk -t2 at 8
# and at 64 connections for SECONDS (default 5), printing requests a second,
# p99 latency, and quenta-httpd's share of nginx, and each server's CPU time
# per request (its processes' user and system time over the run), which other
# load on a shared machine moves far less than the rates.
#
#   bench/speed_vs_nginx.sh [-b BUILD_DIR] [-d SECONDS]
#
# nginx is installed from Debian (apt-get) when it is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
duration=5
while getopts "b:d:h" option; do
  case $option in
    b) build=$OPTARG ;;
    d) duration=$OPTARG ;;
    *) echo "usage: $0 [-b BUILD_DIR] [-d SECONDS]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
httpd="$build/bin/quenta-httpd"
machine="$build/bin/quenta-machine"
[ -x "$httpd" ] && [ -x "$machine" ] || { echo "speed_vs_nginx: build quenta-httpd and quenta-machine in $build" >&2; exit 1; }
if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx-light >/dev/null
  # The package starts a system nginx on port 80; this benchmark runs its own.
  $sudo systemctl stop nginx 2>/dev/null || $sudo service nginx stop 2>/dev/null || true
fi
nginx=$(command -v nginx || echo /usr/sbin/nginx)

root=$(mktemp -d /tmp/quenta-speed-XXXXXX)
chmod 755 "$root"  # nginx's worker, started by root, runs as www-data
wwwpub="$root/MMCMemory/www/wwwpub"
"$machine" --root "$root" init --demo >/dev/null
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  "$machine" --root "$root" clean >/dev/null 2>&1 || true
  rm -rf "$root"
}
trap cleanup EXIT

"$httpd" --root "$root" --listen 127.0.0.1:0 --access-log off >"$root/httpd.out" 2>&1 & pids+=($!)
quenta_pid=$!
for _ in $(seq 1 100); do grep -q "listening on" "$root/httpd.out" && break; sleep 0.1; done
quenta_port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$root/httpd.out")
[ -n "$quenta_port" ] || { cat "$root/httpd.out" >&2; exit 1; }

nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$root/nginx"
cat >"$root/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $root/nginx/nginx.pid;
error_log $root/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  client_body_temp_path $root/nginx;
  proxy_temp_path $root/nginx;
  fastcgi_temp_path $root/nginx;
  uwsgi_temp_path $root/nginx;
  scgi_temp_path $root/nginx;
  server {
    listen 127.0.0.1:$nginx_port;
    root $wwwpub;
  }
}
CONF
"$nginx" -c "$root/nginx/nginx.conf" -p "$root/nginx" & pids+=($!)
nginx_pid=$!
for _ in $(seq 1 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/index.html" && break; sleep 0.1; done

# Clock ticks of user and system time of a process and its children.
cpu_ticks() {
  local total=0 pid
  for pid in "$1" $(pgrep -P "$1" || true); do
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
  done
  echo "$total"
}

# wrk's figures for one run against the server of process $3:
# "requests/s p99-ms cpu-us-per-request".
measure() {
  local output before after
  before=$(cpu_ticks "$3")
  output=$(wrk -t2 -c"$2" -d"${duration}s" --latency "$1")
  after=$(cpu_ticks "$3")
  if echo "$output" | grep -q "Non-2xx"; then echo "speed_vs_nginx: $1 gave answers other than 2xx" >&2; fi
  local rate p99
  rate=$(echo "$output" | awk '/^Requests\/sec:/ { print $2 }')
  p99=$(echo "$output" | awk '$1 == "99%" { v = $2; if (v ~ /us$/) { sub(/us$/, "", v); v /= 1000 } else if (v ~ /ms$/) { sub(/ms$/, "", v) } else if (v ~ /s$/) { sub(/s$/, "", v); v *= 1000 } print v }')
  local requests cpu
  requests=$(echo "$output" | awk '/requests in/ { print $1 }')
  cpu=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$requests" \
    'BEGIN { if (n > 0) printf "%.1f", t * 1e6 / hz / n; else print "-" }')
  echo "$rate $p99 $cpu"
}

echo "quenta-httpd beside nginx (1 worker, access log off): wrk -t2, ${duration} s each, 127.0.0.1"
printf '%-30s %5s %5s %10s %7s %6s %10s %7s %6s %6s\n' target bytes conns "quenta r/s" "p99 ms" "cpu us" \
  "nginx r/s" "p99 ms" "cpu us" ratio
index=0
for target in "/querytest.js?a=1&b=2" "/logs/TotalArcHours.js" "/program-setup/BankComboAll.js" "/index.html"; do
  index=$((index + 1))
  size=$(curl -s "http://127.0.0.1:$quenta_port$target" | wc -c)
  if [ "$target" = /index.html ]; then
    nginx_target=/index.html
  else
    nginx_target="/speed-$index.txt"
    head -c "$size" /dev/zero | tr '\0' 'x' >"$wwwpub$nginx_target"
  fi
  for connections in 8 64; do
    read -r q_rate q_p99 q_cpu <<<"$(measure "http://127.0.0.1:$quenta_port$target" "$connections" "$quenta_pid")"
    read -r n_rate n_p99 n_cpu <<<"$(measure "http://127.0.0.1:$nginx_port$nginx_target" "$connections" "$nginx_pid")"
    ratio=$(awk -v q="$q_rate" -v n="$n_rate" 'BEGIN { if (n > 0) printf "%.2f", q / n; else print "-" }')
    printf '%-30s %5s %5s %10s %7s %6s %10s %7s %6s %6s\n' "$target" "$size" "$connections" "$q_rate" "$q_p99" "$q_cpu" \
      "$n_rate" "$n_p99" "$n_cpu" "$ratio"
  done
done
