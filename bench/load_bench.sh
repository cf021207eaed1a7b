#!/usr/bin/env bash
# Load benchmark: the DHCP server as the launcher configures it against the same engine started
# directly with a configuration tuned by hand for load (bench/load/), interleaved in one run, inside
# private network namespaces on 10.20.0.0/18. For each round, engine and number of clients N, each
# configuration is measured right after the other (their order rotated every time):
# - a burst: the server starts afresh with an empty lease file, and N new dhcp-crowd clients start
#   within one second (time to a lease, time until every client holds one);
# - the rate: the server starts afresh holding a lease for each of the same N clients, and perfdhcp
#   offers DISCOVERs from them far above what it can answer (completed 4-way exchanges per second,
#   drops).
# Needs root. The method and the figures are in bench/README.md.
#
#   bench/load_bench.sh BUILD_DIR [--engines dnsmasq,kea] [--clients 500,2000,10000] [--rounds N]
#                       [--period SECONDS] [--offered RATE] [--deadline SECONDS] [--tsv FILE]
#                       [--before BUILD_DIR]
#
# BUILD_DIR holds the launcher, the reference component and plugin and dhcp-crowd (the bench
# preset's build/bench, or build/default). --before names the build of an earlier version, whose
# launched server is measured as a third configuration ("before") in the same turns, so that a
# change is compared with what it replaces under the same load. Defaults: both engines, 500, 2000
# and 10 000 clients, one round, perfdhcp offering 20 000 DISCOVERs/s for 5 s, bursts given 30 s.
# Every measurement is printed as a tab-separated line (and written to --tsv), then a table of the
# medians over the rounds.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: $0 BUILD_DIR [--engines LIST] [--clients LIST] [--rounds N] [--period S] [--offered R] [--deadline S] [--tsv FILE] [--before BUILD_DIR]"
build=$(cd "${1:?$usage}" && pwd) || exit 2
shift
engines=dnsmasq,kea sizes=500,2000,10000 rounds=1 period=5 offered=20000 deadline=30 tsv="" before=""
while (($#)); do
  case $1 in
  --engines) engines=${2:-} ;;
  --clients) sizes=${2:-} ;;
  --rounds) rounds=${2:-} ;;
  --period) period=${2:-} ;;
  --offered) offered=${2:-} ;;
  --deadline) deadline=${2:-} ;;
  --tsv) tsv=${2:-} ;;
  --before) before=$(cd "${2:-}" && pwd) || exit 2 ;;
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
crowd=$build/tests/net/dhcp-crowd
IFS=, read -ra engine_list <<<"$engines"
IFS=, read -ra size_list <<<"$sizes"
programs=()
for engine in "${engine_list[@]}"; do
  case $engine in
  dnsmasq) programs+=(/usr/sbin/dnsmasq) ;;
  kea) programs+=(/usr/sbin/kea-dhcp4) ;;
  *) netns_fail "unknown engine $engine" ;;
  esac
done
netns_require "${programs[@]}" perfdhcp python3 "$launcher" "$component" "$plugin" "$crowd"
configs=(launched tuned)
if [[ -n $before ]]; then
  netns_require "$before/launcher/dhcp-launcher" "$before/reference/fylDHCPD.dll" \
    "$before/reference/mekDHCPPluginu.dll"
  configs+=(before)
fi
for number in "$rounds" "$period" "$offered" "$deadline"; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || netns_fail "--rounds, --period, --offered and --deadline take whole positive numbers"
done

# The network: a /18 whose range holds every client of the largest run.
subnet=10.20.0.0/18 mask=255.255.192.0 router=10.20.0.1 relay=10.20.0.2
first=10.20.1.0 last=10.20.63.254 lease=3600
range_size=$(($(netns_ip_to_int "$last") - $(netns_ip_to_int "$first") + 1))
for size in "${size_list[@]}"; do
  [[ $size =~ ^[1-9][0-9]*$ ]] || netns_fail "--clients takes numbers joined by commas"
  ((size <= range_size)) ||
    netns_fail "--clients: $size is not a number of clients from 1 to $range_size"
done

