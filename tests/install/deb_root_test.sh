#!/usr/bin/env bash
# The .debs in a private dpkg root, their maintainer scripts run as dpkg runs them without a chroot
# (with $DPKG_ROOT), and the systemd unit's command lines, exactly as the unit writes them, against
# that deployment inside network namespaces.
#
# deb_root_test.sh CASE DEB_DIR SOURCE_DIR [ENGINE | EXAMPLE_DIR]
#   packages  no network: an upgrade from 1.0.0's single package keeps an edited settings file;
#             systemd-analyze accepts the unit, which installing does not enable; the example
#             plugin's package (in EXAMPLE_DIR) takes the reference plugin's place and back; a stop
#             that fails is reported and the removal goes on, an upgrade stops nothing; a purge
#             removes the plugin's files and nothing of the operator's; in the end nothing is left
#   unit      the unit's start, reload and stop lines with ENGINE (dnsmasq | kea) serving a client,
#             an upgrade that leaves the server alone, the removal that stops it, and the purge
#             (needs the check program's --server and --stop-server)
# DEB_DIR holds the three .debs of one build. Exit 0 passed, 1 failed, 77 skipped (with CI set:
# failed).
set -uo pipefail
# shellcheck source=../net/netns.sh
source "$(dirname "$0")/../net/netns.sh"

case_name=$1 deb_dir=$2 source_dir=$3 engine=${4:-dnsmasq} example_dir=""
[[ $case_name == packages ]] && example_dir=${4:-}
deployment_path=/opt/dhcp-launcher
launcher_package=dhcp-launcher plugin_package=dhcp-launcher-plugin-reference
dev_package=dhcp-launcher-dev

# --- the private root ---------------------------------------------------------------------------

deb_of() { # PACKAGE: its .deb in DEB_DIR
  local files=("$deb_dir/$1"_*.deb)
  [[ -f ${files[0]} ]] || netns_fail "no $1 package in $deb_dir"
  echo "${files[0]}"
}

# root_init: an empty dpkg root with dpkg's admin folder, at $root.
root_init() {
  root=$NETNS_TMP/root
  deploy=$root$deployment_path
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
}

# in_root ARG...: dpkg on the private root, its scripts outside a chroot; output in $DPKG_OUT,
# fails the test when dpkg fails.
in_root() {
  DPKG_OUT=$(dpkg --root="$root" --force-script-chrootless "$@" 2>&1) ||
    netns_fail "dpkg $* failed:"$'\n'"$DPKG_OUT"
}

# in_root_refused DEB: dpkg refuses to install DEB beside a conflicting package.
in_root_refused() {
  DPKG_OUT=$(dpkg --root="$root" --force-script-chrootless -i "$1" 2>&1) &&
    netns_fail "dpkg installed $1 beside a conflicting package"
  [[ $DPKG_OUT == *"conflicting packages"* ]] || netns_fail "dpkg refused $1 for another reason:"$'\n'"$DPKG_OUT"
}

# status_of PACKAGE: dpkg's two-letter state: ii installed, rc removed but for its settings, ""
# gone.
status_of() {
  dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null |
    tr -d ' ' | sed 's/^un$//'
}

expect_status() { # PACKAGE STATE
  [[ $(status_of "$1") == "$2" ]] || netns_fail "$1 is '$(status_of "$1")', not '$2':"$'\n'"$DPKG_OUT"
}

# make_deb DIR: DIR.deb from DIR, which holds DEBIAN/control and the files.
make_deb() {
  dpkg-deb --root-owner-group --build "$1" "$1.deb" >/dev/null || netns_fail "cannot build $1.deb"
}

