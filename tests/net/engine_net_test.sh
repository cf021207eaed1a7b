#!/usr/bin/env bash
# Real DHCP servers and clients through the launcher, inside private network namespaces.
#
# engine_net_test.sh CASE ENGINE LAUNCHER COMPONENT PLUGIN
#   CASE: serve | no_address | port_taken | missing | stale_pid | concurrent | refused |
#         unsafe_state | dhclient | moved | program_changed | foreign | umask | own_reason |
#         slow_start; ENGINE: dnsmasq | kea
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

# A program that runs the engine, as an operator's wrapper or a copy elsewhere would.
make_wrapper() { # PATH BODY
  printf '#!/bin/bash\n%s\n' "$2" >"$1"
  chmod 755 "$1"
}

# Whether the process is alive (not a zombie).
alive() { # PID
  [[ -e /proc/$1 && $(sed -E 's/.*\) (.).*/\1/' "/proc/$1/stat" 2>/dev/null) != Z ]]
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
  netns_expect_code 64
  [[ $ANSWER == *"pid "*python* && $ANSWER == *"nothing was started or stopped"* ]] ||
    netns_fail "the answer does not name the program holding the port: $ANSWER"
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
  # A record of a server whose pid the bystander now has: it started at another time.
  printf 'engine=%s\npid=%s\nstart=1\nexe=%s\n' "$engine" "$bystander" \
    "$(stat -L -c '%d:%i' "/proc/$bystander/exe")" >"$deploy/run/server.record"
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
moved)
  # The deployment folder, state folder and all, is moved: the server it started is still found
  # and replaced, so that one server serves the new range.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  first=$(netns_engine_pids "$server")
  mv "$deploy" "$deploy-moved"
  deploy="$deploy-moved"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 300 198.51.100.20-198.51.100.40
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  alive "$first" && netns_fail "the server started before the move still runs"
  expect_engines 1
  [[ $ANSWER == *"It started in "*" seconds."* ]] || netns_fail "the answer does not say how long the start took: $ANSWER"
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.20 198.51.100.40 255.255.255.0 198.51.100.1 300
  ;;
program_changed)
  # The engine's program setting now names a wrapper that runs the same engine: the server started
  # through the old setting is still found and replaced, and so is the one the wrapper started.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  first=$(netns_engine_pids "$server")
  wrapper="$NETNS_TMP/engine-wrapper"
  make_wrapper "$wrapper" "exec $program \"\$@\""
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" "DnsmasqProgram=$wrapper" "KeaProgram=$wrapper"
  for range in 198.51.100.20-198.51.100.40 198.51.100.60-198.51.100.80; do
    netns_settings "$deploy" 255.255.255.0 198.51.100.1 300 "$range"
    netns_launch "$server" "$deploy"
    netns_expect_code 0
    expect_engines 1
  done
  alive "$first" && netns_fail "the server started through the old program setting still runs"
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.60 198.51.100.80 255.255.255.0 198.51.100.1 300
  ;;
