#!/usr/bin/env bash
# Two deployments as one DHCP service (section HA): two server namespaces and a client namespace
# joined by a bridge in a namespace of its own, Kea paired over TLS with a CA made for the test.
#
# ha_net_test.sh CASE LAUNCHER COMPONENT PLUGIN CHECK CROWD
#   CASE: hot-standby | load-balancing (the pair serves, fails over after a kill -9 and recovers;
#         hot-standby also knocks at its listener with curl) | refusals (every setting that would
#         split the pair is refused and starts nothing)
# Exit 0 passed, 1 failed, 77 skipped (not root or a package missing; with CI set: failed).
set -uo pipefail
source "$(dirname "$0")/netns.sh"

case_name=$1 launcher=$2 component=$3 plugin=$4 check=$5 crowd=$6
netns_require /usr/sbin/kea-dhcp4 openssl curl python3 "$crowd"

netns_init ha
bridge="hab$NETNS_TAG" client="hac$NETNS_TAG" ifc="c$NETNS_TAG"
ns=("ha1$NETNS_TAG" "ha2$NETNS_TAG") ifs=("p$NETNS_TAG" "s$NETNS_TAG")
address=(203.0.113.2 203.0.113.3) url=(https://203.0.113.2:8001/ https://203.0.113.3:8001/)
role=(primary secondary) dir=("$NETNS_TMP/primary" "$NETNS_TMP/secondary")
netns_bridge "$bridge"
netns_add "$client"
netns_attach "$bridge" "$client" "$ifc"
pki="$NETNS_TMP/pki"
netns_pair_pki "$pki" "${address[@]}"
for i in 0 1; do
  netns_add "${ns[i]}"
  netns_attach "$bridge" "${ns[i]}" "${ifs[i]}" "${address[i]}/24"
  netns_stage "${dir[i]}" "$launcher" "$component" "$plugin"
  cp "$check" "${dir[i]}/bin/"
  netns_settings "${dir[i]}" 255.255.255.0 203.0.113.1 600 203.0.113.100-203.0.113.150
done

# pair I MODE [KEY=VALUE...]: server I's plugin settings (0 primary, 1 secondary) in a pair of
# MODE. Each KEY=VALUE comes first in its section, and the reader takes a key's first line.
pair() {
  local i=$1 mode=$2 line
  shift 2
  {
    echo "[ENGINE]"
    for line in "$@"; do [[ $line == @(Engine|Interface|KeaProgram)=* ]] && echo "$line"; done
    printf '%s\n' Engine=kea "Interface=${ifs[i]}" "[HA]"
    for line in "$@"; do [[ $line == @(Engine|Interface|KeaProgram)=* ]] || echo "$line"; done
    printf '%s\n' "Mode=$mode" "Role=${role[i]}" "PrimaryUrl=${url[0]}" "SecondaryUrl=${url[1]}" \
      "TrustAnchor=$pki/ca.pem" "CertFile=$pki/${role[i]}.pem" "KeyFile=$pki/${role[i]}.key"
  } >"${dir[i]}/config/mekDHCPPluginu.ini"
}

launch() { # I
  netns_launch "${ns[$1]}" "${dir[$1]}"
}

# check I ARGUMENT...: server I's check program in its namespace; its output in CHECK_OUT.
check() {
  CHECK_OUT=$(cd "${dir[$1]}/bin" && ip netns exec "${ns[$1]}" ./dhcp-launcher-check "${@:2}" 2>&1)
}

# json EXPRESSION: a Python expression of the last --json report ("d"), printed as JSON.
json() {
  python3 -c 'import json, sys; d = json.loads(sys.stdin.read()); print(json.dumps('"$1"'))' \
    <<<"$CHECK_OUT" 2>/dev/null
}

# wait_pair I STATE PARTNER_STATE SECONDS: until server I reports those states ("" for any).
wait_pair() {
  local deadline=$((SECONDS + $4))
  until check "$1" --server --json && [[ $(json 'd["server"]["ha"]["state"]') == "\"$2\"" &&
    (-z $3 || $(json 'd["server"]["ha"]["partner_state"]') == "\"$3\"") ]]; do
    ((SECONDS < deadline)) || netns_fail "server $1 is not $2/$3 after $4 s: $(json 'd["server"]')"
    sleep 0.3
  done
}

# crowd NAME ARGUMENT...: dhcp-crowd in the client namespace, its JSON in $NETNS_TMP/NAME.json.
crowd() {
  ip netns exec "$client" "$crowd" -i "$ifc" --leases --retransmit 0.5 --retransmit-max 1 \
    --deadline 15 "${@:2}" >"$NETNS_TMP/$1.json"
  return 0
}

# expect CONDITION RUN...: a Python condition on the runs' JSON (r: the first, runs: all).
expect() {
  python3 -c 'import json, sys
runs = [json.load(open(sys.argv[1] + "/" + name + ".json")) for name in sys.argv[3:]]
r = runs[0]
sys.exit(0 if eval(sys.argv[2]) else 1)' "$NETNS_TMP" "$@" ||
    netns_fail "not so: $1: $(cd "$NETNS_TMP" && for run in "${@:2}"; do head -c 1500 "$run.json"; done)"
}

# reboot RUN SERVER: each client of RUN asks for its address again (INIT-REBOOT), and SERVER
# acknowledges it with that very address.
reboot() {
  local mac ip
  while read -r mac ip; do
    crowd again -n 1 --mac-prefix "${mac:0:5}" --mac-offset "$((16#${mac: -2}))" --request "$ip"
    expect "r['acks'] == 1 and r['servers'] == ['$2'] and r['leases'] == {'$mac': '$ip'}" again
  done < <(python3 -c 'import json, sys
for mac, ip in json.load(open(sys.argv[1]))["leases"].items(): print(mac, ip)' "$NETNS_TMP/$1.json")
}

# knock ARGUMENT...: a command to the primary's listener from the secondary's namespace; its answer
# in KNOCKED, nothing when none came.
knock() {
  KNOCKED=$(ip netns exec "${ns[1]}" curl -sk -m 5 -H 'Content-Type: application/json' "$@" \
    "${url[0]}")
}

# The pair serves, the primary's engine is killed, the secondary serves every client and keeps the
# leases; the primary rerun takes the leases given meanwhile and serves again.
failover() { # MODE
  local mode=$1
  pair 0 "$mode"
  pair 1 "$mode"
  launch 0
  netns_expect_code 0
  [[ $ANSWER == *"primary of a $mode pair, listening on ${url[0]}"*"The pair is forming"* ]] ||
    netns_fail "the answer does not say the pair is forming: $ANSWER"
  launch 1
  netns_expect_code 0
  wait_pair 0 "$mode" "$mode" 15
  wait_pair 1 "$mode" "$mode" 5
  [[ $(json '[d["server"]["ha"]["mode"], d["server"]["ha"]["role"]]') == "[\"$mode\", \"secondary\"]" ]] ||
    netns_fail "status: $(json 'd["server"]')"
  check 0 --server
  [[ $CHECK_OUT == *"pair: $mode, this server the primary; its state: $mode; its partner's: $mode"* &&
    $CHECK_OUT == *"would answer 0: "*"as the primary of a $mode pair on ${url[0]}"* ]] ||
    netns_fail "text report: $CHECK_OUT"
  # Settings edited since the start: the status says how the server runs.
  pair 0 off
  check 0 --server
  [[ $CHECK_OUT == *"[HA] asks for one server, the server runs as one of a pair ($mode primary)"* ]] ||
    netns_fail "a changed Mode is not named: $CHECK_OUT"
  pair 0 "$mode"

  # Both serve in load-balancing, the primary alone in hot-standby.
  local serving=2
  [[ $mode == hot-standby ]] && serving=1
  crowd before -n 6 --mac-prefix 02:a1
  expect "r['leased'] == 6 and len(r['servers']) == $serving" before
  kill -9 "$(netns_engine_pids "${ns[0]}")"
  crowd during -n 3 --mac-prefix 02:b2
  expect "r['leased'] == 3 and r['servers'] == ['${address[1]}']" during
  reboot before "${address[1]}"
  # An authoritative server refuses an address it does not know of: the reboots above were known.
  crowd stranger -n 1 --mac-prefix 02:c3 --request 203.0.113.140
  expect "r['naks'] == 1 and r['acks'] == 0" stranger
  wait_pair 1 partner-down "" 5
  # The rerun comes while the killed Kea may still be a zombie that its pid file names.
  launch 0
  netns_expect_code 0
  wait_pair 0 "$mode" "$mode" 15
  expect "all(open(sys.argv[1] + '/primary/run/kea-leases4.csv').read().count(ip + ',') for ip in r['leases'].values())" during
  kill -9 "$(netns_engine_pids "${ns[1]}")"
  reboot during "${address[0]}"
  crowd after -n 2 --mac-prefix 02:d4
  expect "r['leased'] == 2 and r['servers'] == ['${address[0]}']" after
  # No address went to two clients.
  expect "len(set(ip for x in runs for ip in x['leases'].values())) == 11" before during after
}

case $case_name in
hot-standby)
  failover hot-standby
  # The listener answers no one without a certificate of the pair's CA, and refuses config-write
  # even to the partner.
  command='{"command": "ha-heartbeat", "service": ["dhcp4"]}'
  knock -d "$command"
  [[ -z $KNOCKED ]] || netns_fail "a client without a certificate was answered: $KNOCKED"
  netns_pair_pki "$NETNS_TMP/other" "${address[1]}" "${address[1]}"
  knock --cert "$NETNS_TMP/other/secondary.pem" --key "$NETNS_TMP/other/secondary.key" -d "$command"
  [[ -z $KNOCKED ]] || netns_fail "a client of another CA was answered: $KNOCKED"
  partner=(--cert "$pki/secondary.pem" --key "$pki/secondary.key")
  knock "${partner[@]}" -d "$command"
  [[ $KNOCKED == *'"result": 0'* ]] || netns_fail "the partner's certificate was refused: $KNOCKED"
  knock "${partner[@]}" -d '{"command": "config-write", "service": ["dhcp4"], "arguments": {"filename": "'"$NETNS_TMP/written"'"}}'
  [[ $KNOCKED == *'"result": 403'* && ! -e $NETNS_TMP/written ]] ||
    netns_fail "config-write was not refused: $KNOCKED"
  ;;
load-balancing)
  failover load-balancing
  ;;