netns_init load
server="ls$NETNS_TAG" client="lc$NETNS_TAG"
veth_s="s$NETNS_TAG" veth_c="c$NETNS_TAG"
netns_add "$server"
netns_add "$client"
netns_link "$server" "$veth_s" "$router/18" "$client" "$veth_c"
# perfdhcp speaks as a relay from this address; dhcp-crowd needs none.
ip -n "$client" addr add "$relay/18" dev "$veth_c"
deploy=$NETNS_TMP/deploy
netns_stage "$deploy" "$launcher" "$component" "$plugin"
netns_settings "$deploy" "$mask" "$router" "$lease" "$first-$last"
if [[ -n $before ]]; then
  netns_stage "$NETNS_TMP/before" "$before/launcher/dhcp-launcher" \
    "$before/reference/fylDHCPD.dll" "$before/reference/mekDHCPPluginu.dll"
  netns_settings "$NETNS_TMP/before" "$mask" "$router" "$lease" "$first-$last"
fi
tuned=$NETNS_TMP/tuned
# The clients of both tools: perfdhcp adds a random number below N to the low bytes of its base
# address, dhcp-crowd numbers them from 0 after the prefix; both send 01 and the hardware address
# as the client identifier.
mac_prefix=02:dd

# The server's state goes with it, so a server too busy to stop within 5 s is killed.
stop_server() {
  local pid signal
  for signal in TERM KILL; do
    for pid in $(ip netns pids "$server"); do kill -"$signal" "$pid" 2>/dev/null; done
    for _ in $(seq 100); do
      [[ -z $(netns_engine_pids "$server") ]] && return 0
      sleep 0.05
    done
  done
  netns_fail "the engine in $server did not stop"
}

wait_for_port() {
  for _ in $(seq 200); do
    ip netns exec "$server" grep -q ":0043 " /proc/net/udp && return 0
    sleep 0.05
  done
  netns_fail "no engine bound port 67 in $server"
}

# seed_leases FILE ENGINE N: a lease file as the engine writes it, holding a lease for each of the
# first N clients that perfdhcp and dhcp-crowd simulate (hardware address MAC_PREFIX:00:00 and the
# number, client identifier 01 and that address, as both send), the range's addresses in order.
seed_leases() {
  awk -v engine="$2" -v n="$3" -v prefix="$mac_prefix" -v first="$(netns_ip_to_int "$first")" \
    -v lease="$lease" -v expiry="$(($(date +%s) + lease))" '
    BEGIN {
      if (engine == "kea")
        print "address,hwaddr,client_id,valid_lifetime,expire,subnet_id,fqdn_fwd,fqdn_rev,hostname,state,user_context"
      for (i = 0; i < n; i++) {
        a = first + i
        ip = sprintf("%d.%d.%d.%d", int(a / 16777216) % 256, int(a / 65536) % 256, int(a / 256) % 256, a % 256)
        mac = sprintf("%s:00:00:%02x:%02x", prefix, int(i / 256) % 256, i % 256)
        if (engine == "kea")
          printf "%s,%s,01:%s,%d,%d,1,0,0,,0,\n", ip, mac, mac, lease, expiry
        else
          printf "%d %s %s * 01:%s\n", expiry, mac, ip, mac
      }
    }' >"$1"
}