foreign)
  # A server this deployment did not start holds the port on the interface (and its pid file is
  # where ours would be): refused with 64 naming it, it keeps serving and its pid file stays. One
  # serving another interface of the same machine is no obstacle.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_link "$server" "f$NETNS_TAG" 203.0.113.1/24 "$client" "g$NETNS_TAG"
  mkdir -m 700 "$deploy/run"
  foreign_server() { # INTERFACE FIRST LAST
    printf 'port=0\ninterface=%s\nbind-interfaces\nno-hosts\nno-resolv\ndhcp-range=%s,%s,255.255.255.0,600\ndhcp-leasefile=%s\npid-file=%s\nlog-facility=%s\n' \
      "$1" "$2" "$3" "$NETNS_TMP/foreign.leases" "$deploy/run/dnsmasq.pid" "$NETNS_TMP/foreign.log" \
      >"$NETNS_TMP/foreign.conf"
    ip netns exec "$server" /usr/sbin/dnsmasq --conf-file="$NETNS_TMP/foreign.conf" ||
      netns_fail "the foreign server did not start"
    cat "$deploy/run/dnsmasq.pid"
  }
  netns_require /usr/sbin/dnsmasq
  foreign=$(foreign_server "$veth_s" 198.51.100.200 198.51.100.210)
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 64
  [[ $ANSWER == *"pid $foreign ("*dnsmasq* && $ANSWER == *"nothing was started or stopped"* ]] ||
    netns_fail "the answer does not name the server holding the port: $ANSWER"
  alive "$foreign" || netns_fail "the foreign server was stopped"
  [[ $(cat "$deploy/run/dnsmasq.pid" 2>/dev/null) == "$foreign" ]] ||
    netns_fail "the pid file naming a live engine was removed"
  expect_engines 1
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.200 198.51.100.210 255.255.255.0 198.51.100.1 600

  kill "$foreign"
  while alive "$foreign"; do sleep 0.05; done
  foreign=$(foreign_server "f$NETNS_TAG" 203.0.113.100 203.0.113.110)
  netns_launch "$server" "$deploy"
  alive "$foreign" || netns_fail "the server of another interface was stopped"
  if [[ $engine == kea ]]; then
    # Kea binds the interface's address without sharing: dnsmasq's wildcard socket keeps it out.
    netns_expect_code 64
    [[ $ANSWER == *"pid $foreign ("*dnsmasq* ]] || netns_fail "the answer does not name the holder: $ANSWER"
    expect_engines 1
  else
    netns_expect_code 0
    expect_engines 2
    lease=$(netns_udhcpc "$client" "$veth_c" 10)
    expect_lease "$lease" 198.51.100.100 198.51.100.150 255.255.255.0 198.51.100.1 600
  fi
  ;;
umask)
  # Started with umask 000, the server still keeps its files to root: no other user reads the
  # leases or reaches Kea's control socket, even once the state folder is opened to them; and a
  # state folder others may enter is then refused, with the command that fixes it.
  netns_require /usr/bin/python3 setpriv
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  umask 000
  netns_launch "$server" "$deploy"
  umask 022
  netns_expect_code 0
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.100 198.51.100.150 255.255.255.0 198.51.100.1 600
  chmod 755 "$deploy/run"
  as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
  if [[ $engine == kea ]]; then
    as_nobody /usr/bin/python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b"{\"command\": \"config-write\", \"arguments\": {\"filename\": \"" + sys.argv[2].encode() + b"\"}}")
print(s.recv(4096).decode())' "$deploy/run/kea4.sock" "$NETNS_TMP/written-as-root" >/dev/null 2>&1 &&
      netns_fail "another user commands the server through its control socket"
    [[ ! -e $NETNS_TMP/written-as-root ]] || netns_fail "another user had the server write a file"
  fi
  leases=$(ls "$deploy/run/"*leases*)
  for file in $leases; do
    as_nobody cat "$file" >/dev/null 2>&1 && netns_fail "another user reads $file"
  done
  open=$(find "$deploy/run" -mindepth 1 -perm /077 -printf '%m %u %p\n')
  [[ -z $open ]] || netns_fail "files of the server open to group or others: $open"
  netns_launch "$server" "$deploy"
  netns_expect_code 56
  [[ $ANSWER == *"chmod 700 $deploy/run" ]] || netns_fail "the answer does not give the fix: $ANSWER"
  expect_engines 1
  ;;
own_reason)
  # The server started before, of the other engine, is stopped and says so in the log; the new
  # engine then fails without a word: the answer must not pass off the old server's farewell (or
  # lines others append to the log meanwhile) as the new engine's reason.
  other=kea
  [[ $engine == kea ]] && other=dnsmasq
  netns_require /usr/sbin/dnsmasq /usr/sbin/kea-dhcp4
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "Engine=$other" "Interface=$veth_s"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  first=$(netns_engine_pids "$server")
  wrapper="$NETNS_TMP/silent-engine"
  make_wrapper "$wrapper" "for a; do case \$a in -t|--test) exec $program \"\$@\";; esac; done
