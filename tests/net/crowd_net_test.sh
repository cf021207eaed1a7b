#!/usr/bin/env bash
# dhcp-crowd against a real dnsmasq started directly, inside private network namespaces: a crowd
# leases with host names, one client asks again for its address, for a wrong one and for another
# client's, one renews and one rebinds, a flood is counted, and a crowd without a server times out.
#
# crowd_net_test.sh CROWD
# Exit 0 passed, 1 failed, 77 skipped (not root or a package missing; with CI set: failed).
set -uo pipefail
source "$(dirname "$0")/netns.sh"

crowd=$1
netns_require /usr/sbin/dnsmasq python3 "$crowd"
netns_init cr
server="crs$NETNS_TAG" client="crc$NETNS_TAG"
veth_s="s$NETNS_TAG" veth_c="c$NETNS_TAG"
netns_add "$server"
netns_add "$client"
netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"

# No ping before an offer: the crowd is under test here, not the server's wait.
state=$NETNS_TMP/dnsmasq
mkdir "$state"
cat >"$state/dnsmasq.conf" <<EOF
port=0
interface=$veth_s
bind-interfaces
no-hosts
no-resolv
dhcp-range=198.51.100.100,198.51.100.199,255.255.255.0,600
dhcp-option=option:router,198.51.100.1
dhcp-authoritative
dhcp-leasefile=$state/leases
pid-file=$state/pid
log-facility=$state/log
no-ping
EOF
ip netns exec "$server" /usr/sbin/dnsmasq --conf-file="$state/dnsmasq.conf" ||
  netns_fail "dnsmasq did not start: $(cat "$state/log" 2>/dev/null)"

# crowd NAME EXPECTED_STATUS ARGUMENT...: runs dhcp-crowd in the client namespace; its JSON goes
# to $NETNS_TMP/NAME.json.
crowd() {
  local name=$1 expected=$2 status
  shift 2
  ip netns exec "$client" "$crowd" -i "$veth_c" --seed 7 --leases "$@" >"$NETNS_TMP/$name.json"
  status=$?
  [[ $status == "$expected" ]] ||
    netns_fail "$name: exit status $status, expected $expected: $(cat "$NETNS_TMP/$name.json")"
}

# expect NAME PYTHON_CONDITION: the condition holds for the JSON of run NAME (as r).
expect() {
  python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))
sys.exit(0 if eval(sys.argv[2]) else 1)' "$NETNS_TMP/$1.json" "$2" ||
    netns_fail "$1: not so: $2: $(cat "$NETNS_TMP/$1.json")"
}

crowd lease 0 -n 50 --deadline 20 --hostname 'crowd-{n}'
expect lease 'r["leased"] == 50 and r["timeouts"] == 0 and r["naks"] == 0'
expect lease 'r["duplicate_addresses"] == 0 and len(set(r["leases"].values())) == 50'
expect lease 'sorted(r["leases"]) == ["02:dc:00:00:00:%02x" % i for i in range(50)]'
expect lease 'all(100 <= int(a.split(".")[3]) <= 199 and a.startswith("198.51.100.") for a in r["leases"].values())'
expect lease 'r["servers"] == ["198.51.100.1"] and r["time_to_lease_ms"]["max"] <= r["all_leased_ms"]'
# The server's own record agrees: the same address for each hardware address, and the host name.
python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))
held = {f[1]: (f[2], f[3]) for f in (line.split() for line in open(sys.argv[2]))}
for mac, address in r["leases"].items():
    number = int(mac.replace(":", "")[-8:], 16)
    if held.get(mac) != (address, "crowd-%d" % number):
        sys.exit("%s: crowd %s, server %s" % (mac, address, held.get(mac)))' \
  "$NETNS_TMP/lease.json" "$state/leases" || netns_fail "the server's lease file disagrees"
address=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["leases"]["02:dc:00:00:00:00"])' \
  "$NETNS_TMP/lease.json")

# INIT-REBOOT: the holder gets its address again; a wrong network and another holder's address
# are refused with the server's reason.
crowd own 0 --request "$address" --deadline 5
expect own "r[\"leased\"] == 1 and r[\"leases\"] == {\"02:dc:00:00:00:00\": \"$address\"}"
crowd wrong 0 --request 203.0.113.250 --deadline 5
expect wrong 'r["refused"] == 1 and r["leased"] == 0 and r["naks"] == 1'
crowd taken 0 --request "$address" --mac-offset 1000 --deadline 5
expect taken 'r["refused"] == 1 and r["refused_by"] == {"02:dc:00:00:03:e8": "address in use"}'

# Renewing (unicast, the server's answer found through ARP) and rebinding (broadcast).
crowd renew 0 --renew "$address" --server 198.51.100.1 --deadline 5
expect renew "r[\"leased\"] == 1 and r[\"leases\"] == {\"02:dc:00:00:00:00\": \"$address\"}"
crowd rebind 0 --renew "$address" --deadline 5
expect rebind 'r["leased"] == 1'

# A flood is sent whole and its answers counted: a NAK for a wrong address at least sometimes.
crowd flood 0 -n 90 --rate 1000 --flood discover,wrong-address,other-network --mac-offset 5000
expect flood 'r["sent"] == {"discover": 30, "wrong-address": 30, "other-network": 30}'
expect flood 'r["answers"]["offer"] > 0 and r["answers"]["nak"] > 0 and r["answers"]["ack"] == 0'

# Without a server every client times out by the deadline, and the exit status says so.
kill "$(cat "$state/pid")"
crowd alone 1 -n 3 --mac-offset 9000 --deadline 2 --retransmit 0.5
expect alone 'r["leased"] == 0 and r["timeouts"] == 3 and r["all_leased_ms"] is None'
expect alone 'r["retransmits"] >= 3 and 1900 <= r["elapsed_ms"] <= 3000'
echo "PASS: dhcp-crowd with dnsmasq"
