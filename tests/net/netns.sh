# shellcheck shell=bash
# Shell helpers for DHCP tests and the lab: private network namespaces, a staged deployment, real
# clients. Source it from bash. Everything runs only inside namespaces made here, on
# 198.51.100.0/24 and 203.0.113.0/24 (or a private 10.x range for a large pool), and netns_cleanup
# (set as an EXIT trap by netns_init) stops every process in them and removes them, also on
# failure.

NETNS_NAMES=()
NETNS_TMP=""
NETNS_WATCHDOG_PID=""

# netns_fail MESSAGE: ends the script with status 1.
netns_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# netns_skip REASON: a test that cannot run here skips (status 77), or fails when CI is set, so a
# CI machine without the rights cannot pass by skipping.
netns_skip() {
  if [[ -n "${CI:-}" ]]; then
    netns_fail "cannot run under CI: $*"
  fi
  echo "SKIP: $*"
  exit 77
}

# netns_require PROGRAM...: root and the named programs, or skip.
netns_require() {
  if [[ $(id -u) -ne 0 ]]; then
    netns_skip "needs root to create network namespaces and to bind the DHCP port 67"
  fi
  local program
  for program in ip "$@"; do
    [[ -x $program ]] || command -v "$program" >/dev/null 2>&1 ||
      netns_skip "$program is not installed"
  done
}

netns_cleanup() {
  local ns pid
  # A second signal must not cut the cleanup short.
  trap '' INT TERM
  if [[ -n $NETNS_WATCHDOG_PID ]]; then
    kill -TERM "$NETNS_WATCHDOG_PID" 2>/dev/null
    wait "$NETNS_WATCHDOG_PID" 2>/dev/null
  fi
  for ns in "${NETNS_NAMES[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -TERM "$pid" 2>/dev/null; done
  done
  sleep 0.2
  for ns in "${NETNS_NAMES[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
  if [[ -n ${NETNS_KEEP:-} ]]; then
    echo "kept $NETNS_TMP"
  elif [[ -n $NETNS_TMP && -d $NETNS_TMP ]]; then
    rm -rf "$NETNS_TMP"
  fi
  return 0
}

# netns_watchdog SECONDS: after SECONDS, ends the script by SIGTERM, so that its EXIT trap still
# cleans up; a harness that kills a test outright at its timeout (CTest sends SIGKILL) would leave
# the namespaces and their servers behind. The script may be waiting for a process that hangs, and
# bash runs a trap only once its foreground command ends: the processes in the namespaces named
# with NETNS_TAG and the script's own children get SIGTERM too, and SIGKILL 3 seconds later if the
# script is still there.
netns_watchdog() {
  local shell=$$
  (
    stop_all() { # SIGNAL
      local ns pid
      for ns in $(ip netns list | awk -v tag="$NETNS_TAG" \
        'substr($1, length($1) - length(tag) + 1) == tag { print $1 }'); do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -"$1" "$pid" 2>/dev/null; done
      done
      for pid in $(pgrep -P "$shell"); do
        [[ $pid != "$BASHPID" ]] && kill -"$1" "$pid" 2>/dev/null
      done
    }
    trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
    sleep "$1" >/dev/null 2>&1 &
    sleeper=$!
    wait "$sleeper"
    trap '' TERM
    echo "FAIL: still running after $1 seconds: stopped by the watchdog" >&2
    # The script's signal first: it then runs its trap as soon as the command it waits for ends.
    kill -TERM "$shell" 2>/dev/null
    stop_all TERM
    sleep 3
    kill -0 "$shell" 2>/dev/null && stop_all KILL
    exit 0
  ) &
  NETNS_WATCHDOG_PID=$!
}

# netns_init TAG: a temporary folder and the cleanup trap. Names get TAG and this shell's pid.
# With NETNS_WATCHDOG set to a number of seconds, a watchdog ends the script after that long.
netns_init() {
  NETNS_TAG="$1$$"
  NETNS_TMP=$(mktemp -d "/tmp/dhcp-net-$NETNS_TAG.XXXXXX")
  chmod 755 "$NETNS_TMP"
  trap netns_cleanup EXIT
  trap 'exit 130' INT TERM
  [[ -n ${NETNS_WATCHDOG:-} ]] && netns_watchdog "$NETNS_WATCHDOG"
  return 0
}

