#!/usr/bin/env bash
# Pair benchmark: how fast a pair of Kea servers started by two launchers (section HA, over TLS)
# fails over and recovers, in each mode, inside private network namespaces on 10.30.0.0/16: two
# server namespaces and a client namespace joined by a bridge in a namespace of its own. Each kill:
# - failover: kill -9 of the primary's engine, then 16 new dhcp-crowd clients at once; the time
#   from the kill until every one of them holds a lease from the survivor (in load-balancing half
#   of them are the survivor's own and are served at once; the others wait for the failover);
# - recovery: the primary's launcher is rerun; the time from the rerun until the restarted server
#   answers a new client (probes of 8 new clients, one after the other).
# Needs root. The method and the figures are in bench/README.md.
#
#   bench/ha_bench.sh BUILD_DIR [--modes hot-standby,load-balancing] [--kills N] [--tsv FILE]
#
# BUILD_DIR holds the launcher, the check program, the reference component and plugin and
# dhcp-crowd (the bench preset's build/bench, or build/default). Defaults: both modes, 8 kills
# each. Every kill is printed as a tab-separated line (and written to --tsv), then a table of the
# medians and maxima.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: $0 BUILD_DIR [--modes LIST] [--kills N] [--tsv FILE]"
build=$(cd "${1:?$usage}" && pwd) || exit 2
shift
modes=hot-standby,load-balancing kills=8 tsv=""
while (($#)); do
  case $1 in
  --modes) modes=${2:-} ;;
  --kills) kills=${2:-} ;;
  --tsv) tsv=${2:-} ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
  esac
  shift 2 || {
    echo "$usage" >&2
    exit 2
  }
done
source "$here/../tests/net/netns.sh"

launcher=$build/launcher/dhcp-launcher
component=$build/reference/fylDHCPD.dll
plugin=$build/reference/mekDHCPPluginu.dll
check=$build/check/dhcp-launcher-check
crowd=$build/tests/net/dhcp-crowd
IFS=, read -ra mode_list <<<"$modes"
for mode in "${mode_list[@]}"; do
  [[ $mode == hot-standby || $mode == load-balancing ]] || netns_fail "unknown mode $mode"
done
[[ $kills =~ ^[1-9][0-9]*$ ]] || netns_fail "--kills takes a whole positive number"
netns_require /usr/sbin/kea-dhcp4 openssl python3 "$launcher" "$component" "$plugin" "$check" "$crowd"

netns_init habench
bridge="hbb$NETNS_TAG" ns1="hb1$NETNS_TAG" ns2="hb2$NETNS_TAG" client="hbc$NETNS_TAG"
if1="p$NETNS_TAG" if2="s$NETNS_TAG" ifc="c$NETNS_TAG"
address1=10.30.0.2 address2=10.30.0.3
netns_bridge "$bridge"
for ns in "$ns1" "$ns2" "$client"; do netns_add "$ns"; done
netns_attach "$bridge" "$ns1" "$if1" "$address1/16"
netns_attach "$bridge" "$ns2" "$if2" "$address2/16"
netns_attach "$bridge" "$client" "$ifc"
pki=$NETNS_TMP/pki
netns_pair_pki "$pki" "$address1" "$address2"
d1=$NETNS_TMP/primary d2=$NETNS_TMP/secondary
# Every client is new: a running number after the prefix, never used twice in a run.
next_client=0

ns_of() { # DIR
  if [[ $1 == "$d2" ]]; then echo "$ns2"; else echo "$ns1"; fi
}

# deploy MODE: both deployments afresh (empty state folders) for a pair of MODE.
deploy() {
  local dir role interface
  for dir in "$d1" "$d2"; do
    role=primary interface=$if1
    [[ $dir == "$d2" ]] && role=secondary interface=$if2
    rm -rf "$dir"
    netns_stage "$dir" "$launcher" "$component" "$plugin"
    cp "$check" "$dir/bin/"
    netns_settings "$dir" 255.255.0.0 10.30.0.1 3600 10.30.1.0-10.30.255.254
    printf '[ENGINE]\nEngine=kea\nInterface=%s\n[HA]\nMode=%s\nRole=%s\nPrimaryUrl=https://%s:8001/\nSecondaryUrl=https://%s:8001/\nTrustAnchor=%s/ca.pem\nCertFile=%s/%s.pem\nKeyFile=%s/%s.key\n' \
      "$interface" "$1" "$role" "$address1" "$address2" "$pki" "$pki" "$role" "$pki" "$role" \
      >"$dir/config/mekDHCPPluginu.ini"
  done
}

