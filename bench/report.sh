#!/usr/bin/env bash
# Measures the agent beside its peers in one go and writes docs/performance.md:
#  - every Google Benchmark program, repetitions interleaved at random, medians;
#  - whole-process times of `CorvanePluginAgent --snapshot`, `sensors -j` and /bin/true
#    on a machine without hwmon chips and on a full PC's tree (compare-with-sensors.sh).
# Each figure stands beside its peers as a ratio, measured in the same run. It fails on
# a missing tool or a benchmark that reports an error, never leaving a figure out.
# Usage: bench/report.sh   (builds the bench preset first; REPETITIONS, ROUNDS, RUNS)
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in cmake ninja hyperfine sensors unshare jq valgrind dbus-daemon systemctl lscpu awk; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
# The agent keeps no verdict on a program changed in the last 3 s, and would verify a
# freshly linked benchmark program again at every connection: let the build settle.
sleep 4
agent=build-bench/CorvanePlugin.app/Contents/MacOS/CorvanePluginAgent

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

programs=()
for program in build-bench/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] && programs+=("$program")
done
[ ${#programs[@]} -gt 0 ] || { echo "no benchmark programs in build-bench/bench" >&2; exit 1; }
for program in "${programs[@]}"; do
  echo "== ${program##*/}"
  "$program" --benchmark_repetitions="${REPETITIONS:-5}" \
    --benchmark_enable_random_interleaving=true --benchmark_min_time=0.2 \
    --benchmark_out="$out/${program##*/}.json" --benchmark_out_format=json
done
failed=$(jq -r '.benchmarks[] | select(.error_occurred) | "\(.name): \(.error_message)"' \
  "$out"/bench_*.json | sort -u)
[ -z "$failed" ] || { printf 'benchmarks failed:\n%s\n' "$failed" >&2; exit 1; }

for tree in none pc; do
  echo "== --snapshot, sensors -j, /bin/true; hwmon tree: $tree"
  bench/compare-with-sensors.sh "$agent" "$tree" "$out/$tree.tsv"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# figure PROGRAM BENCHMARK [FIELD] [STATISTIC]: the median real time in microseconds, or
# a counter's median or max over the repetitions. Fails when the figure is missing.
figure() {
  local value
  value=$(jq -r --arg name "$2" --arg field "${3:-real_time}" --arg statistic "${4:-median}" '
    [.benchmarks[] | select((.run_name | split("/")[0]) == $name)] as $runs |
    if $statistic == "max" then [$runs[] | select(.run_type == "iteration") | .[$field]] | max
    else $runs[] | select(.aggregate_name == "median") | .[$field] *
      (if $field | endswith("_time")
       then {"ns": 0.001, "us": 1, "ms": 1000, "s": 1000000}[.time_unit] else 1 end)
    end' "$out/bench_$1.json")
  [[ "$value" =~ ^[0-9.e+-]+$ ]] || { echo "no figure for $1 $2 ${3:-}" >&2; exit 1; }
  echo "$value"
}
# process TREE COMMAND_START [COLUMN]: a whole-process median in milliseconds, or with
# column 3 its instructions.
process() {
  local value
  value=$(awk -F'\t' -v start="$2" -v column="${3:-2}" \
    'index($1, start) == 1 { print $column }' "$out/$1.tsv")
  [ -n "$value" ] || { echo "no figure for '$2' on tree $1" >&2; exit 1; }
  echo "$value"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
fixed() { awk -v a="$1" -v digits="${2:-1}" 'BEGIN { printf "%.*f", digits, a }'; }
meets() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit ? "yes" : "**no**") }'; }
below() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? "yes" : "**no**") }'; }

snapshot_row() { # TREE LABEL: the goal against /bin/true holds where there is nothing to read
  local agent_ms sensors_ms true_ms
  agent_ms=$(process "$1" "$(realpath "$agent") --snapshot")
  sensors_ms=$(process "$1" "sensors -j")
  true_ms=$(process "$1" "/bin/true")
  local vs_sensors vs_true
  vs_sensors=$(ratio "$agent_ms" "$sensors_ms")
  vs_true=$(ratio "$agent_ms" "$true_ms")
  [ "$1" = none ] && vs_true="**${vs_true}x** ($(meets "$vs_true" 1.3))" || vs_true="${vs_true}x"
  echo "| $2 | $(fixed "$agent_ms" 3) | $(fixed "$sensors_ms" 3) | $(fixed "$true_ms" 3) |" \
    "**${vs_sensors}x** ($(meets "$vs_sensors" 0.8)) | $vs_true |"
}