# start_server ENGINE launched|tuned|before [N]: the engine afresh, with an empty lease file or one
# that holds leases for the first N clients; status 1 when the launcher's server does not start
# with them (ANSWER says why).
start_server() {
  local engine=$1 config=$2 seeded=${3:-0} state=$tuned leases=dnsmasq.leases staged=$deploy
  [[ $engine == kea ]] && leases=kea-leases4.csv
  [[ $config == before ]] && staged=$NETNS_TMP/before
  [[ $config != tuned ]] && state=$staged/run
  stop_server
  rm -rf "$state"
  if ((seeded > 0)) || [[ $config == tuned ]]; then
    mkdir -m 700 "$state"
    ((seeded > 0)) && seed_leases "$state/$leases" "$engine" "$seeded"
  fi
  # What the last server and the seeding wrote goes to disk now, not while this server is
  # measured (dnsmasq flushes its lease file to disk after each lease).
  sync
  if [[ $config != tuned ]]; then
    netns_plugin_settings "$staged" "Engine=$engine" "Interface=$veth_s"
    netns_launch "$server" "$staged"
    # A refusal to start with the seeded leases is a figure of its own; any other is a failure.
    ((seeded > 0)) && [[ $ANSWER_CODE != 0 ]] && return 1
    netns_expect_code 0
  else
    local template=$here/load/dnsmasq-tuned.conf file=$state/dnsmasq.conf
    [[ $engine == kea ]] && template=$here/load/kea-tuned.json file=$state/kea-dhcp4.json
    sed -e "s|@INTERFACE@|$veth_s|g" -e "s|@STATE@|$state|g" -e "s|@FIRST@|$first|g" \
      -e "s|@LAST@|$last|g" -e "s|@MASK@|$mask|g" -e "s|@SUBNET@|$subnet|g" \
      -e "s|@ROUTER@|$router|g" -e "s|@LEASE@|$lease|g" -e "s|@RANGE_SIZE@|$range_size|g" \
      "$template" >"$file"
    if [[ $engine == kea ]]; then
      KEA_PIDFILE_DIR=$state KEA_LOCKFILE_DIR=$state ip netns exec "$server" \
        setsid /usr/sbin/kea-dhcp4 -c "$file" >>"$state/stdout.log" 2>&1 </dev/null &
    else
      ip netns exec "$server" /usr/sbin/dnsmasq --conf-file="$file" ||
        netns_fail "the tuned dnsmasq did not start"
    fi
  fi
  wait_for_port
  if ((seeded > 0)); then
    # The server knows the seeded leases: a client of no lease asking for the last one is refused.
    local last_seeded
    last_seeded=$(awk -v a="$(($(netns_ip_to_int "$first") + seeded - 1))" 'BEGIN {
      printf "%d.%d.%d.%d", int(a / 16777216) % 256, int(a / 65536) % 256, int(a / 256) % 256, a % 256 }')
    ip netns exec "$client" "$crowd" -i "$veth_c" --mac-prefix "$mac_prefix" --mac-offset 65000 \
      --request "$last_seeded" --deadline 5 >"$NETNS_TMP/seed-check.json"
    grep -q '"refused":1' "$NETNS_TMP/seed-check.json" ||
      netns_fail "$engine ($config) did not load the seeded leases: $last_seeded was not refused: $(cat "$NETNS_TMP/seed-check.json")"
  fi
}


# rate N: perfdhcp's figures for N clients at saturation, as "rate do_sent do_drops ra_sent
# ra_received".
rate() {
  local out
  out=$(timeout $((period + 30)) ip netns exec "$client" perfdhcp -4 -r "$offered" -R "$1" \
    -b "mac=$mac_prefix:00:00:00:00" -p "$period" -l "$relay" "$router" 2>&1)
  awk '
    /^Rate: / { rate = $2 }
    /Statistics for: DISCOVER-OFFER/ { part = "do" }
    /Statistics for: REQUEST-ACK/ { part = "ra" }
    /^sent packets:/ { sent[part] = $3 }
    /^received packets:/ { received[part] = $3 }
    /^drops:/ { drops[part] = $2 }
    END {
      if (rate == "") { print "- - - - -"; exit }
      printf "%s %d %d %d %d\n", rate, sent["do"], drops["do"], sent["ra"], received["ra"]
    }' <<<"$out"
}

# burst N: N new dhcp-crowd clients started within one second, as "leased median p99 all naks
# retransmits" (times in ms; "-" when none or not all leased).
burst() {
  ip netns exec "$client" "$crowd" -i "$veth_c" -n "$1" --rate "$1" --deadline "$deadline" \
    --mac-prefix "$mac_prefix" >"$NETNS_TMP/burst.json"
  python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))
t = r["time_to_lease_ms"] or {}
def f(v): return "-" if v is None else str(v)
print(r["leased"], f(t.get("median")), f(t.get("p99")), f(r["all_leased_ms"]), r["naks"], r["retransmits"])' \
    "$NETNS_TMP/burst.json" || echo "- - - - - -"
}

