#!/bin/sh
# Times one whole launcher run against the baseline program in one staged deployment.
#
# Usage: bench/compare_launcher.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a build with the benchmarks enabled (default: build/bench, as made by
#              `cmake --workflow --preset bench`)
#   RUNS       timed runs of each program (default: 1000), made in ten hyperfine rounds of RUNS/10
#              with the order of the two programs swapped each round, so that a change of load
#              on the machine falls on both alike; then RUNS/4 runs of each for peak memory
#
# Stages BUILD_DIR/bench/compare-deployment (bin/ with dhcp-launcher, launcher-baseline and the
# reference component and plugin; config/fylDHCPServer.ini, the demo's settings; log/), checks that
# both programs send the plugin the same request and get it accepted, then reports each program's
# median and fastest wall time over all rounds (hyperfine), mean CPU time (user + system) and
# median and largest peak resident set size (/usr/bin/time), and the launcher's figures as ratios
# to the baseline's. The plugin's log is removed before every run, so each run writes the same log
# from scratch. When valgrind is installed, also counts the instructions one run of each executes
# (callgrind), a figure the machine's load does not change. Needs hyperfine, jq and GNU time.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build/bench}" && pwd)
runs=${2:-1000}
rounds=10
round_runs=$((runs / rounds))
rss_runs=$((runs / 4))
[ "$round_runs" -ge 2 ] || { echo "compare_launcher.sh: RUNS must be at least 20" >&2; exit 2; }

for tool in hyperfine jq /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare_launcher.sh: $tool is missing" >&2; exit 2; }
done

deployment=$build/bench/compare-deployment
bin=$deployment/bin
log=$deployment/log/mekDHCPPluginu.log
rm -rf "$deployment"
mkdir -p "$bin" "$deployment/config" "$deployment/log"
cp "$build/launcher/dhcp-launcher" "$build/bench/baseline/launcher-baseline" \
   "$build/reference/fylDHCPD.dll" "$build/reference/mekDHCPPluginu.dll" "$bin/"
cp "$repo/reference/demo/fylDHCPServer.ini" "$deployment/config/"
cd "$bin"

# One checked run of a program: exit code 0, the plugin's answer 0, and the request it received.
request_of() {
  rm -f "$log"
  "./$1" || { echo "compare_launcher.sh: $1 ended with $?" >&2; exit 1; }
  grep -q '^[^ ]* RequestService answered 0: ' "$log" ||
    { echo "compare_launcher.sh: the plugin did not accept the settings from $1" >&2; exit 1; }
  sed -n 's/^[^ ]* Initialize received: //p' "$log"
}
launcher_request=$(request_of dhcp-launcher)
baseline_request=$(request_of launcher-baseline)
if [ "$launcher_request" != "$baseline_request" ]; then
  printf 'compare_launcher.sh: the requests differ:\n  %s\n  %s\n' \
    "$launcher_request" "$baseline_request" >&2
  exit 1
fi
echo "Both programs send: $launcher_request"

first=./dhcp-launcher
second=./launcher-baseline
for round in $(seq "$rounds"); do
  hyperfine --shell=none --warmup 10 --runs "$round_runs" --prepare "rm -f $log" \
    --export-json "$deployment/times-$round.json" "$first" "$second"
  swapped=$first
  first=$second
  second=$swapped
done

# Peak resident set size in KiB of each run, the two programs taking turns.
for _ in $(seq "$rss_runs"); do
  for program in dhcp-launcher launcher-baseline; do
    rm -f "$log"
    /usr/bin/time -f %M -a -o "$deployment/$program.rss" "./$program"
  done
done

# Instructions executed by one run, dynamic loading included; 0 without valgrind.
instructions_of() {
  if ! command -v valgrind >/dev/null; then
    echo 0
    return
  fi
  rm -f "$log"
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "./$1" 2>&1 |
    sed -n 's/^==[0-9]*== Collected : //p'
}
launcher_instructions=$(instructions_of dhcp-launcher)
baseline_instructions=$(instructions_of launcher-baseline)

median_of() {
  sort -n | awk '{ v[NR] = $1 }
    END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
times_of() {
  jq -r ".results[] | select(.command == \"./$1\") | .times[]" "$deployment"/times-*.json
}
time_of() {
  times_of "$1" | median_of
}
# Every round has as many runs, so the mean over the rounds' means is the mean over all runs.
cpu_of() {
  jq -r ".results[] | select(.command == \"./$1\") | .user + .system" "$deployment"/times-*.json |
    awk '{ sum += $1 } END { print sum / NR }'
}
fastest_of() {
  times_of "$1" | sort -n | head -n 1
}
launcher_time=$(time_of dhcp-launcher)
baseline_time=$(time_of launcher-baseline)
launcher_fastest=$(fastest_of dhcp-launcher)
baseline_fastest=$(fastest_of launcher-baseline)
launcher_cpu=$(cpu_of dhcp-launcher)
baseline_cpu=$(cpu_of launcher-baseline)
launcher_rss=$(median_of <"$deployment/dhcp-launcher.rss")
baseline_rss=$(median_of <"$deployment/launcher-baseline.rss")
launcher_rss_max=$(sort -n "$deployment/dhcp-launcher.rss" | tail -n 1)
baseline_rss_max=$(sort -n "$deployment/launcher-baseline.rss" | tail -n 1)

awk -v lt="$launcher_time" -v bt="$baseline_time" -v lf="$launcher_fastest" \
    -v bf="$baseline_fastest" -v lc="$launcher_cpu" -v bc="$baseline_cpu" \
    -v lr="$launcher_rss" -v br="$baseline_rss" \
    -v lm="$launcher_rss_max" -v bm="$baseline_rss_max" \
    -v li="$launcher_instructions" -v bi="$baseline_instructions" \
    -v runs="$((round_runs * rounds))" -v rss_runs="$rss_runs" 'BEGIN {
  ms = "%-24s %10.3f %10.3f %7.3f%s\n"
  count = "%-24s %10d %10d %7.3f%s\n"
  printf "\n%-24s %10s %10s %7s\n", "", "launcher", "baseline", "ratio"
  printf ms, "median wall time (ms)", lt * 1000, bt * 1000, lt / bt, "   (" runs " runs each)"
  printf ms, "fastest wall time (ms)", lf * 1000, bf * 1000, lf / bf, ""
  printf ms, "mean CPU time (ms)", lc * 1000, bc * 1000, lc / bc, "   (user + system)"
  printf count, "median peak RSS (KiB)", lr, br, lr / br, "   (" rss_runs " runs each)"
  printf count, "largest peak RSS (KiB)", lm, bm, lm / bm, ""
  if (li > 0 && bi > 0) {
    printf count, "instructions (thousands)", li / 1000, bi / 1000, li / bi,
           "   (callgrind, one run)"
  }
}'
