#!/usr/bin/env bash
# Whole-process time of `CorvanePluginAgent --snapshot` against `sensors -j` and
# `/bin/true` on the same hwmon tree, shown to all at /sys inside a private mount
# namespace: `pc`, an ordinary PC's chips (coretemp, nvme, amdgpu, a Super I/O chip with
# seven fans, an ACPI thermal zone) laid out as the kernel lays them out, or `none`, a
# machine without any chip. ROUNDS hyperfine runs (default 5) of RUNS runs each (default
# 100) take turns with the three commands, so the machine's load falls on all alike.
# Each command's instructions from exec to exit (callgrind) stand beside: no load on the
# machine changes them.
# Usage: bench/compare-with-sensors.sh AGENT [pc|none] [FIGURES_OUT]
# FIGURES_OUT gets one line per command: the command, its median in milliseconds and its
# instruction count, separated by tabs.
set -euo pipefail
agent=$(realpath "$1")
tree=${2:-pc}
figures=${3:-}
for tool in hyperfine sensors unshare jq valgrind; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
case "$tree" in pc|none) ;; *) echo "unknown tree: $tree" >&2; exit 2 ;; esac

root=$(mktemp -d)
results=$(mktemp -d)
trap 'rm -rf "$root" "$results"' EXIT
mkdir -p "$root/class/hwmon" "$root/devices" "$root/bus"

attr() { printf '%s\n' "$3" >"$1/$2"; }

# chip N DEVICE_PATH NAME [BUS]: an hwmonN directory under devices/DEVICE_PATH, linked from
# class/hwmon; BUS names the device's subsystem (none: a virtual chip without a device).
chip() {
  local n=$1 path=$2 name=$3 bus=${4:-}
  local dir="$root/devices/$path/hwmon$n"
  [ -n "$bus" ] && dir="$root/devices/$path/hwmon/hwmon$n"
  mkdir -p "$dir" "$root/class/hwmon" "$root/bus/$bus"
  if [ -n "$bus" ]; then
    ln -s "../../../$(basename "$path")" "$dir/device"
    local up; up=$(echo "$path" | sed 's|[^/]*|..|g')
    [ -e "$root/devices/$path/subsystem" ] || ln -s "../$up/bus/$bus" "$root/devices/$path/subsystem"
    ln -s "../../devices/$path/hwmon/hwmon$n" "$root/class/hwmon/hwmon$n"
  else
    ln -s "../../devices/$path/hwmon$n" "$root/class/hwmon/hwmon$n"
  fi
  attr "$dir" name "$name"
  echo "$dir"
}

pcTree() {
d=$(chip 0 virtual/thermal/thermal_zone0 acpitz)
attr "$d" temp1_input 27800; attr "$d" temp1_crit 105000

d=$(chip 1 pci0000:00/0000:00:01.2/0000:02:00.0/nvme/nvme0 nvme)
attr "$d" temp1_label Composite; attr "$d" temp1_input 38850; attr "$d" temp1_max 84850
attr "$d" temp1_min -273150; attr "$d" temp1_crit 84850; attr "$d" temp1_alarm 0

d=$(chip 2 platform/coretemp.0 coretemp platform)
attr "$d" temp1_label "Package id 0"; attr "$d" temp1_input 61000
attr "$d" temp1_max 80000; attr "$d" temp1_crit 100000; attr "$d" temp1_crit_alarm 0
for core in 0 1 2 3 4 5 6 7; do
  n=$((core + 2))
  attr "$d" "temp${n}_label" "Core $core"; attr "$d" "temp${n}_input" $((55000 + core * 1000))
  attr "$d" "temp${n}_max" 80000; attr "$d" "temp${n}_crit" 100000; attr "$d" "temp${n}_crit_alarm" 0
done

d=$(chip 3 pci0000:00/0000:00:03.1/0000:03:00.0 amdgpu pci)
attr "$d" temp1_label edge; attr "$d" temp1_input 45000; attr "$d" temp1_crit 100000
attr "$d" temp2_label junction; attr "$d" temp2_input 48125; attr "$d" temp2_crit 110000
attr "$d" temp3_label mem; attr "$d" temp3_input 50000; attr "$d" temp3_crit 105000
attr "$d" fan1_input 812; attr "$d" fan1_min 0; attr "$d" fan1_max 3300
attr "$d" in0_label vddgfx; attr "$d" in0_input 850
attr "$d" power1_average 35000000; attr "$d" power1_cap 203000000

d=$(chip 4 platform/nct6775.656 nct6798 platform)
for n in $(seq 0 14); do
  attr "$d" "in${n}_input" $((900 + n * 37)); attr "$d" "in${n}_min" 0
  attr "$d" "in${n}_max" 2000; attr "$d" "in${n}_alarm" 0
done
for n in $(seq 1 7); do
  attr "$d" "fan${n}_input" $((600 + n * 150)); attr "$d" "fan${n}_min" 0; attr "$d" "fan${n}_alarm" 0
done
labels=(SYSTIN CPUTIN AUXTIN0 AUXTIN1 AUXTIN2 AUXTIN3 PECI\ Agent\ 0 PCH_CHIP_CPU_MAX_TEMP)
for n in $(seq 1 8); do
  attr "$d" "temp${n}_label" "${labels[$((n - 1))]}"; attr "$d" "temp${n}_input" $((30000 + n * 500))
  attr "$d" "temp${n}_max" 80000; attr "$d" "temp${n}_type" 4
done
}
[ "$tree" = pc ] && pcTree

map=()
[ "$(id -u)" -eq 0 ] || map=(--map-root-user)
unshare --mount "${map[@]}" bash -c '
  set -e
  mount --bind "$1/class" /sys/class
  mount --bind "$1/devices" /sys/devices
  mount --bind "$1/bus" /sys/bus
  echo "== sensors -j sees:"; sensors -j 2>&1 | grep -E "^   \"[a-z]|No sensors" | head -20 || true
  echo "== the agent sees:"; "$2" --snapshot
  # Failures show here; in the runs below they are ignored, since without any chip
  # `sensors -j` ends with status 1.
  [ "$4" = none ] || sensors -j >/dev/null
  for round in $(seq "${ROUNDS:-5}"); do
    hyperfine -N -i --style none --warmup 10 --runs "${RUNS:-100}" \
      --export-json "$3/$round.json" "$2 --snapshot" "sensors -j" "/bin/true"
  done
  # Debian'"'"'s valgrind wrapper sets LD_LIBRARY_PATH, which the agent reads; its binary does not.
  valgrind=$(command -v valgrind.bin || command -v valgrind)
  for command in "$2 --snapshot" "sensors -j" "/bin/true"; do
    count=$($valgrind --tool=callgrind --callgrind-out-file=/dev/null $command 2>&1 >/dev/null |
      sed -n "s/.*refs: *//p" | tr -d ,)
    [ -n "$count" ] || { echo "callgrind counted nothing for $command" >&2; exit 1; }
    printf "%s\t%s\n" "$command" "$count"
  done >"$3/instructions.tsv"
' compare "$root" "$agent" "$results" "$tree"

# Each command's median over all rounds, and its instructions.
jq -s -r '[.[].results] | transpose | .[] |
  [.[0].command, ([.[].times[]] | sort | .[length / 2 | floor] * 1000)] | @tsv' \
  "$results"/[0-9]*.json |
  awk -F'\t' -v OFS='\t' 'NR == FNR { count[$1] = $2; next } { print $1, $2, count[$1] }' \
    "$results/instructions.tsv" - | tee ${figures:+"$figures"}
