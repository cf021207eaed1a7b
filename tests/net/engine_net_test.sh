#!/usr/bin/env bash
# Real DHCP servers and clients through the launcher, inside private network namespaces.
#
# engine_net_test.sh CASE ENGINE LAUNCHER COMPONENT PLUGIN
#   CASE: serve | no_address | port_taken | missing | stale_pid | concurrent | refused |
#         unsafe_state | dhclient; ENGINE: dnsmasq | kea
# Exit 0 passed, 1 failed, 77 skipped (not root or a package missing; with CI set: failed).
set -uo pipefail
source "$(dirname "$0")/netns.sh"

case_name=$1 engine=$2 launcher=$3 component=$4 plugin=$5
program=/usr/sbin/dnsmasq
[[ $engine == kea ]] && program=/usr/sbin/kea-dhcp4
clients=(busybox)
[[ $case_name == dhclient ]] && clients=(dhclient)
netns_require "$program" "${clients[@]}"

netns_init "d${engine:0:1}"
server="dhs$NETNS_TAG" client="dhc$NETNS_TAG" outside="dho$NETNS_TAG"
veth_s="s$NETNS_TAG" veth_c="c$NETNS_TAG"
netns_add "$server"
netns_add "$client"
deploy="$NETNS_TMP/deploy"
netns_stage "$deploy" "$launcher" "$component" "$plugin"
plugin_settings=("Engine=$engine" "Interface=$veth_s")

# The expected lease fields of a lease line.
expect_lease() { # LEASE FIRST LAST MASK ROUTER SECONDS
  local ip
  [[ -n $1 ]] || netns_fail "no lease; the plugin answered $ANSWER_CODE: $ANSWER"
  ip=$(netns_field ip "$1")
  netns_in_range "$ip" "$2" "$3" || netns_fail "address $ip outside $2-$3: $1"
  [[ $(netns_field subnet "$1") == "$4" ]] || netns_fail "mask: $1"
  [[ $(netns_field router "$1") == "$5" ]] || netns_fail "router: $1"
  [[ $(netns_field lease "$1") == "$6" ]] || netns_fail "lease time: $1"
  [[ $(netns_field serverid "$1") == 198.51.100.1 ]] || netns_fail "server: $1"
}

expect_engines() { # COUNT
  local pids
  pids=$(netns_engine_pids "$server" | wc -l)
  [[ $pids -eq $1 ]] || netns_fail "expected $1 engine process(es) in the server namespace, found $pids"
}

case $case_name in
serve)
  # A client gets a lease from the range; a second link outside the subnet gets nothing; a second
  # launcher run with a new range and lease replaces the server.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_add "$outside"
  netns_link "$server" "o$NETNS_TAG" 203.0.113.1/24 "$outside" "p$NETNS_TAG"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  # A launcher that ignores signals does not pass that on to the server.
  netns_launch "$server" "$deploy" TERM HUP QUIT
  netns_expect_code 0
  engine_pid=$(netns_engine_pids "$server" | head -n 1)
  (((0x$(netns_ignored_signals "$engine_pid") & 0x4005) == 0)) ||
    netns_fail "the server ignores SIGTERM, SIGHUP or SIGQUIT as the launcher did"
  [[ $ANSWER == *"interface $veth_s"* && $ANSWER == *"198.51.100.100-198.51.100.150 (51 addresses)"* ]] ||
    netns_fail "answer does not say what runs: $ANSWER"
  netns_udhcpc "$outside" "p$NETNS_TAG" 3 >"$NETNS_TMP/outside" &
  stray=$!
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.100 198.51.100.150 255.255.255.0 198.51.100.1 600
  wait "$stray"
  [[ ! -s $NETNS_TMP/outside ]] || netns_fail "a client outside the subnet got $(cat "$NETNS_TMP/outside")"
  expect_engines 1

  netns_settings "$deploy" 255.255.255.128 198.51.100.1 300 198.51.100.20-198.51.100.40
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  ip -n "$client" link set "$veth_c" address 02:00:00:00:00:42
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.20 198.51.100.40 255.255.255.128 198.51.100.1 300
  expect_engines 1
  ;;
no_address)
  # The named interface holds no address in the subnet: a code naming the one that would fit.
  netns_link "$server" "$veth_s" 203.0.113.1/24 "$client" "$veth_c"
  netns_link "$server" "f$NETNS_TAG" 198.51.100.1/24 "$client" "g$NETNS_TAG"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 55
  [[ $ANSWER == *"f$NETNS_TAG"* ]] || netns_fail "answer names no fitting interface: $ANSWER"
  expect_engines 0
  ;;
