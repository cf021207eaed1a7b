#!/usr/bin/env bash
# The lab: a real DHCP server started by the launcher, and a real client leasing from it, inside
# two private network namespaces joined by a veth pair. Run as root from anywhere:
#
#   lab/run-lab.sh [--engine dnsmasq|kea|auto]
#   lab/run-lab.sh --ha hot-standby|load-balancing
#
# It installs what is missing (Debian), builds into build/lab, stages a deployment in
# build/lab/deployment with lab/fylDHCPServer.ini (198.51.100.0/24), writes the engine and the
# namespace's interface into the staged plugin settings, runs the launcher in the server namespace
# and busybox udhcpc in the client namespace, prints the plugin's answer, the check program's
# report and the lease, then stops the server and removes the namespaces, also on failure.
#
# With --ha it runs two deployments as a pair of Kea servers (build/lab/primary and
# build/lab/secondary) in two server namespaces, joined to a client namespace by a bridge in a
# namespace of its own, over TLS with a CA and two certificates made with openssl for the run;
# leases a client, kills the engine that served it (kill -9), and prints how long until a new
# client got a lease from the survivor, then that the first client kept its address.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

engine=dnsmasq
ha=""
usage="usage: $0 [--engine dnsmasq|kea|auto] | --ha hot-standby|load-balancing"
while (($#)); do
  case $1 in
  --ha)
    ha=${2:-}
    shift 2 || true
    ;;
  --ha=*)
    ha=${1#--ha=}
    shift
    ;;
  --engine)
    engine=${2:-}
    shift 2 || true
    ;;
  --engine=*)
    engine=${1#--engine=}
    shift
    ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
  esac
done
case $ha in "" | hot-standby | load-balancing) ;; *)
  echo "unknown pair mode '$ha': use hot-standby or load-balancing" >&2
  exit 2
  ;;
esac
[[ -n $ha ]] && engine=kea
case $engine in dnsmasq | kea | auto) ;; *)
  echo "unknown engine '$engine': use dnsmasq, kea or auto" >&2
  exit 2
  ;;
esac

if [[ $(id -u) -ne 0 ]]; then
  echo "The lab needs root: it creates network namespaces and a veth pair, and the DHCP server it" >&2
  echo "starts binds port 67. Run it as root (sudo $0)." >&2
  exit 1
fi

# What a fresh Debian machine lacks.
packages=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev dnsmasq-base kea-dhcp4-server busybox
          iproute2)
