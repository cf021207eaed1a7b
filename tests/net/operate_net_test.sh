#!/usr/bin/env bash
# Operating a real DHCP server started by the launcher, inside private network namespaces: stopping
# it (Engine=off, --stop-server), Engine=check with it running, its status with its leases
# (--server), and the dry run.
#
# operate_net_test.sh CASE ENGINE LAUNCHER COMPONENT PLUGIN CHECK
#   CASE: off | check_running | status | leases | dry_run | stop_server; ENGINE: dnsmasq | kea
# Exit 0 passed, 1 failed, 77 skipped (not root or a package missing; with CI set: failed).
set -uo pipefail
source "$(dirname "$0")/netns.sh"

case_name=$1 engine=$2 launcher=$3 component=$4 plugin=$5 check=$6
program=/usr/sbin/dnsmasq
[[ $engine == kea ]] && program=/usr/sbin/kea-dhcp4
netns_require "$program" busybox python3

netns_init "o${engine:0:1}"
server="ops$NETNS_TAG" client="opc$NETNS_TAG"
veth_s="s$NETNS_TAG" veth_c="c$NETNS_TAG"
netns_add "$server"
netns_add "$client"
netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
deploy="$NETNS_TMP/deploy"
netns_stage "$deploy" "$launcher" "$component" "$plugin"
cp "$check" "$deploy/bin/"
netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
netns_plugin_settings "$deploy" "Engine=$engine" "Interface=$veth_s"

# check DIR ARGUMENT...: the check program in DIR/bin, inside the server namespace; sets CHECK_OUT
# (its output) and CHECK_STATUS.
check() {
  local dir=$1
  shift
  CHECK_OUT=$(cd "$dir/bin" && ip netns exec "$server" ./dhcp-launcher-check "$@" 2>&1)
  CHECK_STATUS=$?
}

# json EXPRESSION: a value of the last --json report, read with Python ("d" is the report),
# printed as JSON.
json() {
  python3 -c 'import json, sys; d = json.loads(sys.stdin.read()); print(json.dumps('"$1"'))' \
    <<<"$CHECK_OUT" || netns_fail "not a JSON report: $CHECK_OUT"
}

expect_status() { # STATUS
  [[ $CHECK_STATUS == "$1" ]] || netns_fail "check exited with $CHECK_STATUS, not $1: $CHECK_OUT"
}

expect_json() { # EXPRESSION VALUE: the value, compared as JSON
  python3 -c 'import json, sys; d = json.loads(sys.stdin.read())
sys.exit(0 if '"$1"' == json.loads(sys.argv[1]) else 1)' "$2" <<<"$CHECK_OUT" ||
    netns_fail "$1 is $(json "$1"), not $2"
}

# The one live engine process in the server namespace, or none.
engine_pid() {
  local pids
  pids=$(netns_engine_pids "$server")
  [[ $(wc -w <<<"$pids") -le 1 ]] || netns_fail "more than one engine runs: $pids"
  echo "$pids"
}

# DIR and the files and folders in it with their size, time and mode, to see that nothing changed;
# EXCLUDED names files or folders (with what they hold) that are left out. With ENTRIES set, DIR
# itself is left out too.
snapshot() { # DIR [EXCLUDED...]
  [[ -e $1 ]] || {
    echo absent
    return
  }
  local dir=$1 name prune=()
  shift
  for name in "$@"; do prune+=(-name "$name" -prune -o); done
  (cd "$dir" && find . -mindepth "${ENTRIES:-0}" "${prune[@]}" -printf '%p %s %T@ %m\n' | sort)
}

start_server() {
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  pid=$(engine_pid)
  [[ -n $pid ]] || netns_fail "no engine runs after the start: $ANSWER"
}

case $case_name in
off)
  # Engine=off stops this deployment's server, with broken settings and no Interface, and leaves
  # a second deployment's server on another link alone; a deployment without a state folder has
  # none running, and gets none made.
  netns_link "$server" "b$NETNS_TAG" 203.0.113.1/24 "$client" "d$NETNS_TAG"
  other="$NETNS_TMP/other"
  netns_stage "$other" "$launcher" "$component" "$plugin"
  netns_settings "$other" 255.255.255.0 203.0.113.1 600 203.0.113.100-203.0.113.150
  netns_plugin_settings "$other" "Engine=$engine" "Interface=b$NETNS_TAG"
  netns_launch "$server" "$other"
  netns_expect_code 0
  other_pid=$(netns_engine_pids "$server")
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  pid=$(netns_engine_pids "$server" | grep -vx "$other_pid")
  [[ -n $other_pid && -n $pid ]] || netns_fail "two servers should run: $(netns_engine_pids "$server")"
  printf '[PARAMS]\nSubNetMask=255.255.255.255\nGateway=x\n' >"$deploy/config/fylDHCPServer.ini"
  netns_plugin_settings "$deploy" "Engine=Off"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  [[ $ANSWER == "DHCP server stopped: "*"pid $pid."* ]] || netns_fail "answer names no stop of $pid: $ANSWER"
  [[ $engine == dnsmasq && $ANSWER == *dnsmasq* || $engine == kea && $ANSWER == *Kea* ]] ||
    netns_fail "answer does not name the engine: $ANSWER"
  kill -0 "$pid" 2>/dev/null && [[ $(sed -E 's/.*\) (.).*/\1/' "/proc/$pid/stat") != Z ]] &&
    netns_fail "the server still runs"
  [[ $(netns_engine_pids "$server") == "$other_pid" ]] || netns_fail "the other deployment's server was stopped"
  [[ ! -e $deploy/run/server.json ]] || netns_fail "the record of the stopped server stayed"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  [[ $ANSWER == "No DHCP server of this deployment was running; nothing was stopped." ]] ||
    netns_fail "a second stop says: $ANSWER"
  empty="$NETNS_TMP/empty"
  netns_stage "$empty" "$launcher" "$component" "$plugin"
  netns_plugin_settings "$empty" "Engine=off"
  netns_launch "$server" "$empty"
  netns_expect_code 0
  [[ $ANSWER == *"was running"*"does not exist"* && ! -e $empty/run ]] ||
    netns_fail "without a state folder: $ANSWER"
  [[ $(netns_engine_pids "$server") == "$other_pid" ]] || netns_fail "the other deployment's server was stopped"
  ;;