launch() { # DIR
  netns_launch "$(ns_of "$1")" "$1"
  netns_expect_code 0
}

# state DIR: the pair state DIR's server reports ("null" when it does not answer).
state() {
  (cd "$1/bin" && ip netns exec "$(ns_of "$1")" ./dhcp-launcher-check --server --json) |
    python3 -c 'import json, sys
ha = (json.load(sys.stdin).get("server") or {}).get("ha") or {}
print(ha.get("state"))' 2>/dev/null
}

wait_state() { # DIR STATE SECONDS
  local deadline=$((SECONDS + $3))
  until [[ $(state "$1") == "$2" ]]; do
    ((SECONDS < deadline)) || netns_fail "$1 did not reach $2 within $3 s"
    sleep 0.2
  done
}

# clients N NAME RETRANSMIT DEADLINE: N new clients at once; their JSON in $NETNS_TMP/NAME.json.
clients() {
  local offset=$next_client
  next_client=$((next_client + $1))
  ip netns exec "$client" "$crowd" -i "$ifc" -n "$1" --mac-prefix 02:e5 --mac-offset "$offset" \
    --retransmit "$3" --retransmit-max "$3" --deadline "$4" >"$NETNS_TMP/$2.json"
  return 0
}

field() { # NAME EXPRESSION (of the run's JSON as r)
  python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' \
    "$NETNS_TMP/$1.json" "$2"
}

now_ms() {
  echo $(($(date +%s%N) / 1000000))
}

results=$NETNS_TMP/results.tsv
printf 'mode\tkill\tfailover_ms\trecovery_ms\n' | tee "$results"
{
  echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), kernel $(uname -r)"
  echo "# Kea $(/usr/sbin/kea-dhcp4 -v); load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
} >&2
for mode in "${mode_list[@]}"; do
  for pid in $(ip netns pids "$ns1") $(ip netns pids "$ns2"); do kill -9 "$pid" 2>/dev/null; done
  deploy "$mode"
  launch "$d1"
  launch "$d2"
  for ((kill = 1; kill <= kills; kill++)); do
    wait_state "$d1" "$mode" 20
    wait_state "$d2" "$mode" 20
    # Both servers serve: the primary is killed, and new clients ask at once; their retransmissions
    # every 100 ms set the resolution.
    pid=$(netns_engine_pids "$ns1")
    [[ -n $pid ]] || netns_fail "no engine runs in $ns1"
    killed=$(now_ms)
    kill -9 "$pid"
    asked=$(now_ms)
    clients 16 failover 0.1 10
    [[ $(field failover "r['leased'] == 16 and r['servers'] == ['$address2']") == True ]] ||
      netns_fail "the survivor did not serve every new client: $(cat "$NETNS_TMP/failover.json")"
    failover=$((asked - killed + $(field failover "int(r['all_leased_ms'])")))
    # The rerun, while the killed Kea may still be a zombie; then probes until the restarted
    # server answers one.
    rerun=$(now_ms)
    launch "$d1"
    recovery=""
    while [[ -z $recovery ]]; do
      probe=$(now_ms)
      clients 8 probe 0.05 0.15
      if [[ $(field probe "'$address1' in r['servers']") == True ]]; then
        recovery=$((probe - rerun + $(field probe "int(r['elapsed_ms'])")))
      fi
      (($(now_ms) - rerun < 30000)) || netns_fail "the rerun primary did not answer within 30 s"
    done
    printf '%s\t%d\t%d\t%d\n' "$mode" "$kill" "$failover" "$recovery" | tee -a "$results"
  done
done
echo "# load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
[[ -n $tsv ]] && cp "$results" "$tsv"

python3 - "$results" <<'EOF'
import csv, statistics, sys
rows = list(csv.DictReader(open(sys.argv[1]), delimiter="\t"))
print()
print("| mode | kills | failover median | failover max | recovery median | recovery max |")
print("|---|---:|---:|---:|---:|---:|")
for mode in dict.fromkeys(r["mode"] for r in rows):
    group = [r for r in rows if r["mode"] == mode]
    f = [int(r["failover_ms"]) / 1000 for r in group]
    g = [int(r["recovery_ms"]) / 1000 for r in group]
    print(f"| {mode} | {len(group)} | {statistics.median(f):.2f} s | {max(f):.2f} s | "
          f"{statistics.median(g):.2f} s | {max(g):.2f} s |")
EOF
