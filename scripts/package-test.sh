#!/usr/bin/env bash
# The Debian package on this machine, as a newcomer installs it: makes the .deb
# in a build folder, installs it with apt-get, serves on 127.0.0.1:PORT with
# the unit's own command lines (or systemd where it runs), reads a data file,
# posts a form, kills the server with SIGKILL and sees it serve the post's
# value again, upgrades the package over itself and restarts, reads the value
# back, then purges and checks that nothing is left. The units are checked
# with systemd-analyze verify, which needs no running systemd.
# Needs root on Debian; scripts/test.sh runs it. Usage: package-test.sh BUILD
set -euo pipefail
build=$1
port=${QUENTA_PACKAGE_TEST_PORT:-18431}
base=http://127.0.0.1:$port
conf=/etc/quenta/quenta.conf
unit=/usr/lib/systemd/system/quenta-httpd.service
log=$build/package-test-server.log
server=

fail() { echo "package test: FAILED: $*"; tail -n 20 "$log" 2>/dev/null; exit 1; }

# A unit's command line, with systemd's "$$" as the shell's "$", run as the
# unit runs it: as quenta, in /, with quenta.conf's KEY=VALUE lines in the
# environment. Each step execs the next, so $! of "asService LINE &" is the server.
unitLine() { sed -n "s/^$1=//p" "$unit" | sed 's/\$\$/$/g'; }
asService() { cd / && set -a && . "$conf" && exec setpriv --reuid=quenta --regid=quenta --init-groups -- sh -c "exec $1"; }

start() {
  ! curl -so /dev/null "$base/" || fail "something else answers on $base"
  if [ -d /run/systemd/system ]; then
    systemctl restart quenta-httpd.service
  else
    (asService "$(unitLine ExecStartPre)") >>"$log" 2>&1 || fail "the unit's ExecStartPre"
    asService "$(unitLine ExecStart)" >>"$log" 2>&1 &
    server=$!
  fi
  for _ in $(seq 100); do curl -fso /dev/null "$base/index.html" && return 0; sleep 0.1; done
  fail "the server did not answer on $base"
}
stop() {
  if [ -d /run/systemd/system ]; then
    systemctl stop quenta-httpd.service
  elif [ -n "$server" ]; then
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
  fi
}
# SIGKILL, as a crash: systemd starts the unit again by its Restart=on-failure;
# without systemd the test does what systemd would.
crash() {
  if [ -d /run/systemd/system ]; then
    systemctl kill --signal=KILL quenta-httpd.service
    sleep 0.5
    for _ in $(seq 100); do curl -fso /dev/null "$base/index.html" && return 0; sleep 0.1; done
    fail "systemd did not start quenta-httpd again after SIGKILL"
  else
    kill -KILL "$server"
    wait "$server" 2>/dev/null || true
    server=
    start
  fi
}
expectValue() {
  local body
  body=$(curl -fsS "$base/welder-config/TriggerHoldDelayTime.js") || fail "GET TriggerHoldDelayTime.js"
  [ "$body" = "var TriggerHoldDelayTime = {DelayTime:$1};" ] || fail "$2: got '$body'"
}

if dpkg-query -W quenta >/dev/null 2>&1 || [ -e /var/lib/quenta ]; then
  fail "quenta is (or was) installed here; the test would replace and purge it (apt-get purge quenta)"
fi
rm -f "$build"/quenta_*.deb "$log"
(cd "$build" && cpack -G DEB >>"$log" 2>&1) || fail "cpack -G DEB in $build"
deb=$(echo "$build"/quenta_*_amd64.deb)
export DEBIAN_FRONTEND=noninteractive
trap 'stop; apt-get purge -y -qq quenta >/dev/null 2>&1 || true' EXIT
apt-get install -y -qq "$deb" >>"$log" 2>&1 || fail "apt-get install $deb"
sed -i "s/^QUENTA_LISTEN=.*/QUENTA_LISTEN=127.0.0.1:$port/" "$conf"
systemd-analyze verify --man=no /usr/lib/systemd/system/quenta-httpd.service \
  /usr/lib/systemd/system/quenta-machine-sim.service >>"$log" 2>&1 || fail "systemd-analyze verify of the units"

start
expectValue 250 "the demo value on the first start"
curl -fsS -o /dev/null -F th_delay_time_pcode=118 -F th_delay_time=0.75 -F th_inactive_time=3 \
  -F th_inactive_time_pcode=615 "$base/arc_management/trigger_hold_edit.min.html" || fail "POST trigger_hold_edit"
expectValue 750 "the posted value"
crash
expectValue 750 "the posted value after SIGKILL"
stop
apt-get install -y -qq --reinstall "$deb" >>"$log" 2>&1 || fail "apt-get install --reinstall (an upgrade)"
grep -q "^QUENTA_LISTEN=127.0.0.1:$port$" "$conf" || fail "the upgrade replaced the edited $conf"
start
expectValue 750 "the posted value after an upgrade and a restart"
stop

trap - EXIT
apt-get purge -y -qq quenta >>"$log" 2>&1 || fail "apt-get purge quenta"
for left in /var/lib/quenta /var/log/quenta /etc/quenta /usr/bin/quenta-httpd; do
  [ ! -e "$left" ] || fail "$left is left after the purge"
done
[ -z "$(find /dev/shm -user quenta)" ] || fail "named objects of user quenta are left in /dev/shm"
echo "package test: passed ($deb on $base)"