check_running)
  # Engine=check with a server running says so, and names it; the server runs on.
  start_server
  netns_plugin_settings "$deploy" "Engine=check"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  [[ $ANSWER == *"nothing was started or stopped. The DHCP server started before still runs"*"pid $pid."* ]] ||
    netns_fail "answer does not say the server runs: $ANSWER"
  [[ $(engine_pid) == "$pid" ]] || netns_fail "the server did not run on"
  ;;
status)
  # --server against none and against a running server; the settings edited afterwards. The
  # status query and the dry run change nothing.
  check "$deploy" --server --json
  expect_status 9
  expect_json 'd["server"]' '{"running": false, "engine": null, "version": null, "pid": null, "interface": null, "range": null, "mask": null, "router": null, "lease_seconds": null, "started": null, "leases_active": null, "pool_size": null, "matches_settings": null, "ha": null}'
  expect_json 'd["dry_run"]["code"]' 0
  [[ ! -e $deploy/run ]] || netns_fail "the state folder was made"
  before=$(date -u +%s)
  start_server
  lease=$(netns_udhcpc "$client" "$veth_c" 10) || netns_fail "no lease"
  # Kea notes each command it is sent in its log: the log is left out of the comparison.
  tree=$(snapshot "$deploy/run" engine.log)
  check "$deploy" --server --json
  expect_status 0
  [[ $(snapshot "$deploy/run" engine.log) == "$tree" ]] || netns_fail "--server changed the state folder"
  expect_json 'd["server"]["running"]' true
  expect_json 'd["server"]["engine"]' "\"$engine\""
  expect_json 'd["server"]["pid"]' "$pid"
  expect_json 'd["server"]["interface"]' "\"$veth_s\""
  expect_json 'd["server"]["range"]' '"198.51.100.100-198.51.100.150"'
  expect_json 'd["server"]["mask"]' '"255.255.255.0"'
  expect_json 'd["server"]["router"]' '"198.51.100.1"'
  expect_json 'd["server"]["lease_seconds"]' 600
  expect_json 'd["server"]["leases_active"]' 1
  expect_json 'd["server"]["pool_size"]' 51
  expect_json 'd["server"]["matches_settings"]' true
  expect_json 'd["dry_run"]["code"]' 0
  [[ $(json 'd["server"]["version"]') =~ ^\"[0-9]+\.[0-9]+ ]] || netns_fail "version: $(json 'd["server"]')"
  started=$(json 'd["server"]["started"]' | tr -d '"')
  started_at=$(date -u -d "${started/T/ }" +%s) || netns_fail "started is not a time: $started"
  ((started_at >= before - 1 && started_at <= $(date -u +%s))) || netns_fail "started $started is not the start"
  [[ $(json 'd["dry_run"]["message"]') == *"on $veth_s with range 198.51.100.100-198.51.100.150"*"replacing"*"pid $pid)"* ]] ||
    netns_fail "dry run: $(json 'd["dry_run"]')"

  netns_settings "$deploy" 255.255.255.0 198.51.100.1 300 198.51.100.100-198.51.100.140
  check "$deploy" --server --json
  expect_status 10
  expect_json 'd["server"]["matches_settings"]' false
  expect_json 'd["server"]["range"]' '"198.51.100.100-198.51.100.150"'
  check "$deploy" --server
  expect_status 10
  [[ $CHECK_OUT == *"RangeIp is 198.51.100.100-198.51.100.140, the server was started with 198.51.100.100-198.51.100.150"* &&
    $CHECK_OUT == *"DuringTime is 300, the server was started with 600"* && $CHECK_OUT != *"SubNetMask is"* ]] ||
    netns_fail "the report does not say which settings differ: $CHECK_OUT"
  [[ $(snapshot "$deploy/run" engine.log) == "$tree" ]] || netns_fail "--server changed the state folder"
  [[ $(engine_pid) == "$pid" ]] || netns_fail "the server did not run on"
  ;;
leases)
  # leases_active counts the leases that have not expired. dnsmasq's shortest lease takes two
  # minutes to expire: its lease file is prepared before the start with an expired lease, one
  # outside the range, one for an hour and one that expires during the test. Kea hands out a
  # three-second lease to a real client.
  if [[ $engine == dnsmasq ]]; then
    mkdir -m 700 "$deploy/run"
    soon=$(($(date +%s) + 8))
    {
      echo "$soon 02:00:00:00:00:01 198.51.100.101 soon 01:02:00:00:00:00:01"
      echo "$(($(date +%s) - 100)) 02:00:00:00:00:02 198.51.100.102 gone *"
      echo "$(($(date +%s) + 3600)) 02:00:00:00:00:03 198.51.100.103 hour *"
      echo "$(($(date +%s) + 3600)) 02:00:00:00:00:04 203.0.113.4 outside *"
    } >"$deploy/run/dnsmasq.leases"
    start_server
    check "$deploy" --server --json
    expect_json 'd["server"]["leases_active"]' 2
    while (($(date +%s) <= soon)); do sleep 0.5; done
    check "$deploy" --server --json
    expect_json 'd["server"]["leases_active"]' 1
  else
    netns_settings "$deploy" 255.255.255.0 198.51.100.1 3 198.51.100.100-198.51.100.150
    start_server
    check "$deploy" --server --json
    expect_json 'd["server"]["leases_active"]' 0
    netns_udhcpc "$client" "$veth_c" 10 >/dev/null || netns_fail "no lease"
    leased=$(date +%s)
    check "$deploy" --server --json
    expect_json 'd["server"]["leases_active"]' 1
    # Kea reclaims an expired lease within a second.
    while check "$deploy" --server --json && [[ $(json 'd["server"]["leases_active"]') != 0 ]]; do
      (($(date +%s) < leased + 10)) || netns_fail "the lease did not expire: $(json 'd["server"]')"
      sleep 0.5
    done
    (($(date +%s) >= leased + 3)) || netns_fail "the lease expired before its time"
  fi
  expect_json 'd["server"]["pool_size"]' 51
  ;;
dry_run)
  # The dry run finds a bad Interface and a configuration the engine refuses, leaves the state
  # folder (or its absence) as it was, and tests the configuration in a folder it removes.
  netns_plugin_settings "$deploy" "Engine=$engine" "Interface=nosuch$NETNS_TAG"
  check "$deploy" --server --json
  expect_status 9
  expect_json 'd["dry_run"]["code"]' 54
  [[ ! -e $deploy/run ]] || netns_fail "the dry run made the state folder"
  netns_plugin_settings "$deploy" "Engine=$engine" "Interface=$veth_s"
  check "$deploy" --server --json
  expect_json 'd["dry_run"]["code"]' 0
  [[ ! -e $deploy/run ]] || netns_fail "the dry run made the state folder"
  start_server
  wrapper="$NETNS_TMP/refusing-engine"
  printf '#!/bin/sh