# netns_refuse_own_link ADDRESS...: the machine's own link may be 192.0.2.0/24; never use it.
netns_refuse_own_link() {
  local address
  for address in "$@"; do
    [[ $address == 192.0.2.* ]] && netns_fail "192.0.2.0/24 is refused: it may be this machine's own link"
  done
  return 0
}

# netns_add NAME: a namespace with its loopback up.
netns_add() {
  ip netns add "$1" || netns_fail "cannot create namespace $1"
  NETNS_NAMES+=("$1")
  ip -n "$1" link set lo up
}

# netns_link NS1 IF1 ADDRESS1/PREFIX NS2 IF2: a veth pair from NS1 (with the address) to NS2.
netns_link() {
  netns_refuse_own_link "${3%/*}"
  ip link add "$2" netns "$1" type veth peer name "$5" netns "$4" || netns_fail "cannot link $1 and $4"
  [[ -n $3 ]] && ip -n "$1" addr add "$3" dev "$2"
  ip -n "$1" link set "$2" up
  ip -n "$4" link set "$5" up
}

# netns_stage DIR LAUNCHER COMPONENT PLUGIN: a deployment (bin/, config/, log/) in DIR.
netns_stage() {
  mkdir -p "$1/bin" "$1/config" "$1/log"
  cp "$2" "$3" "$4" "$1/bin/"
}

# netns_settings DIR MASK GATEWAY LEASE RANGE: the launcher's settings file.
netns_settings() {
  netns_refuse_own_link "$3" "${5%-*}"
  printf '[PARAMS]\nSubNetMask=%s\nGateway=%s\nDuringTime=%s\nRangeIp=%s\n' "$2" "$3" "$4" "$5" \
    >"$1/config/fylDHCPServer.ini"
}

# netns_plugin_settings DIR KEY=VALUE...: the plugin's own settings file, section ENGINE.
netns_plugin_settings() {
  local dir=$1 line
  shift
  {
    echo "[ENGINE]"
    for line in "$@"; do echo "$line"; done
  } >"$dir/config/mekDHCPPluginu.ini"
}