instructions_row() { # TREE LABEL
  local agent_count sensors_count true_count
  agent_count=$(process "$1" "$(realpath "$agent") --snapshot" 3)
  sensors_count=$(process "$1" "sensors -j" 3)
  true_count=$(process "$1" "/bin/true" 3)
  echo "| $2 | $agent_count | $sensors_count | $true_count |" \
    "$(ratio "$agent_count" "$sensors_count")x | $(ratio "$agent_count" "$true_count")x |"
}

bare=$(figure client_fetch bareRoundTrip)
warm=$(figure client_fetch warmFetch)
dbus=$(figure client_fetch dbusCall)
dbus_fresh=$(figure client_fetch dbusConnectAndCall)
cpu=cpuAllProcesses_us
bare_cpu=$(figure client_fetch bareRoundTrip $cpu)
warm_cpu=$(figure client_fetch warmFetch $cpu)
dbus_cpu=$(figure client_fetch dbusCall $cpu)
dbus_fresh_cpu=$(figure client_fetch dbusConnectAndCall $cpu)
cold_hand=$(figure client_fetch coldFetch)
cold=$(figure client_fetch coldFetchThroughSystemd)
cold_floor=$(figure client_fetch coldOneByteThroughSystemd)
raw=$(figure service_round_trip warmFetchRaw)
raw_bare=$(figure service_round_trip bareUnixSocketRoundTrip)
peak=$(figure service_round_trip agentPeakMemoryAt1000Requests agentPeakRSS_KiB max)
anon=$(figure service_round_trip agentPeakMemoryAt1000Requests agentAnonRSS_KiB max)
wake_ups=$(figure service_round_trip agentIdleWakeUps wakeUps max)
idle_seconds=$(figure service_round_trip agentIdleWakeUps idleSeconds)