for a; do case $a in -t|--test) echo "dnsmasq: bad option at line 3"; exit 1;; esac; done
exec %s "$@"
' \
    "$program" >"$wrapper"
  chmod 755 "$wrapper"
  netns_plugin_settings "$deploy" "Engine=$engine" "Interface=$veth_s" "DnsmasqProgram=$wrapper" \
    "KeaProgram=$wrapper"
  tree=$(snapshot "$deploy/run" engine.log)
  # The dry run's folder is made and removed beside the state folder: the time of the deployment's
  # folder changes, but nothing may stay in it.
  deployment=$(ENTRIES=1 snapshot "$deploy" run log)
  check "$deploy" --server --json
  expect_json 'd["dry_run"]["code"]' 59
  [[ $(json 'd["dry_run"]["message"]') == *"bad option at line 3"*"Nothing was started or stopped."* ]] ||
    netns_fail "dry run: $(json 'd["dry_run"]')"
  [[ $(snapshot "$deploy/run" engine.log) == "$tree" ]] || netns_fail "the dry run changed the state folder"
  [[ $(ENTRIES=1 snapshot "$deploy" run log) == "$deployment" ]] ||
    netns_fail "the dry run left something in the deployment: $(ls -la "$deploy")"
  [[ $(engine_pid) == "$pid" ]] || netns_fail "the server did not run on"
  ;;
stop_server)
  # --stop-server stops the server and says so; a second one finds none.
  start_server
  check "$deploy" --stop-server --json
  expect_status 0
  expect_json 'd["stop"]["code"]' 0
  [[ $(json 'd["stop"]["message"]') == *"stopped"*"pid $pid."* ]] || netns_fail "stop: $(json 'd["stop"]')"
  expect_json 'd["server"]["running"]' false
  [[ -z $(engine_pid) ]] || netns_fail "the server still runs"
  check "$deploy" --stop-server
  expect_status 0
  [[ $CHECK_OUT == *"No DHCP server of this deployment was running"* ]] || netns_fail "second stop: $CHECK_OUT"
  ;;
*)
  netns_fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name with $engine"