# base_package: one package that provides, at a high version, every package our packages depend
# on besides each other, so that dpkg checks their dependencies among themselves for real.
base_package() {
  local deb provides
  provides=$(for deb in "$deb_dir"/*.deb ${example_dir:+"$example_dir"/*.deb}; do
    dpkg-deb -f "$deb" Depends
  done | tr ',' '\n' |
    sed -E 's/\|.*//; s/\(.*//; s/[[:space:]]//g' | grep -v -e '^$' -e '^dhcp-launcher' | sort -u |
    sed 's/$/ (= 999)/' | paste -sd, - | sed 's/,/, /g')
  mkdir -p "$NETNS_TMP/base/DEBIAN"
  printf 'Package: test-base\nVersion: 1\nArchitecture: all\nMaintainer: test <t@example.org>\nProvides: %s\nDescription: what the packages depend on\n' \
    "$provides" >"$NETNS_TMP/base/DEBIAN/control"
  make_deb "$NETNS_TMP/base"
  in_root -i "$NETNS_TMP/base.deb"
}

# install_all: the three packages in one dpkg run, as apt installs them.
install_all() {
  in_root --auto-deconfigure -i "$(deb_of $launcher_package)" "$(deb_of $plugin_package)" \
    "$(deb_of $dev_package)"
  local package
  for package in $launcher_package $plugin_package $dev_package; do expect_status "$package" ii; done
}

# expect_nothing_left: after purging everything, no file, link or folder of ours is left in the
# root but dpkg's own, and the folders that systemctl made for the link it made.
expect_nothing_left() {
  local left
  left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o ! -type d -print -o -type d -empty \
    ! -path ./var/lib/dpkg ! -path './etc/systemd*' ! -path ./var/lib ! -path ./var -print)
  [[ -z $left ]] || netns_fail "left behind in the root:"$'\n'"$left"
}

# --- the unit -----------------------------------------------------------------------------------

unit_file() { echo "$root/lib/systemd/system/dhcp-launcher.service"; }

# unit_values KEY: the values of KEY= in the unit's [Service] section, one a line, in order.
unit_values() {
  awk -v key="$1" '/^\[/ { service = ($0 == "[Service]") }
    service && index($0, key "=") == 1 { print substr($0, length(key) + 2) }' "$(unit_file)"
}