[[ -n $ha ]] && packages+=(openssl)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
# No package may start a service while it is installed: Debian's Kea package would start its own
# DHCP server in the machine's own network on a machine with systemd. invoke-rc.d and
# deb-systemd-invoke ask /usr/sbin/policy-rc.d first, and its 101 means "not allowed"; a policy
# the machine had is put back afterwards, also when the install fails.
policy=/usr/sbin/policy-rc.d
saved_policy=$policy.dhcp-lab-saved
restore_policy() {
  rm -f "$policy"
  if [[ -e $saved_policy || -L $saved_policy ]]; then mv "$saved_policy" "$policy"; fi
}
if ((${#missing[@]})); then
  echo "== Installing ${missing[*]}"
  if [[ ! -e $saved_policy && (-e $policy || -L $policy) ]]; then mv "$policy" "$saved_policy"; fi
  trap restore_policy EXIT
  printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" &&
    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" || exit 1
  restore_policy
  trap - EXIT
  # Debian's Kea package enables its own server on a machine with systemd; the lab serves only in
  # its namespaces, so that one is stopped and disabled.
  if [[ " ${missing[*]} " == *" kea-dhcp4-server "* ]] && command -v systemctl >/dev/null &&
    systemctl is-enabled kea-dhcp4-server.service >/dev/null 2>&1; then
    systemctl disable --now kea-dhcp4-server.service &&
      echo "== Stopped and disabled kea-dhcp4-server.service, which installing Kea enabled"
  fi
fi

echo "== Building into build/lab"
cmake -S "$root" -B "$root/build/lab" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDHCP_BUILD_TESTS=OFF >/dev/null || exit 1
cmake --build "$root/build/lab" -j2 --target dhcp-launcher dhcp-launcher-check reference_component \
  reference_plugin ||
  exit 1

source "$root/tests/net/netns.sh"
netns_init lab
server="labs$$" client="labc$$" veth_s="labs$$" veth_c="labc$$"
deploy="$root/build/lab/deployment"

# stage DIR: a deployment staged from build/lab with the lab's settings.
stage() {
  rm -rf "$1"
  netns_stage "$1" "$root/build/lab/launcher/dhcp-launcher" \
    "$root/build/lab/reference/fylDHCPD.dll" "$root/build/lab/reference/mekDHCPPluginu.dll"
  cp "$root/build/lab/check/dhcp-launcher-check" "$1/bin/"
  cp "$root/lab/fylDHCPServer.ini" "$1/config/fylDHCPServer.ini"
}
stage "$deploy"
gateway=$(sed -n 's/^Gateway=//p' "$deploy/config/fylDHCPServer.ini" | tr -d '\r')
mask=$(sed -n 's/^SubNetMask=//p' "$deploy/config/fylDHCPServer.ini" | tr -d '\r')
[[ $gateway == 198.51.100.* || $gateway == 203.0.113.* ]] ||
  netns_fail "the lab serves only 198.51.100.0/24 or 203.0.113.0/24, not $gateway"
prefix=0
for octet in ${mask//./ }; do
  for bit in 128 64 32 16 8 4 2 1; do ((octet & bit)) && ((prefix++)); done
done

# The pair: two server namespaces and a client namespace with two interfaces (two clients), on a
# bridge in a namespace of its own; each server holds the gateway's subnet's .2 or .3.
run_pair() {
  local net=${gateway%.*} bridge="labb$$" ns1="lab1$$" ns2="lab2$$" pki="$NETNS_TMP/pki"
  local address1="$net.2" address2="$net.3" dir role ns interface lease first served
  local primary="$root/build/lab/primary" secondary="$root/build/lab/secondary"
  echo "== Namespaces $ns1 (primary, $address1), $ns2 (secondary, $address2) and $client (two clients), bridged in $bridge"
  netns_bridge "$bridge"
  for ns in "$ns1" "$ns2" "$client"; do netns_add "$ns"; done
  netns_attach "$bridge" "$ns1" "lab1$$" "$address1/$prefix"
  netns_attach "$bridge" "$ns2" "lab2$$" "$address2/$prefix"
  netns_attach "$bridge" "$client" "labc$$"
  netns_attach "$bridge" "$client" "labd$$"
  echo "== A CA and a certificate for each server, made with openssl in $pki"
  netns_pair_pki "$pki" "$address1" "$address2"
  for role in primary secondary; do
    dir=$primary ns=$ns1 interface="lab1$$"
    [[ $role == secondary ]] && dir=$secondary ns=$ns2 interface="lab2$$"
    stage "$dir"
    printf '[ENGINE]\nEngine=kea\nInterface=%s\n[HA]\nMode=%s\nRole=%s\nPrimaryUrl=https://%s:8001/\nSecondaryUrl=https://%s:8001/\nTrustAnchor=%s/ca.pem\nCertFile=%s/%s.pem\nKeyFile=%s/%s.key\n' \
      "$interface" "$ha" "$role" "$address1" "$address2" "$pki" "$pki" "$role" "$pki" "$role" \
      >"$dir/config/mekDHCPPluginu.ini"
    echo "== Running the $role's launcher in $ns"
    netns_launch "$ns" "$dir"
    echo "Plugin answered $ANSWER_CODE: $ANSWER"
    [[ $ANSWER_CODE == 0 ]] || netns_fail "the plugin did not start the $role"
  done
  sleep 3
  for role in primary secondary; do
    dir=$primary ns=$ns1
    [[ $role == secondary ]] && dir=$secondary ns=$ns2
    echo "== dhcp-launcher-check --server of the $role"
    (cd "$dir/bin" && ip netns exec "$ns" ./dhcp-launcher-check --server) | grep -E '^  (running|pair):'
  done
  echo "== The first client leases"
  lease=$(netns_udhcpc "$client" "labc$$" 10) || netns_fail "the first client got no lease"
  first=$(netns_field ip "$lease") served=$(netns_field serverid "$lease")
  echo "First client: $first from $served"
  ns=$ns1
  [[ $served == "$address2" ]] && ns=$ns2
  echo "== kill -9 of the engine that served it, in $ns; a new client asks at once"
  local killed
  killed=$(netns_engine_pids "$ns")
  local began
  began=$(date +%s%N)
  kill -9 $killed
  lease=$(netns_udhcpc "$client" "labd$$" 15) || netns_fail "the new client got no lease"
  printf 'New client: %s from %s, %d ms after the kill (its retries come every second)\n' \
    "$(netns_field ip "$lease")" "$(netns_field serverid "$lease")" $((($(date +%s%N) - began) / 1000000))
  [[ $ha == load-balancing ]] &&
    echo "(In load-balancing a new client of the survivor's own half is served at once; one of the dead server's half after the failover, within about 2 s.)"
  lease=$(netns_udhcpc "$client" "labc$$" 10) || netns_fail "the first client got no lease again"
  [[ $(netns_field ip "$lease") == "$first" ]] ||
    netns_fail "the first client got $(netns_field ip "$lease"), not $first"
  echo "First client again: $first, kept, from $(netns_field serverid "$lease")"
  echo "== Stopping the servers and removing the namespaces"
}
if [[ -n $ha ]]; then
  run_pair
  exit 0
fi

echo "== Namespaces $server (server, $veth_s $gateway/$prefix) and $client (client, $veth_c)"
netns_add "$server"
netns_add "$client"
netns_link "$server" "$veth_s" "$gateway/$prefix" "$client" "$veth_c"
netns_plugin_settings "$deploy" "Engine=$engine" "Interface=$veth_s"

echo "== Running the launcher in $server"
netns_launch "$server" "$deploy"
echo "Plugin answered $ANSWER_CODE: $ANSWER"
# What the launcher read and sent, as the check program sees it (it starts nothing without
# --run-plugin).
echo "== dhcp-launcher-check in $deploy/bin"
(cd "$deploy/bin" && ip netns exec "$server" ./dhcp-launcher-check) || true
[[ $ANSWER_CODE == 0 ]] || netns_fail "the plugin did not start a server"

echo "== Running busybox udhcpc in $client"
lease=$(netns_udhcpc "$client" "$veth_c" 10) || netns_fail "the client got no lease"
printf 'Lease: address %s, mask %s, router %s, lease time %s s, server %s\n' \
  "$(netns_field ip "$lease")" "$(netns_field subnet "$lease")" "$(netns_field router "$lease")" \
  "$(netns_field lease "$lease")" "$(netns_field serverid "$lease")"
echo "== Stopping the server and removing the namespaces"