mkdir -p docs
{
  echo "# Performance"
  echo
  echo "Written by \`bench/report.sh\` (\`./dev bench\`) on $(date -u '+%Y-%m-%d %H:%M UTC'):" \
    "$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
    "Linux $(uname -r). Load average $load_before at the start, $load_after at the end:" \
    "on a shared machine absolute times vary from run to run, so each figure is set beside" \
    "its peers measured in the same run, and the ratios are the claim. Benchmark programs" \
    "run ${REPETITIONS:-5} repetitions interleaved at random; whole processes run" \
    "${ROUNDS:-5} hyperfine rounds of ${RUNS:-100} runs each, the commands taking turns." \
    "Figures are medians."
  echo
  echo "## Snapshot command"
  echo
  echo "Whole-process time, from start to exit, each hwmon tree shown to all three at \`/sys\`" \
    "in a private mount namespace (\`bench/compare-with-sensors.sh\`)."
  echo
  echo "| hwmon tree | \`--snapshot\` ms | \`sensors -j\` ms | \`/bin/true\` ms |" \
    "vs \`sensors -j\` (goal <= 0.8x) | vs \`/bin/true\` (goal <= 1.3x without chips) |"
  echo "|---|---|---|---|---|---|"
  snapshot_row none "no chips"
  snapshot_row pc "a full PC (5 chips, 8 fans)"
  echo
  echo "Instructions each executes from exec to exit (callgrind), which no load changes:"
  echo
  echo "| hwmon tree | \`--snapshot\` | \`sensors -j\` | \`/bin/true\` | vs \`sensors -j\` |" \
    "vs \`/bin/true\` |"
  echo "|---|---|---|---|---|---|"
  instructions_row none "no chips"
  instructions_row pc "a full PC"
  echo
  echo "## Warm fetch"
  echo
  echo "One fetch from a running agent on a fresh connection: connect, both identity checks," \
    "collect, encode, reply, decode, validate (\`bench_client_fetch\`). Its peers, in the" \
    "same program: a bare Unix-socket round trip of the same shape (request frame, reply" \
    "frame of a snapshot's size, from a forked peer that does nothing else), and a D-Bus" \
    "method call to a trivial service through a private \`dbus-daemon\`, on an open bus" \
    "connection and on a fresh one. Beside the time, the processor time each call costs all" \
    "the processes taking part (client, agent or peer, bus daemon), which a busy machine" \
    "disturbs far less."
  echo
  echo "| | median us | warm fetch / this | processor us per call | warm fetch / this |"
  echo "|---|---|---|---|---|"
  echo "| warm fetch | $(fixed "$warm") | 1.00 | $(fixed "$warm_cpu") | 1.00 |"
  echo "| bare Unix-socket round trip | $(fixed "$bare") |" \
    "**$(ratio "$warm" "$bare")x** (goal <= 2.5x: $(meets "$(ratio "$warm" "$bare")" 2.5)) |" \
    "$(fixed "$bare_cpu") | $(ratio "$warm_cpu" "$bare_cpu")x |"
  echo "| D-Bus call, open connection | $(fixed "$dbus") |" \
    "**$(ratio "$warm" "$dbus")x** (goal < 1x: $(below "$warm" "$dbus")) |" \
    "$(fixed "$dbus_cpu") | $(ratio "$warm_cpu" "$dbus_cpu")x |"
  echo "| D-Bus call, fresh connection | $(fixed "$dbus_fresh") | $(ratio "$warm" "$dbus_fresh")x |" \
    "$(fixed "$dbus_fresh_cpu") | $(ratio "$warm_cpu" "$dbus_fresh_cpu")x |"
  echo
  echo "The agent's side alone (\`bench_service_round_trip\`): the exchange by hand, without" \
    "the client's thread or its check of the agent, $(fixed "$raw") us against a bare round" \
    "trip of $(fixed "$raw_bare") us there: $(ratio "$raw" "$raw_bare")x."
  echo
  echo "## Cold fetch"
  echo
  echo "The agent not running: the fetch connects, the service manager starts it, it answers." \
    "Under a private \`systemd --user\` running the units made from the bundle, beside the same" \
    "manager socket-activating a trivial service that answers one byte" \
    "(\`bench/OneByteService.cpp\`): the mechanism's own floor. Each is stopped, untimed," \
    "before each fetch."
  echo
  echo "| | median us | ratio |"
  echo "|---|---|---|"
  echo "| cold fetch through the user manager | $(fixed "$cold") |" \
    "**$(ratio "$cold" "$cold_floor")x** the floor (goal <= 1.5x: $(meets "$(ratio "$cold" "$cold_floor")" 1.5)) |"
  echo "| trivial one-byte service, same manager | $(fixed "$cold_floor") | 1.00 |"
  echo "| cold fetch, socket handed over by the benchmark itself | $(fixed "$cold_hand") |" \
    "$(ratio "$cold_hand" "$cold_floor")x |"
  echo
  echo "## Agent at rest and under load"
  echo
  echo "| | figure | goal |"
  echo "|---|---|---|"
  echo "| wake-ups in ${idle_seconds%.*} s idle after a reply (context switches, most in any repetition) |" \
    "$(fixed "$wake_ups" 0) | 0 |"
  echo "| peak resident memory after 1,000 sequential requests (VmHWM, most in any repetition) |" \
    "$(fixed "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" 2) MiB | < 4 MiB |"
  echo "| of which its own (RssAnon: not pages of its program file) after those requests |" \
    "$(fixed "$(awk -v k="$anon" 'BEGIN { print k / 1024 }')" 2) MiB | |"
  echo
  echo "## Every benchmark"
  echo
  echo "| program | benchmark | median real time | median CPU time |"
  echo "|---|---|---|---|"
  for file in "$out"/bench_*.json; do
    jq -r --arg program "$(basename "$file" .json)" '.benchmarks[] |
      select(.aggregate_name == "median") |
      "| \($program) | \(.run_name) | \(.real_time * 100 | round / 100) \(.time_unit) |" +
      " \(.cpu_time * 100 | round / 100) \(.time_unit) |"' "$file"
  done
} >"$out/performance.md"
mv "$out/performance.md" docs/performance.md # only whole
echo "== wrote docs/performance.md"
