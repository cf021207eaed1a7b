#!/usr/bin/env bash
# Two deployments as one DHCP service (section HA): two server namespaces and a client namespace
# joined by a bridge in a namespace of its own, Kea paired over TLS with a CA made for the test.
#
# ha_net_test.sh CASE LAUNCHER COMPONENT PLUGIN CHECK CROWD
#   CASE: hot-standby | load-balancing (the pair serves, fails over after a kill -9 and recovers;
#         hot-standby also tries its listener with curl) | refusals (every setting that would
#         split the pair is refused and starts nothing)
# Exit 0 passed, 1 failed, 77 skipped (not root or a package missing; with CI set: failed).
set -uo pipefail
source "$(dirname "$0")/netns.sh"

case_name=$1 launcher=$2 component=$3 plugin=$4 check=$5 crowd=$6
netns_require /usr/sbin/kea-dhcp4 openssl curl python3 "$crowd"

netns_init ha
bridge="hab$NETNS_TAG" ns1="ha1$NETNS_TAG" ns2="ha2$NETNS_TAG" client="hac$NETNS_TAG"
if1="p$NETNS_TAG" if2="s$NETNS_TAG" ifc="c$NETNS_TAG"
address1=203.0.113.2 address2=203.0.113.3
url1="https://$address1:8001/" url2="https://$address2:8001/"
netns_bridge "$bridge"
for ns in "$ns1" "$ns2" "$client"; do netns_add "$ns"; done
netns_attach "$bridge" "$ns1" "$if1" "$address1/24"
netns_attach "$bridge" "$ns2" "$if2" "$address2/24"
netns_attach "$bridge" "$client" "$ifc"
pki="$NETNS_TMP/pki"
netns_pair_pki "$pki" "$address1" "$address2"
d1="$NETNS_TMP/primary" d2="$NETNS_TMP/secondary"
for dir in "$d1" "$d2"; do
  netns_stage "$dir" "$launcher" "$component" "$plugin"
  cp "$check" "$dir/bin/"
  netns_settings "$dir" 255.255.255.0 203.0.113.1 600 203.0.113.100-203.0.113.150
done

# pair DIR MODE [KEY=VALUE...]: the plugin settings of DIR's server (the primary for $d1) in a pair
# of MODE; a KEY=VALUE replaces that key's line (an empty VALUE leaves the key out) or adds it to
# its section.
pair() {
  local dir=$1 mode=$2 role=primary interface=$if1 line key i found
  shift 2
  [[ $dir == "$d2" ]] && role=secondary interface=$if2
  local engine=("Engine=kea" "Interface=$interface")
  local ha=("Mode=$mode" "Role=$role" "PrimaryUrl=$url1" "SecondaryUrl=$url2"
    "TrustAnchor=$pki/ca.pem" "CertFile=$pki/$role.pem" "KeyFile=$pki/$role.key")
  for line in "$@"; do
    key=${line%%=*} found=0
    for i in "${!engine[@]}"; do [[ ${engine[$i]%%=*} == "$key" ]] && engine[i]=$line found=1; done
    for i in "${!ha[@]}"; do [[ ${ha[$i]%%=*} == "$key" ]] && ha[i]=$line found=1; done
    ((found)) || engine+=("$line")
  done
  for line in "[ENGINE]" "${engine[@]}" "[HA]" "${ha[@]}"; do
    [[ $line == *= ]] || echo "$line"
  done >"$dir/config/mekDHCPPluginu.ini"
}

ns_of() { # DIR
  if [[ $1 == "$d2" ]]; then echo "$ns2"; else echo "$ns1"; fi
}

launch() { # DIR
  netns_launch "$(ns_of "$1")" "$1"
}

# check DIR ARGUMENT...: the check program of DIR's deployment in its namespace; sets CHECK_OUT.
check() {
  local dir=$1
  shift
  CHECK_OUT=$(cd "$dir/bin" && ip netns exec "$(ns_of "$dir")" ./dhcp-launcher-check "$@" 2>&1)
}

# json EXPRESSION: a value of the last --json report ("d"), printed as JSON.
json() {
  python3 -c 'import json, sys; d = json.loads(sys.stdin.read()); print(json.dumps('"$1"'))' \
    <<<"$CHECK_OUT" 2>/dev/null || echo "not-json"
}

