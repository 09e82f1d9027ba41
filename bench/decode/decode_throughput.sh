#!/usr/bin/env bash
# Throughput of vantoscope-decode: decodes a 100 MB capture of the fastest
# streaming model (Dogwood, 4000 points/s, 47-byte frames) to /dev/null as
# JSON lines, with the filter on (as the viewer runs) and off, and as CSV.
# The decoder is single-threaded, so this is the throughput on one core.
#   decode_throughput.sh [BUILD-DIR] [MEGABYTES]
set -euo pipefail
build=${1:-build}
megabytes=${2:-100}
sim=$build/tools/sim/vantoscope-sim
decode=$build/tools/decode/vantoscope-decode
for program in "$sim" "$decode"; do
    [ -x "$program" ] || { echo "missing $program; build it first" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
capture=$scratch/dogwood.bin
# One Dogwood revolution is about 1570 bytes on the wire.
"$sim" --model Dogwood --seed 1 --scans $((megabytes * 1000000 / 1570 + 1)) --output "$capture"
bytes=$(stat -c %s "$capture")
echo "capture: $bytes bytes"

run() {
    local label=$1 times
    shift
    times=$( { TIMEFORMAT='%R %U %S'; time "$decode" --model Dogwood "$@" "$capture" >/dev/null; } 2>&1 )
    awk -v label="$label" -v bytes="$bytes" -v times="$times" 'BEGIN {
        split(times, t, " ");
        cpu = t[2] + t[3];
        printf "%-18s %6.2f s wall, %6.2f s CPU: %5.1f MB/s (%.1f MB per CPU second)\n",
               label, t[1], cpu, bytes / 1e6 / t[1], bytes / 1e6 / cpu;
    }'
}
run "jsonl" --format jsonl
run "jsonl, no filter" --format jsonl --no-filter
run "csv" --format csv