refusals)
  # The primary serves alone: its own listener is no obstacle to its rerun, and every refusal
  # leaves it running.
  pair 0 hot-standby
  launch 0
  launch 0
  netns_expect_code 0
  pid=$(netns_engine_pids "${ns[0]}")
  mkdir -m 777 "$NETNS_TMP/open"
  install -m 600 "$pki/primary.key" "$NETNS_TMP/open/primary.key"
  install -m 644 "$pki/primary.key" "$NETNS_TMP/readable.key"
  ln -s "$pki/primary.key" "$NETNS_TMP/link.key"
  for refusal in "70 Engine=auto" "71 Role=" "72 PrimaryUrl=https://dhcp1.example:8001/" \
    "72 SecondaryUrl=${url[0]}" "73 PrimaryUrl=https://203.0.113.9:8001/" \
    "74 KeyFile=$NETNS_TMP/none.key" "74 KeyFile=$NETNS_TMP/readable.key" \
    "74 KeyFile=$NETNS_TMP/open/primary.key" "74 KeyFile=$NETNS_TMP/link.key" \
    "75 PrimaryUrl=http://${address[0]}:8001/" "75 TrustAnchor= CertFile= KeyFile=" \
    "76 Mode=load-balancing RangeIp=203.0.113.100-203.0.113.100"; do
    read -r code settings <<<"$refusal"
    range=${settings#*RangeIp=}
    [[ $range == "$settings" ]] && range=203.0.113.100-203.0.113.150
    netns_settings "${dir[0]}" 255.255.255.0 203.0.113.1 600 "$range"
    # Engine=check checks section HA as a start does.
    for engine in kea check; do
      [[ $code == 70 && $engine == check ]] && continue
      # shellcheck disable=SC2086 # each setting a word
      pair 0 hot-standby ${settings%RangeIp=*} "Engine=$engine"
      launch 0
      [[ $ANSWER_CODE == "$code" && $ANSWER == *"othing was started"* ]] ||
        netns_fail "$settings (Engine=$engine): expected $code, got $ANSWER_CODE: $ANSWER"
      [[ $(netns_engine_pids "${ns[0]}") == "$pid" ]] || netns_fail "$settings: the server did not run on"
    done
  done
  # The secondary's port is held by another process.
  ip netns exec "${ns[1]}" python3 -c 'import socket, time
s = socket.socket(); s.bind(("0.0.0.0", 8001)); s.listen(); time.sleep(80)' &
  until ip netns exec "${ns[1]}" grep -q ":1F41 .* 0A " /proc/net/tcp; do sleep 0.1; done
  pair 1 hot-standby
  launch 1
  netns_expect_code 73
  [[ $ANSWER == *"port 8001"*python* && -z $(netns_engine_pids "${ns[1]}") ]] ||
    netns_fail "the port's holder is not named, or a server started: $ANSWER"
  check 1 --server --json
  [[ $(json '[d["dry_run"]["code"], d["server"]["ha"] == {"mode": "hot-standby", "role": "secondary", "state": None, "partner_state": None}]') == "[73, true]" ]] ||
    netns_fail "dry run or status: $CHECK_OUT"
  # The listener's port taken between the checks and Kea's start: the new server is stopped again.
  wrapper="$NETNS_TMP/taking-kea"
  printf '#!/bin/bash
[[ $1 == -c ]] && { python3 -c "import socket, time
s = socket.socket(); s.bind((\\"%s\\", 8001)); s.listen(); time.sleep(80)" & sleep 0.5; }
exec /usr/sbin/kea-dhcp4 "$@"
' "${address[0]}" >"$wrapper"
  chmod 755 "$wrapper"
  netns_settings "${dir[0]}" 255.255.255.0 203.0.113.1 600 203.0.113.100-203.0.113.150
  pair 0 hot-standby "KeaProgram=$wrapper"
  launch 0
  netns_expect_code 77
  [[ $ANSWER == *"${url[0]}"*"in use"*"it was stopped"* && -z $(netns_engine_pids "${ns[0]}") ]] ||
    netns_fail "the server without its listener runs on, or the answer does not say why: $ANSWER"
  ;;
*)
  netns_fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