# run_unit_line LINE: runs an Exec line as systemd would, in the unit's working folder and umask,
# inside the server namespace, with the unit's /opt/dhcp-launcher leading to the private root's
# deployment (in a mount namespace of its own: the machine's /opt is not touched). Prints nothing;
# returns the line's exit status.
run_unit_line() {
  local line=$1 words
  # Quotes, specifiers, variables and prefixes would need systemd's own reading of the line.
  [[ $line != *[\"\'\\%\$\;]* && $line != [-@:+!]* ]] ||
    netns_fail "the test cannot run '$line' as systemd would"
  read -ra words <<<"$line"
  unshare --mount --propagation private -- bash -c '
    mount -t tmpfs -o mode=0755 tmpfs /opt && ln -s "$1" /opt/dhcp-launcher && cd "$2" &&
      umask "$3" && exec ip netns exec "$4" "${@:5}"' \
    _ "$deploy" "$(unit_values WorkingDirectory)" "$(unit_values UMask)" "$server" "${words[@]}" \
    >>"$NETNS_TMP/unit.out" 2>&1
}

# unit_step KEY EXPECTED: every KEY line of the unit, in order, each ending with EXPECTED.
unit_step() {
  local line status
  while IFS= read -r line; do
    run_unit_line "$line"
    status=$?
    [[ $status == "$2" ]] || netns_fail "$1=$line ended with $status, not $2:"$'\n'"$(cat "$NETNS_TMP/unit.out")"
  done < <(unit_values "$1")
}

expect_engines() { # COUNT
  local pids
  pids=$(netns_engine_pids "$server" | wc -l)
  [[ $pids -eq $1 ]] || netns_fail "expected $1 engine process(es) in the server namespace, found $pids"
}

# --- cases --------------------------------------------------------------------------------------

case $case_name in
packages)
  netns_require dpkg dpkg-deb dpkg-query systemd-analyze systemctl
  netns_init pkg
  root_init
  base_package

  # 1.0.0: one package with everything, lab/ included; the operator edited the plugin's settings.
  old=$NETNS_TMP/old
  for path in bin/dhcp-launcher bin/dhcp-launcher-check bin/fylDHCPD.dll bin/mekDHCPPluginu.dll \
    include/dhcp_launcher/request/plugin_contract.h lib/libdhcp_launcher_request.a \
    lib/cmake/dhcp_launcher/dhcp_launcherConfig.cmake lab/run-lab.sh lab/fylDHCPServer.ini \
    share/doc/dhcp_launcher/LICENSE; do
    mkdir -p "$(dirname "$old$deployment_path/$path")"
    echo "1.0.0 $path" >"$old$deployment_path/$path"
  done
  mkdir -p "$old$deployment_path/config" "$old$deployment_path/log" "$old/DEBIAN"
  cp "$source_dir/reference/demo/fylDHCPServer.ini" "$source_dir/reference/demo/mekDHCPPluginu.ini" \
    "$old$deployment_path/config/"
  printf 'Package: %s\nVersion: 1.0.0\nArchitecture: all\nMaintainer: test <t@example.org>\nDescription: 1.0.0\n' \
    $launcher_package >"$old/DEBIAN/control"
  printf '%s\n' "$deployment_path/config/fylDHCPServer.ini" "$deployment_path/config/mekDHCPPluginu.ini" \
    >"$old/DEBIAN/conffiles"
  make_deb "$old"
  in_root -i "$old.deb"
  printf '[ENGINE]\nEngine=dnsmasq\nInterface=eth7\n' >"$deploy/config/mekDHCPPluginu.ini"

  # The upgrade: the new packages take over 1.0.0's files, the edited settings stay.
  install_all
  [[ $(cat "$deploy/config/mekDHCPPluginu.ini") == $'[ENGINE]\nEngine=dnsmasq\nInterface=eth7' ]] ||
    netns_fail "the upgrade replaced the edited plugin settings:"$'\n'"$(cat "$deploy/config/mekDHCPPluginu.ini")"
  for path in bin/mekDHCPPluginu.dll config/mekDHCPPluginu.ini; do
    owner=$(dpkg-query --admindir="$root/var/lib/dpkg" -S "$deployment_path/$path" 2>/dev/null)
    [[ $owner == "$plugin_package: $deployment_path/$path" ]] || netns_fail "$path belongs to '$owner'"
  done
  [[ $(head -c 4 "$deploy/bin/mekDHCPPluginu.dll") == $'\x7fELF' ]] || netns_fail "the plugin was not replaced"
  [[ ! -e $deploy/lab && ! -e $deploy/share/doc ]] || netns_fail "1.0.0's lab/ or share/doc/ is left"

  # The unit: sound to systemd (a warning counts), its programs there, and not enabled. systemd's
  # own targets are stand-ins, there only while it looks.
  mkdir -p "$root/etc/systemd/system"
  for target in sysinit basic shutdown network-online multi-user; do
    printf '[Unit]\nDescription=%s\n' $target >"$root/etc/systemd/system/$target.target"
  done
  verified=$(systemd-analyze verify --root="$root" --man=no dhcp-launcher.service 2>&1) ||
    netns_fail "systemd-analyze verify refused the unit:"$'\n'"$verified"
  [[ -z $verified ]] || netns_fail "systemd-analyze verify warned:"$'\n'"$verified"
  rm -f "$root"/etc/systemd/system/*.target
  [[ -z $(find "$root/etc/systemd" ! -type d) ]] || netns_fail "installing enabled the unit"
  [[ $(unit_values TimeoutStartSec) -ge 150 ]] || netns_fail "the unit allows less than 150 s to start"
  systemctl --root="$root" enable dhcp-launcher.service >/dev/null 2>&1 ||
    netns_fail "systemctl --root enable failed"

  # Another plugin package, made as the example plugin's CMakeLists.txt shows, never installs
  # beside the reference plugin, whose file it would overwrite: dpkg refuses it until the
  # reference plugin is removed (which apt does first), and the same the other way round.
  vendor_deb=("$example_dir"/example-dhcp-plugin_*.deb)
  [[ -f ${vendor_deb[0]} ]] || netns_fail "no example plugin package in $example_dir"
  vendor=${vendor_deb[0]} vendor_package=example-dhcp-plugin
  in_root_refused "$vendor"
  in_root -r $plugin_package
  in_root -i "$vendor"
  expect_status $vendor_package ii
  cmp -s "$deploy/bin/mekDHCPPluginu.dll" <(dpkg-deb --fsys-tarfile "$vendor" |
    tar -xO ".$deployment_path/bin/mekDHCPPluginu.dll") || netns_fail "the example plugin is not in place"
  in_root_refused "$(deb_of $plugin_package)"
  in_root -r $vendor_package
  in_root -i "$(deb_of $plugin_package)"
  expect_status $plugin_package ii
  in_root --purge $vendor_package

  # A stop that fails is reported and the removal goes on; an upgrade stops nothing. A stand-in
  # check program records its arguments and says the server still runs.
  check=$deploy/bin/dhcp-launcher-check
  printf '#!/bin/sh\necho "$*" >>%s\necho "still running: pid 4242"\nexit 11\n' "$NETNS_TMP/calls" >"$check"
  in_root -i "$(deb_of $plugin_package)"
  [[ ! -e $NETNS_TMP/calls ]] || netns_fail "an upgrade asked to stop the server: $(cat "$NETNS_TMP/calls")"
  in_root -r $plugin_package
  expect_status $plugin_package rc
  [[ $(cat "$NETNS_TMP/calls") == "--deployment $deploy --stop-server" ]] ||
    netns_fail "the removal called the check program with: $(cat "$NETNS_TMP/calls")"
  [[ $DPKG_OUT == *"ended with 11"*"still running: pid 4242"* ]] ||
    netns_fail "the failed stop was not reported:"$'\n'"$DPKG_OUT"
  install_all

  # A purge removes the files the plugin and its engines write, not the operator's; run/ stays
  # while it holds anything else, and goes with the last of them. A run/ that is a link is not
  # followed.
  mkdir -p "$deploy/run"
  grep -v -e '^#' -e '^$' "$source_dir/packaging/reference_plugin_files.txt" >"$NETNS_TMP/ours"
  while read -r path; do echo x >"$deploy/${path//\*/20261208-120000}"; done <"$NETNS_TMP/ours"
  echo mine >"$deploy/run/notes.txt"
  echo mine >"$deploy/log/other.log"
  in_root --purge $plugin_package
  expect_status $plugin_package ""
  while read -r path; do
    [[ ! -e $deploy/${path//\*/20261208-120000} ]] || netns_fail "the purge left $path"
  done <"$NETNS_TMP/ours"
  [[ -f $deploy/run/notes.txt && -f $deploy/log/other.log ]] || netns_fail "the purge removed the operator's files"
  [[ ! -e $deploy/config/mekDHCPPluginu.ini && ! -e $deploy/bin/mekDHCPPluginu.dll ]] ||
    netns_fail "the purge left the plugin or its settings"

  in_root -i "$(deb_of $plugin_package)"
  rm "$deploy/run/notes.txt"
  while read -r path; do echo x >"$deploy/${path//\*/20261208-120000}"; done <"$NETNS_TMP/ours"
  in_root --purge $plugin_package
  [[ ! -e $deploy/run ]] || netns_fail "the purge left run/: $(ls -A "$deploy/run")"

  in_root -i "$(deb_of $plugin_package)"
  mkdir -p "$NETNS_TMP/elsewhere"
  echo theirs >"$NETNS_TMP/elsewhere/engine.lock"
  ln -s "$NETNS_TMP/elsewhere" "$deploy/run"
  in_root --purge $plugin_package
  [[ -f $NETNS_TMP/elsewhere/engine.lock ]] || netns_fail "the purge followed run/ as a link"

  # With the operator's files gone, the launcher purged while the removed plugin's files are still
  # there, and the plugin purged last, nothing is left, the enabling link included.
  rm -f "$deploy/run" "$deploy/log/other.log"
  in_root -i "$(deb_of $plugin_package)"
  mkdir "$deploy/run"
  while read -r path; do echo x >"$deploy/${path//\*/20261208-120000}"; done <"$NETNS_TMP/ours"
  in_root -r $plugin_package
  in_root --purge $launcher_package $dev_package
  in_root --purge $plugin_package test-base
  expect_nothing_left
  echo "packages: upgrade, unit, plugin swap, failed stop, purge: ok"
  ;;
unit)
  program=/usr/sbin/dnsmasq
  [[ $engine == kea ]] && program=/usr/sbin/kea-dhcp4
  netns_require dpkg dpkg-deb unshare busybox "$program"
  netns_init "u${engine:0:1}"
  server="pus$NETNS_TAG" client="puc$NETNS_TAG" veth_s="s$NETNS_TAG" veth_c="c$NETNS_TAG"
  netns_add "$server"
  netns_add "$client"
  netns_link "$server" "$veth_s" 198.51.100.1/24 "$client" "$veth_c"
  root_init
  base_package
  install_all
  [[ $(unit_values WorkingDirectory) == "$deployment_path/bin" ]] ||
    netns_fail "the unit works in $(unit_values WorkingDirectory), not $deployment_path/bin"
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 600 198.51.100.100-198.51.100.150
  netns_plugin_settings "$deploy" "Engine=$engine" "Interface=$veth_s"

  # Start: the launcher, then the check that a server of these settings runs; a client leases.
  unit_step ExecStart 0
  unit_step ExecStartPost 0
  expect_engines 1
  lease=$(netns_udhcpc "$client" "$veth_c" 10) || netns_fail "no lease after the unit's start"
  netns_in_range "$(netns_field ip "$lease")" 198.51.100.100 198.51.100.150 || netns_fail "lease $lease"

  # Reload with a new lease time: one server, serving it.
  netns_settings "$deploy" 255.255.255.0 198.51.100.1 300 198.51.100.100-198.51.100.150
  unit_step ExecReload 0
  expect_engines 1
  ip -n "$client" link set "$veth_c" address 02:00:00:00:00:42
  lease=$(netns_udhcpc "$client" "$veth_c" 10) || netns_fail "no lease after the unit's reload"
  [[ $(netns_field lease "$lease") == 300 ]] || netns_fail "the reload did not apply: $lease"

  # An upgrade restarts nothing.
  engine_pid=$(netns_engine_pids "$server")
  install_all
  [[ $(netns_engine_pids "$server") == "$engine_pid" ]] || netns_fail "the upgrade touched the server"

  # Stop: nothing left; the start's check now fails (9: none running), as the unit would.
  unit_step ExecStop 0
  expect_engines 0
  unit_step ExecStartPost 9

  # Started again, the server is stopped by the plugin package's removal.
  unit_step ExecStart 0
  unit_step ExecStartPost 0
  expect_engines 1
  in_root -r $plugin_package
  [[ $DPKG_OUT != *"ended with"* ]] || netns_fail "the removal's stop failed:"$'\n'"$DPKG_OUT"
  expect_engines 0

  in_root --purge $plugin_package $launcher_package $dev_package test-base
  expect_nothing_left
  echo "unit with $engine: start, reload, upgrade, stop, removal, purge: ok"
  ;;
*)
  netns_fail "unknown case $case_name"
  ;;
esac