# wait_pair DIR STATE PARTNER_STATE SECONDS: until DIR's server reports those states ("" for any).
wait_pair() {
  local deadline=$((SECONDS + $4))
  while :; do
    check "$1" --server --json
    local state partner
    state=$(json 'd["server"]["ha"]["state"]') partner=$(json 'd["server"]["ha"]["partner_state"]')
    [[ $state == "\"$2\"" && (-z $3 || $partner == "\"$3\"") ]] && return 0
    ((SECONDS < deadline)) ||
      netns_fail "$1 did not reach $2/$3 in $4 s: $(json 'd["server"]')"
    sleep 0.3
  done
}

engine_pid() { # NS
  netns_engine_pids "$1"
}

# crowd NAME ARGUMENT...: dhcp-crowd in the client namespace, its JSON in $NETNS_TMP/NAME.json.
crowd() {
  local name=$1
  shift
  ip netns exec "$client" "$crowd" -i "$ifc" --leases --retransmit 0.5 --retransmit-max 1 \
    --deadline 15 "$@" >"$NETNS_TMP/$name.json"
  return 0
}

# expect NAME CONDITION: a Python condition on run NAME's JSON (r).
expect() {
  python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))
sys.exit(0 if eval(sys.argv[2]) else 1)' "$NETNS_TMP/$1.json" "$2" ||
    netns_fail "$1: not so: $2: $(head -c 1500 "$NETNS_TMP/$1.json")"
}

