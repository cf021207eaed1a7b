#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own Wine prefix, booting it on first use.
#
#   wine-run.sh PREFIX PROGRAM [ARG...]   run PROGRAM; its exit code is the program's (low byte)
#   wine-run.sh PREFIX --stop             stop the prefix's Wine server and its services
#
# The first Wine process of a prefix starts the Wine server and the prefix's background services,
# and those keep the standard streams they were started with. If that first process were a test
# started by CTest, the services would hold CTest's output pipe open and CTest would never finish.
# So the server and the services are always started here, detached from the caller's session and
# streams, before the program runs. The server stays up while programs keep coming and exits by
# itself a while after the last one ends; --stop ends it at once.
#
# WINELOADER and WINESERVER select other Wine binaries than Debian's wine64 package installs.
set -euo pipefail

if (($# < 2)); then
  echo "usage: $0 PREFIX PROGRAM [ARG...] | $0 PREFIX --stop" >&2
  exit 2
fi
prefix=$1
shift

loader=${WINELOADER:-/usr/lib/wine/wine64}
server=${WINESERVER:-/usr/lib/wine/wineserver64}
for tool in "$loader" "$server"; do
  if [[ ! -x $tool ]]; then
    echo "$0: $tool not found; install Wine (Debian: apt-get install wine64)" >&2
    exit 127
  fi
done

# Seconds the server outlives its last program.
linger=30

mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEDEBUG=-all

if [[ $1 == --stop ]]; then
  # Nothing to stop is not an error.
  "$server" -k >/dev/null 2>&1 </dev/null || true
  "$server" -w >/dev/null 2>&1 </dev/null || true
  exit 0
fi

# One caller at a time checks and boots the prefix (CTest and Ninja may start several at once).
exec 9>"$WINEPREFIX/.wine-run.lock"
flock 9
# The server exits with status 2 when one already serves this prefix. Neither the server nor the
# services may inherit the lock (fd 9): they outlive this script and would hold it.
status=0
setsid --wait "$server" -p"$linger" >/dev/null 2>&1 </dev/null 9>&- || status=$?
case $status in
  0) setsid --wait "$loader" wineboot >/dev/null 2>&1 </dev/null 9>&- ;;
  2) ;;
  *)
    echo "$0: the Wine server for $WINEPREFIX failed to start (status $status)" >&2
    exit 1
    ;;
esac
exec 9>&-

exec "$loader" "$@"
