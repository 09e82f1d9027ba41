#!/usr/bin/env bash
# Measures the live viewer against the simulator: CPU use of the window
# process over 20 s (getrusage, user + system) and the delay from the last
# byte of a scan leaving the simulator to that scan being drawn; at the end,
# what the Bench panel and a bench check add.
#   bench/e2e/measure.sh [build-dir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-20}
cmake --build "$build" --target viewerload vantoscope-sim -j"$(nproc)" >/dev/null
load="$build/bench/e2e/viewerload"
sim="$build/tools/sim/vantoscope-sim"
# The fastest streaming model, the command-protocol models at their default
# frame rate, and Fir at nearly the full 921600 baud line (250 frames/s).
"$load" --sim "$sim" --model Dogwood --seconds "$seconds"
"$load" --sim "$sim" --model Kauri --seconds "$seconds"
"$load" --sim "$sim" --model Maple --seconds "$seconds"
"$load" --sim "$sim" --model Fir --sim-args "--frame-rate 250" --seconds "$seconds"
# What the Bench panel's live health and a bench check add, at the fastest
# streaming model.
"$load" --sim "$sim" --model Dogwood --bench-panel --seconds "$seconds"
"$load" --sim "$sim" --model Dogwood --check --seconds "$seconds"