port_taken)
  # Port 67 is held by another program: the engine's own reason comes back.
  netns_require python3
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  ip netns exec "$server" python3 -c 'import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 67))
open("'"$NETNS_TMP/bound"'", "w").close()
time.sleep(60)' &
  for _ in $(seq 50); do [[ -e $NETNS_TMP/bound ]] && break; sleep 0.1; done
  [[ -e $NETNS_TMP/bound ]] || netns_fail "could not take port 67 for the test"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 60
  [[ $ANSWER == *"in use"* || $ANSWER == *"socket"* ]] || netns_fail "no reason given: $ANSWER"
  expect_engines 0
  ;;
missing)
  # The engine is not where the settings say, even though PATH would find one: nothing runs.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" DnsmasqProgram=/nonexistent/dnsmasq \
    KeaProgram=/nonexistent/kea-dhcp4
  netns_launch "$server" "$deploy"
  netns_expect_code 50
  expect_engines 0
  ;;
stale_pid)
  # The pid files name a live process that is not our server: it is left alone.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  ip netns exec "$server" sleep 60 &
  bystander=$!
  sleep 0.1
  mkdir -m 700 "$deploy/run"
  for name in server.pid dnsmasq.pid kea-dhcp4.kea-dhcp4.pid; do echo "$bystander" >"$deploy/run/$name"; done
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  kill -0 "$bystander" 2>/dev/null || netns_fail "the unrelated process was signalled"
  expect_engines 1
  ;;
concurrent)
  # Two launcher runs at once (and a third after them): one server runs, started by the last.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy" &
  netns_launch "$server" "$deploy"
  wait $! || netns_fail "the concurrent launcher run failed"
  expect_engines 1
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  expect_engines 1
  [[ $(grep -c ' RequestService answered 0: ' "$deploy/log/mekDHCPPluginu.log") == 3 ]] ||
    netns_fail "not every run started the server: $(grep ' answered ' "$deploy/log/mekDHCPPluginu.log")"
  ;;
unsafe_state)
  # A state folder that is a symbolic link, or that others may write to, is refused.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  mkdir -m 700 "$NETNS_TMP/elsewhere"
  ln -s "$NETNS_TMP/elsewhere" "$deploy/run"
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 56
  mkdir -m 777 "$deploy/open"
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" 'StateFolder=..\open'
  netns_launch "$server" "$deploy"
  netns_expect_code 56
  [[ -z $(ls -A "$NETNS_TMP/elsewhere") && -z $(ls -A "$deploy/open") ]] ||
    netns_fail "a file was written in a refused folder"
  expect_engines 0
  ;;
refused)
  # A configuration the engine's own test refuses stops nothing: the server started before serves
  # on. The engine's program is a wrapper whose test fails.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  expect_engines 1
  wrapper="$NETNS_TMP/refusing-engine"
  printf '#!/bin/sh
for a; do case $a in -t|--test) echo "dnsmasq: bad option at line 3"; exit 1;; esac; done
exec %s "$@"
' \
    "$program" >"$wrapper"
  chmod 755 "$wrapper"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 300 198.51.100.20-198.51.100.40
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" "DnsmasqProgram=$wrapper" "KeaProgram=$wrapper"
  netns_launch "$server" "$deploy"
  netns_expect_code 59
  [[ $ANSWER == *"bad option at line 3"* && $ANSWER == *"Nothing was started or stopped"* ]] ||
    netns_fail "answer does not give the engine's reason: $ANSWER"
  expect_engines 1
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.100 198.51.100.150 255.255.255.0 198.51.100.1 600
  ;;
dhclient)
  # ISC dhclient as the client; a lease below dnsmasq's shortest is served as 120 s and said so.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 60 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  served=60
  if [[ $engine == dnsmasq ]]; then
    served=120
    [[ $ANSWER == *"lease 120 seconds. DuringTime 60 was raised"* ]] ||
      netns_fail "answer does not say the lease was raised: $ANSWER"
  fi
  lease=$(netns_dhclient "$client" "$veth_c")
  expect_lease "$lease" 198.51.100.100 198.51.100.150 255.255.255.0 198.51.100.1 "$served"
  ;;
*)
  netns_fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name with $engine: $ANSWER"