# netns_launch NS DIR [SIGNAL...]: runs the launcher from DIR/bin inside NS, with the SIGNALs
# ignored; sets ANSWER_CODE and ANSWER to the plugin's last answer from its log.
netns_launch() {
  (cd "$2/bin" && { (($# < 3)) || trap '' "${@:3}"; } && ip netns exec "$1" ./dhcp-launcher) ||
    netns_fail "launcher exited with $?"
  local line
  line=$(grep ' RequestService answered ' "$2/log/mekDHCPPluginu.log" | tail -n 1)
  ANSWER_CODE=$(sed -E 's/.* RequestService answered (-?[0-9]+): .*/\1/' <<<"$line")
  ANSWER=$(sed -E 's/.*ZOR_PLUGIN_RESPONSE_MESSAGE=//' <<<"$line")
}

# netns_expect_code CODE: the last answer had CODE.
netns_expect_code() {
  [[ $ANSWER_CODE == "$1" ]] || netns_fail "expected code $1, got $ANSWER_CODE: $ANSWER"
}

# netns_udhcpc NS IF TRIES: one lease with busybox udhcpc; prints
# "ip=.. subnet=.. router=.. lease=.. serverid=.." or returns 1 when none came.
netns_udhcpc() {
  local script="$NETNS_TMP/udhcpc-$1-$2.sh" out="$NETNS_TMP/lease-$1-$2"
  printf '#!/bin/sh\n[ "$1" = bound ] && echo "ip=$ip subnet=$subnet router=$router lease=$lease serverid=$serverid" >%s\nexit 0\n' \
    "$out" >"$script"
  chmod +x "$script"
  rm -f "$out"
  ip netns exec "$1" busybox udhcpc -i "$2" -f -q -n -t "$3" -T 1 -s "$script" >/dev/null 2>&1
  [[ -s $out ]] && cat "$out"
}

# netns_dhclient NS IF: one lease with ISC dhclient; prints the same fields as netns_udhcpc.
netns_dhclient() {
  local script="$NETNS_TMP/dhclient-$1.sh" out="$NETNS_TMP/dhclient-lease-$1"
  printf '#!/bin/sh\n[ "$reason" = BOUND ] && echo "ip=$new_ip_address subnet=$new_subnet_mask router=$new_routers lease=$new_dhcp_lease_time serverid=$new_dhcp_server_identifier" >%s\nexit 0\n' \
    "$out" >"$script"
  chmod +x "$script"
  rm -f "$out"
  timeout 20 ip netns exec "$1" dhclient -1 -4 -sf "$script" -lf "$NETNS_TMP/dhclient.leases" \
    -pf "$NETNS_TMP/dhclient.pid" "$2" >/dev/null 2>&1
  [[ -f $NETNS_TMP/dhclient.pid ]] && kill "$(cat "$NETNS_TMP/dhclient.pid")" 2>/dev/null
  [[ -s $out ]] && cat "$out"
}

# netns_field NAME LEASE: one field of a lease line.
netns_field() {
  sed -E "s/.*\\b$1=([^ ]*).*/\\1/" <<<"$2"
}

# netns_engine_pids NS: the live (not zombie) dnsmasq and kea-dhcp4 processes in NS.
netns_engine_pids() {
  local pid name state
  for pid in $(ip netns pids "$1"); do
    name=$(cat "/proc/$pid/comm" 2>/dev/null) || continue
    state=$(sed -E 's/.*\) (.).*/\1/' "/proc/$pid/stat" 2>/dev/null)
    [[ $state != Z && ($name == dnsmasq || $name == kea-dhcp4) ]] && echo "$pid"
  done
  return 0
}

# netns_ignored_signals PID: the signal mask the process ignores (SigIgn of /proc/PID/status).
netns_ignored_signals() {
  sed -n 's/^SigIgn:[[:space:]]*//p' "/proc/$1/status"
}

# netns_ip_to_int A.B.C.D
netns_ip_to_int() {
  local IFS=.
  # shellcheck disable=SC2206
  local octets=($1)
  echo $(((octets[0] << 24) + (octets[1] << 16) + (octets[2] << 8) + octets[3]))
}

# netns_in_range ADDRESS FIRST LAST
netns_in_range() {
  local a f l
  a=$(netns_ip_to_int "$1") f=$(netns_ip_to_int "$2") l=$(netns_ip_to_int "$3")
  ((a >= f && a <= l))
}

# netns_bridge NS: a namespace holding a bridge (named hub), which joins the namespaces that
# netns_attach links to it; the bridge never lives in the machine's own namespace.
netns_bridge() {
  netns_add "$1"
  ip -n "$1" link add name hub type bridge || netns_fail "cannot create a bridge in $1"
  ip -n "$1" link set hub up
}

# netns_attach BRIDGE_NS NS IF [ADDRESS/PREFIX]: NS joined to BRIDGE_NS's bridge by a veth pair,
# IF in NS (with the address), its peer bIF on the bridge. IF has at most 14 characters.
netns_attach() {
  local address=${4:-}
  netns_refuse_own_link "${address%/*}"
  ip link add "$3" netns "$2" type veth peer name "b$3" netns "$1" ||
    netns_fail "cannot link $2 to the bridge in $1"
  ip -n "$1" link set "b$3" master hub
  ip -n "$1" link set "b$3" up
  [[ -n $address ]] && ip -n "$2" addr add "$address" dev "$3"
  ip -n "$2" link set "$3" up
}

# netns_pair_pki DIR PRIMARY_ADDRESS SECONDARY_ADDRESS: with openssl, a CA of its own (ca.pem) and a
# certificate and key for each server of a pair (primary.pem and .key, secondary.pem and .key,
# each naming its address), in DIR (made 0700); the keys 0600.
netns_pair_pki() {
  local dir=$1 role address
  mkdir -m 700 "$dir" || netns_fail "cannot make $dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=dhcp-pair test CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" >/dev/null 2>&1 ||
    netns_fail "openssl could not make a CA"
  for role in primary secondary; do
    address=$2
    [[ $role == secondary ]] && address=$3
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -subj "/CN=dhcp-$role" -addext "subjectAltName=IP:$address" -keyout "$dir/$role.key" \
      -out "$dir/$role.csr" >/dev/null 2>&1 ||
      netns_fail "openssl could not make the $role's key"
    openssl x509 -req -in "$dir/$role.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
      -CAcreateserial -days 2 -copy_extensions copy -out "$dir/$role.pem" >/dev/null 2>&1 ||
      netns_fail "openssl could not make the $role's certificate"
  done
  chmod 600 "$dir"/*.key
}
