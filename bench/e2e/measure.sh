#!/usr/bin/env bash
# Measures the live viewer against the simulator: CPU use of the window
# process over a measuring window (getrusage, user + system), the delay from
# the last byte of a scan leaving the simulator to the paint that puts it on
# screen (mean, median, 99th percentile), redraws a second and resident
# memory; under Xvfb when it is installed, offscreen otherwise.
#   bench/e2e/measure.sh [build-dir] [seconds] [what...]
# what: own (every model at its own rate), full (every model at full line
# rate), fir250 (Fir at 250 frames/s), idle, bench (the Bench panel and a
# bench check at Dogwood's rate), session (Dogwood at full line rate and Fir
# at 250 frames/s read and decoded with no window: what reading the port
# costs before anything is drawn); all of them when none is named.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-20}
shift 2 || shift $#
what=("$@")
[ ${#what[@]} -gt 0 ] || what=(own full fir250 idle bench session)
cmake --build "$build" --target viewerload vantoscope-sim -j"$(nproc)" >/dev/null
load="$build/bench/e2e/viewerload"
sim="$build/tools/sim/vantoscope-sim"

if command -v xvfb-run >/dev/null; then
    run() { xvfb-run -a -s "-screen 0 1920x1080x24" env QT_QPA_PLATFORM=xcb "$load" "$@"; }
    echo "under Xvfb, the window at 1280x800"
else
    run() { env QT_QPA_PLATFORM=offscreen "$load" "$@"; }
    echo "offscreen (no Xvfb), the window at 1280x800"
fi
models=$("$sim" --list | awk '{print $1}')

for w in "${what[@]}"; do
    case $w in
    own)
        for m in $models; do run --sim "$sim" --model "$m" --seconds "$seconds"; done
        ;;
    full)
        for m in $models; do
            run --sim "$sim" --model "$m" --sim-args "--fill-line" --seconds "$seconds"
        done
        ;;
    fir250) run --sim "$sim" --model Fir --sim-args "--frame-rate 250" --seconds "$seconds" ;;
    idle) run --idle --seconds "$seconds" ;;
    bench)
        # What the Bench panel's live health and a bench check add.
        run --sim "$sim" --model Dogwood --bench-panel --seconds "$seconds"
        run --sim "$sim" --model Dogwood --check --seconds "$seconds"
        ;;
    session)
        run --sim "$sim" --model Dogwood --sim-args "--fill-line" --session-only --seconds "$seconds"
        run --sim "$sim" --model Fir --sim-args "--frame-rate 250" --session-only --seconds "$seconds"
        ;;
    *)
        echo "measure.sh: unknown measurement '$w'" >&2
        exit 2
        ;;
    esac
done