columns="round engine clients config burst_leased burst_median_ms burst_p99_ms burst_all_ms burst_naks burst_retransmits rate do_sent do_drops ra_sent ra_received note"
results=$NETNS_TMP/results.tsv
echo "${columns// /$'\t'}" | tee "$results"
{
  echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), kernel $(uname -r)"
  echo "# $(/usr/sbin/dnsmasq --version | head -n 1); Kea $(/usr/sbin/kea-dhcp4 -v); perfdhcp offering $offered/s for ${period} s; bursts within 1 s, deadline ${deadline} s"
  echo "# load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
} >&2
for ((round = 1; round <= rounds; round++)); do
  turn=0
  for engine in "${engine_list[@]}"; do
    for size in "${size_list[@]}"; do
      # From round to round each configuration of an engine and size takes the next place in the
      # order, whatever the number of engines and sizes.
      shift_by=$(((round - 1 + turn++) % ${#configs[@]}))
      order=("${configs[@]:shift_by}" "${configs[@]:0:shift_by}")
      for config in "${order[@]}"; do
        start_server "$engine" "$config"
        figures="$(burst "$size")"
        note=-
        if start_server "$engine" "$config" "$size"; then
          figures="$figures $(rate "$size")"
        else
          figures="$figures - - - - -"
          note="no start with $size stored leases: $ANSWER"
        fi
        line="$round $engine $size $config $figures"
        printf '%s\t%s\n' "${line// /$'\t'}" "${note//$'\t'/ }" | tee -a "$results"
      done
    done
  done
done
stop_server
echo "# load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
[[ -n $tsv ]] && cp "$results" "$tsv"

# Medians over the rounds, and the launched server's exchange rate (and the earlier build's) as a
# share of the tuned one's: the share of the medians, and the median and range of each round's
# own share (the two were measured back to back, so a round's share is the fairer figure).
python3 - "$results" "$deadline" <<'EOF'
import csv, statistics, sys
rows = list(csv.DictReader(open(sys.argv[1]), delimiter="\t"))
def median(values):
    numbers = [float(v) for v in values if v != "-"]
    return statistics.median(numbers) if numbers else None
def show(value, digits=0):
    return "–" if value is None else f"{value:,.{digits}f}".replace(",", " ")
groups = {}
notes = {}
for row in rows:
    groups.setdefault((row["engine"], int(row["clients"]), row["config"]), []).append(row)
print()
print("| engine | clients | configuration | exchanges/s (range) | drops | burst leased | median | p99 | all leased | ratio | rounds' ratios |")
print("|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|")
places = {"before": 0, "launched": 1, "tuned": 2}
for (engine, clients, config), group in sorted(groups.items(), key=lambda g: (g[0][0], g[0][1], places[g[0][2]])):
    rate = median(r["rate"] for r in group)
    refusals = [r["note"] for r in group if r["note"] != "-"]
    for note in refusals:
        notes.setdefault(note, len(notes) + 1)
    drops = median(100 * (1 - float(r["ra_received"]) / float(r["do_sent"]))
                   for r in group if r["do_sent"] not in ("-", "0"))
    leased = median(r["burst_leased"] for r in group)
    all_leased = median(r["burst_all_ms"] for r in group)
    all_text = (show(all_leased / 1000, 1) + " s" if all_leased is not None
                else f"not in {sys.argv[2]} s")
    ratio = rounds_ratio = ""
    if config != "tuned":
        tuned_group = groups.get((engine, clients, "tuned"), [])
        tuned = median(r["rate"] for r in tuned_group)
        if rate is not None and tuned:
            ratio = f"{rate / tuned:.2f}"
        tuned_by_round = {r["round"]: r["rate"] for r in tuned_group if r["rate"] != "-"}
        shares = [float(r["rate"]) / float(tuned_by_round[r["round"]]) for r in group
                  if r["rate"] != "-" and float(tuned_by_round.get(r["round"], 0)) > 0]
        if shares:
            rounds_ratio = (f"{statistics.median(shares):.2f} "
                            f"({min(shares):.2f}–{max(shares):.2f})")
    rates = [float(r["rate"]) for r in group if r["rate"] != "-"]
    rate_text = show(rate) + "".join(f" ({notes[n]})" for n in dict.fromkeys(refusals))
    if len(rates) > 1:
        rate_text += f" ({show(min(rates))}–{show(max(rates))})"
    print(f"| {engine} | {clients} | {config} | {rate_text} | {show(drops, 1)} % | "
          f"{show(leased)}/{clients} | {show(median(r['burst_median_ms'] for r in group), 1)} ms | "
          f"{show(median(r['burst_p99_ms'] for r in group), 1)} ms | {all_text} | {ratio} | "
          f"{rounds_ratio} |")
print(f"\n{len(rows)} measurements; medians over {len({r['round'] for r in rows})} round(s).")
for note, number in notes.items():
    print(f"({number}) {note}")
EOF