# reboot NAME RUN SERVER: each client of run RUN (prefix 02:XX) asks for its address again
# (INIT-REBOOT) and must be acknowledged by SERVER with that very address.
reboot() {
  local name=$1 run=$2 server=$3 mac address
  while read -r mac address; do
    crowd "$name" -n 1 --mac-prefix "${mac:0:5}" --mac-offset "$((16#${mac: -2}))" --request "$address"
    expect "$name" "r['acks'] == 1 and r['naks'] == 0 and r['servers'] == ['$server'] and r['leases'] == {'$mac': '$address'}"
  done < <(python3 -c 'import json, sys
for mac, address in json.load(open(sys.argv[1]))["leases"].items(): print(mac, address)' "$NETNS_TMP/$run.json")
}

# The addresses of runs, each once: no address went to two clients.
expect_distinct() { # RUN...
  python3 -c 'import json, sys
seen = [a for run in sys.argv[1:] for a in json.load(open(run))["leases"].values()]
sys.exit(0 if len(seen) == len(set(seen)) else 1)' "${@/#/$NETNS_TMP/}" ||
    netns_fail "an address went to two clients: $(cat "${@/#/$NETNS_TMP/}")"
}

# curl_listener ARGUMENT...: a command sent to the primary's listener from the secondary's
# namespace; prints the answer (nothing when none came) and sets CURL_STATUS.
curl_listener() {
  CURL_OUT=$(ip netns exec "$ns2" curl -sS -m 5 -k -X POST -H 'Content-Type: application/json' \
    "$@" "$url1" 2>&1)
  CURL_STATUS=$?
}

serve_pair() { # MODE
  local mode=$1
  pair "$d1" "$mode"
  pair "$d2" "$mode"
  launch "$d1"
  netns_expect_code 0
  [[ $ANSWER == *"primary of a $mode pair, listening on $url1"*"The pair is forming"* ]] ||
    netns_fail "the answer does not say the pair is forming: $ANSWER"
  launch "$d2"
  netns_expect_code 0
  wait_pair "$d1" "$mode" "$mode" 15
  wait_pair "$d2" "$mode" "$mode" 5
  [[ $(json 'd["server"]["ha"]["mode"]') == "\"$mode\"" && $(json 'd["server"]["ha"]["role"]') == '"secondary"' ]] ||
    netns_fail "status: $(json 'd["server"]')"
  check "$d1" --server
  [[ $CHECK_OUT == *"pair: $mode, this server the primary; its state: $mode; its partner's: $mode"* &&
    $CHECK_OUT == *"would answer 0: "*"as the primary of a $mode pair on $url1"* ]] ||
    netns_fail "text report: $CHECK_OUT"
  # Settings edited since the start: the status says what the server runs as.
  pair "$d1" off
  check "$d1" --server
  [[ $CHECK_OUT == *"[HA] asks for one server, the server runs as one of a pair ($mode primary)"* ]] ||
    netns_fail "a changed Mode is not named: $CHECK_OUT"
  pair "$d1" "$mode"
}

# The pair serves, one side is killed, the other serves every client and keeps the leases, and the
# killed side rerun takes the leases given meanwhile and serves again.
failover() { # MODE
  local mode=$1
  serve_pair "$mode"
  crowd before -n 6 --mac-prefix 02:a1
  expect before "r['leased'] == 6"
  [[ $mode == load-balancing ]] && expect before "len(r['servers']) == 2"
  [[ $mode == hot-standby ]] && expect before "r['servers'] == ['$address1']"
  pid1=$(engine_pid "$ns1")
  kill -9 "$pid1"
  crowd during -n 3 --mac-prefix 02:b2
  expect during "r['leased'] == 3 and r['servers'] == ['$address2']"
  reboot reboot_before before "$address2"
  # An authoritative server refuses an address it does not know of: the reboots above were known.
  crowd stranger -n 1 --mac-prefix 02:c3 --request 203.0.113.140
  expect stranger "r['naks'] == 1 and r['acks'] == 0"
  expect_distinct before.json during.json
  wait_pair "$d2" partner-down "" 5

  # The rerun comes while the killed Kea may still be a zombie that its pid file names.
  launch "$d1"
  netns_expect_code 0
  wait_pair "$d1" "$mode" "$mode" 15
  while read -r address; do
    grep -q "^$address," "$d1/run/kea-leases4.csv" ||
      netns_fail "the rerun primary did not take $address, leased meanwhile"
  done < <(python3 -c 'import json, sys
print("\n".join(json.load(open(sys.argv[1]))["leases"].values()))' "$NETNS_TMP/during.json")
  kill -9 "$(engine_pid "$ns2")"
  reboot reboot_during during "$address1"
  crowd after -n 2 --mac-prefix 02:d4
  expect after "r['leased'] == 2 and r['servers'] == ['$address1']"
  expect_distinct before.json during.json after.json
}

case $case_name in
hot-standby)
  failover hot-standby
  # The listener: no answer without a certificate of the pair's CA, and a refusal of what the
  # pair's restriction keeps from the partner itself.
  curl_listener -d '{"command": "ha-heartbeat", "service": ["dhcp4"]}'
  if ((CURL_STATUS == 0)) || [[ $CURL_OUT == *'"result"'* ]]; then
    netns_fail "a client without a certificate was answered: $CURL_OUT"
  fi
  netns_pair_pki "$NETNS_TMP/other" "$address2" "$address2"
  curl_listener --cert "$NETNS_TMP/other/secondary.pem" --key "$NETNS_TMP/other/secondary.key" \
    -d '{"command": "ha-heartbeat", "service": ["dhcp4"]}'
  if ((CURL_STATUS == 0)) || [[ $CURL_OUT == *'"result"'* ]]; then
    netns_fail "a client with another CA's certificate was answered: $CURL_OUT"
  fi
  curl_listener --cert "$pki/secondary.pem" --key "$pki/secondary.key" \
    -d '{"command": "ha-heartbeat", "service": ["dhcp4"]}'
  [[ $CURL_OUT == *'"result": 0'* ]] || netns_fail "the partner's certificate was refused: $CURL_OUT"
  curl_listener --cert "$pki/secondary.pem" --key "$pki/secondary.key" \
    -d '{"command": "config-write", "service": ["dhcp4"], "arguments": {"filename": "'"$NETNS_TMP/written"'"}}'
  [[ $CURL_OUT == *'"result": 403'* && ! -e $NETNS_TMP/written ]] ||
    netns_fail "config-write was not refused: $CURL_OUT"
  ;;
load-balancing)
  failover load-balancing
  ;;
refusals)
  # The primary serves alone first: its own listener is no obstacle to its rerun, and a refusal
  # leaves it running.
  pair "$d1" hot-standby
  launch "$d1"
  netns_expect_code 0
  launch "$d1"
  netns_expect_code 0
  pid1=$(engine_pid "$ns1")
  [[ -n $pid1 ]] || netns_fail "no server runs after the rerun"
  mkdir -m 777 "$NETNS_TMP/open"
  cp -p "$pki/primary.key" "$NETNS_TMP/open/"
  cp "$pki/primary.key" "$NETNS_TMP/readable.key"
  chmod 644 "$NETNS_TMP/readable.key"
  ln -s "$pki/primary.key" "$NETNS_TMP/link.key"
  # Another process listens on the secondary's port.
  ip netns exec "$ns2" python3 -c 'import socket, time
