#!/usr/bin/env bash
# CPU use of an idle Viewer with no sensor plugged in: the window sits with an
# empty port list. Runs it several times for a while each and reads user +
# system time from /proc, under Xvfb when it is installed, offscreen otherwise.
#   bench/idle/idle-cpu.sh [build-dir] [seconds] [runs]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
runs=${3:-3}
viewer="$build/app/Viewer"
[[ -x $viewer ]] || cmake --build "$build" --target Viewer -j"$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" # the settings file lands here

if command -v xvfb-run >/dev/null; then
    launch=(xvfb-run -a "$viewer")
    where="Xvfb"
else
    launch=(env QT_QPA_PLATFORM=offscreen "$viewer")
    where="offscreen"
fi

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

total=0
for run in $(seq "$runs"); do
    "${launch[@]}" >/dev/null 2>&1 &
    launcher=$!
    pid=""
    for _ in $(seq 300); do
        pid=$(pgrep -n -f "^$viewer" || true)
        [[ -n $pid ]] && break
        sleep 0.1
    done
    [[ -n $pid ]] || { echo "Viewer did not start" >&2; exit 1; }
    sleep 3 # start-up is not idle
    before=$(cpu_ticks "$pid")
    sleep "$seconds"
    after=$(cpu_ticks "$pid")
    kill "$pid" 2>/dev/null || true
    wait "$launcher" 2>/dev/null || true
    share=$(awk -v d=$((after - before)) -v t="$ticks" -v s="$seconds" \
        'BEGIN { printf "%.3f", 100 * d / t / s }')
    echo "run $run ($where, ${seconds} s): ${share}% of a core"
    total=$(awk -v a="$total" -v b="$share" 'BEGIN { print a + b }')
done
awk -v t="$total" -v n="$runs" 'BEGIN { printf "mean: %.3f%% of a core\n", t / n }'
