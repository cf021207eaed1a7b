#!/usr/bin/env bash
# Time from starting the launcher until its DHCP server engine serves (port 67 bound), against
# starting the same engine directly with the same configuration, in the same run; and the time to a
# client's first lease through the launcher. Inside private network namespaces only; needs root.
#
#   bench/engine_start.sh BUILD_DIR [dnsmasq|kea] [N]      (N >= 10 runs of each, default 15)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [dnsmasq|kea] [N]}" && pwd)
engine=${2:-dnsmasq} runs=${3:-15}
source "$here/../tests/net/netns.sh"
program=/usr/sbin/dnsmasq
[[ $engine == kea ]] && program=/usr/sbin/kea-dhcp4
netns_require "$program" busybox
((runs >= 10)) || netns_fail "N must be at least 10"

netns_init bench
server="bs$NETNS_TAG" client="bc$NETNS_TAG"
netns_add "$server"
netns_add "$client"
netns_link "$server" "bs$NETNS_TAG" 198.51.100.1/24 "$client" "bc$NETNS_TAG"
deploy="$NETNS_TMP/deploy"
netns_stage "$deploy" "$build/launcher/dhcp-launcher" "$build/reference/fylDHCPD.dll" \
  "$build/reference/mekDHCPPluginu.dll"
netns_settings "$deploy" 255.255.255.0 198.51.100.1 3600 198.51.100.100-198.51.100.200
netns_plugin_settings "$deploy" "Engine=$engine" "Interface=bs$NETNS_TAG"
netns_launch "$server" "$deploy"
netns_expect_code 0
run="$deploy/run"
config=$run/dnsmasq.conf
[[ $engine == kea ]] && config=$run/kea-dhcp4.json

# Inside the server namespace: one timed start, in microseconds, from the command's start until
# port 67 shows in the namespace's UDP table; then the engine is stopped again.
stop_engine() {
  ip netns pids "$server" | xargs -r kill
  while [[ -n $(netns_engine_pids "$server") ]]; do sleep 0.01; done
}

measure() { # launcher | direct
  stop_engine
  ip netns exec "$server" bash -c '
    mode=$1 program=$2 config=$3 bin=$4 run=$5
    while grep -q ":0043 " /proc/net/udp; do sleep 0.01; done
    start=$EPOCHREALTIME
    if [[ $mode == launcher ]]; then
      (cd "$bin" && exec ./dhcp-launcher) &
    elif [[ $program == */dnsmasq ]]; then
      "$program" --conf-file="$config" &
    else
      KEA_PIDFILE_DIR=$run KEA_LOCKFILE_DIR=$run setsid "$program" -c "$config" >>"$run/engine.log" 2>&1 &
    fi
    until read -r -d "" udp </proc/net/udp; [[ $udp == *":0043 "* ]]; do
      ((${EPOCHREALTIME/./} - ${start/./} < 10000000)) || { echo "not serving after 10 s" >&2; exit 1; }
    done
    end=$EPOCHREALTIME
    [[ $mode == direct && $program != */dnsmasq ]] || wait  # Kea stays in the foreground
    echo $(( ${end/./} - ${start/./} ))' _ "$1" "$program" "$config" "$deploy/bin" "$run"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }

launcher_ms=() direct_ms=()
for ((i = 0; i < runs; i++)); do
  launcher_ms+=("$(measure launcher)")
  direct_ms+=("$(measure direct)")
done
stop_engine
launcher_median=$(printf '%s\n' "${launcher_ms[@]}" | median)
direct_median=$(printf '%s\n' "${direct_ms[@]}" | median)
ms() { awk '{printf "%s%.1f", (NR > 1 ? " " : ""), $1 / 1000}'; }
echo "engine $engine, $runs runs each (ms until port 67 is bound)"
echo "  through the launcher: median $(ms <<<"$launcher_median")  ($(printf '%s\n' "${launcher_ms[@]}" | ms))"
echo "  engine directly:      median $(ms <<<"$direct_median")  ($(printf '%s\n' "${direct_ms[@]}" | ms))"
awk -v a="$launcher_median" -v b="$direct_median" 'BEGIN {printf "  ratio: %.2fx\n", a / b}'

# A client's first lease through the launcher: a new client each time (a new hardware address).
lease_ms=()
for ((i = 0; i < 3; i++)); do
  stop_engine
  ip -n "$client" link set "bc$NETNS_TAG" address "02:00:00:00:01:0$i"
  start=$EPOCHREALTIME
  netns_launch "$server" "$deploy"
  netns_udhcpc "$client" "bc$NETNS_TAG" 10 >/dev/null || netns_fail "no lease"
  end=$EPOCHREALTIME
  lease_ms+=($(((${end/./} - ${start/./}) / 1000)))
done
echo "  first lease through the launcher (ms): median $(printf '%s\n' "${lease_ms[@]}" | median)  (${lease_ms[*]})"