exit 2"
  program_key=DnsmasqProgram
  [[ $engine == kea ]] && program_key=KeaProgram
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" "$program_key=$wrapper"
  # dnsmasq's daemon, running as user nobody, holds the log open: lines written through it while
  # the new dnsmasq starts are not the new one's. (Kea runs as root: only root writes its log.)
  planter=""
  if [[ $engine == dnsmasq ]]; then
    (while :; do echo "dnsmasq: PLANTED" >>"$deploy/run/engine.log"; sleep 0.01; done) &
    planter=$!
  fi
  netns_launch "$server" "$deploy"
  if [[ -n $planter ]]; then
    kill "$planter"
    wait "$planter" 2>/dev/null
  fi
  [[ $ANSWER_CODE == 6[02] ]] || netns_fail "expected code 60 or 62, got $ANSWER_CODE: $ANSWER"
  [[ $ANSWER == *'"no reason given"'* ]] || netns_fail "the reason is not the new engine's: $ANSWER"
  [[ $ANSWER == *"The server started before was stopped."* ]] || netns_fail "the answer hides the stop: $ANSWER"
  alive "$first" && netns_fail "the server started before still runs"
  grep -q . "$deploy/run/engine.log" || netns_fail "the engine log is empty"
  expect_engines 0
  ;;
slow_start)
  # A server that loads a large lease file for longer than 10 seconds, busy all along, is waited
  # for, and the answer says how long it took; one that idles is given up after 10 seconds.
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "${plugin_settings[@]}"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  [[ $engine == kea ]] || netns_fail "slow_start is a case for kea"
  # 24 MiB of leases, as a busy network leaves between two cleanups: a wait of 22 seconds.
  awk -v now="$(date +%s)" 'BEGIN {
    print "address,hwaddr,client_id,valid_lifetime,expire,subnet_id,fqdn_fwd,fqdn_rev,hostname,state,user_context"
    for (i = 0; i < 380000; i++) {
      a = 100 + i % 50
      printf "198.51.100.%d,02:00:00:00:00:%02x,,600,%d,1,0,0,host-number-%d.example,0,\n", a, a, now + 600, a
    }
  }' >"$NETNS_TMP/leases.csv"
  busy="$NETNS_TMP/busy-engine"
  make_wrapper "$busy" "for a; do case \$a in -t) exec $program \"\$@\";; esac; done
end=\$((SECONDS + 12)); while ((SECONDS < end)); do :; done
exec $program \"\$@\""
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" "KeaProgram=$busy"
  cat "$NETNS_TMP/leases.csv" >"$deploy/run/kea-leases4.csv"
  netns_launch "$server" "$deploy"
  netns_expect_code 0
  took=$(sed -nE 's/.*It started in ([0-9]+)\.[0-9] seconds\..*/\1/p' <<<"$ANSWER")
  [[ -n $took && $took -ge 12 ]] || netns_fail "the answer does not say it took 12 seconds or more: $ANSWER"
  expect_engines 1
  lease=$(netns_udhcpc "$client" "$veth_c" 10)
  expect_lease "$lease" 198.51.100.100 198.51.100.150 255.255.255.0 198.51.100.1 600

  idle="$NETNS_TMP/idle-engine"
  make_wrapper "$idle" "for a; do case \$a in -t) exec $program \"\$@\";; esac; done
sleep 30
exec $program \"\$@\""
  netns_plugin_settings "$deploy" "${plugin_settings[@]}" "KeaProgram=$idle"
  began=$SECONDS
  netns_launch "$server" "$deploy"
  netns_expect_code 62
  [[ $ANSWER == *"no sign of starting"* ]] || netns_fail "the answer does not say it idled: $ANSWER"
  ((SECONDS - began < 20)) || netns_fail "an idle engine was waited for $((SECONDS - began)) seconds"
  expect_engines 0
  ;;
*)
  netns_fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name with $engine: $ANSWER"