s = socket.socket(); s.bind(("0.0.0.0", 8001)); s.listen(); time.sleep(80)' &
  refusals=(
    "70 Engine=dnsmasq"
    "70 Engine=auto"
    "71 Mode=cold-standby"
    "71 Role="
    "71 Role=tertiary"
    "72 PrimaryUrl=https://$address1/"
    "72 PrimaryUrl=https://$address1:0/"
    "72 PrimaryUrl=https://dhcp1.example:8001/"
    "72 PrimaryUrl=https://$address1:8001/path"
    "72 SecondaryUrl=$url1"
    "72 SecondaryUrl="
    "73 PrimaryUrl=https://203.0.113.9:8001/"
    "74 KeyFile="
    "74 KeyFile=primary.key"
    "74 KeyFile=$NETNS_TMP/none.key"
    "74 KeyFile=$NETNS_TMP/readable.key"
    "74 KeyFile=$NETNS_TMP/open/primary.key"
    "74 KeyFile=$NETNS_TMP/link.key"
    "74 TrustAnchor=$NETNS_TMP/open"
    "75 PrimaryUrl=http://$address1:8001/"
    "75 TrustAnchor= CertFile= KeyFile="
    "76 Mode=load-balancing RangeIp=203.0.113.100-203.0.113.100"
  )
  for refusal in "${refusals[@]}"; do
    read -r code settings <<<"$refusal"
    range=203.0.113.100-203.0.113.150 changes=()
    for change in $settings; do
      if [[ $change == RangeIp=* ]]; then range=${change#RangeIp=}; else changes+=("$change"); fi
    done
    netns_settings "$d1" 255.255.255.0 203.0.113.1 600 "$range"
    # Engine=check checks section HA as a start does, but for the engine it names.
    for engine in kea check; do
      [[ $code == 70 && $engine == check ]] && continue
      pair "$d1" hot-standby "Engine=$engine" "${changes[@]}"
      launch "$d1"
      [[ $ANSWER_CODE == "$code" && $ANSWER == *"othing was started"* ]] ||
        netns_fail "$settings (Engine=$engine): expected code $code, got $ANSWER_CODE: $ANSWER"
      [[ $(engine_pid "$ns1") == "$pid1" ]] || netns_fail "$settings: the server did not run on"
    done
  done
  # The secondary's port held by another process.
  pair "$d2" hot-standby
  for _ in $(seq 50); do
    ip netns exec "$ns2" grep -q ":1F41 .* 0A " /proc/net/tcp && break
    sleep 0.1
  done
  launch "$d2"
  netns_expect_code 73
  [[ $ANSWER == *"port 8001"*python* && -z $(engine_pid "$ns2") ]] ||
    netns_fail "the port's holder is not named, or a server started: $ANSWER"
  check "$d2" --server --json
  [[ $(json 'd["dry_run"]["code"]') == 73 && $(json 'd["server"]["ha"] == {"mode": "hot-standby", "role": "secondary", "state": None, "partner_state": None}') == true ]] ||
    netns_fail "dry run or status: $CHECK_OUT"
  # A listener that is taken after the checks, between them and Kea's start: the server is
  # stopped again.
  wrapper="$NETNS_TMP/taking-kea"
  printf '#!/bin/bash
for a; do [[ $a == -c ]] && { python3 -c "import socket, time
s = socket.socket(); s.bind((\\"%s\\", 8001)); s.listen(); time.sleep(80)" & sleep 0.5; }; done
exec /usr/sbin/kea-dhcp4 "$@"
' "$address1" >"$wrapper"
  chmod 755 "$wrapper"
  netns_settings "$d1" 255.255.255.0 203.0.113.1 600 203.0.113.100-203.0.113.150
  pair "$d1" hot-standby "KeaProgram=$wrapper"
  launch "$d1"
  netns_expect_code 77
  [[ $ANSWER == *"$url1"*"in use"*"it was stopped"* && -z $(engine_pid "$ns1") ]] ||
    netns_fail "the server without its listener runs on, or the answer does not say why: $ANSWER"
  ;;
*)
  netns_fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
