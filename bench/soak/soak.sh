#!/usr/bin/env bash
# Soak: the viewer's window (offscreen, through vantoscope-shot) against the
# simulator playing the fastest streaming model with faults (5% of frames
# with garbage before them, 2% with a bad checksum, 1% with bytes lost),
# the faults on for 10 s and off for 10 s in turn. Every 10 s it reads the
# window process's resident size and CPU time from /proc; at the end it
# compares the scans the simulator sent whole in each fault-free stretch with
# the scans the window published in it.
#   bench/soak/soak.sh [--quick | --minutes N] [--build DIR]
# Exits 1 when a target is missed: RSS growth after the warm-up below 1 MiB,
# no scan lost on the fault-free stretches, mean CPU at most 5% of one core.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build
minutes=60
while (($#)); do
    case $1 in
    --quick) minutes=2 ;;
    --minutes)
        minutes=${2:-}
        shift
        ;;
    --build)
        build=${2:-}
        shift
        ;;
    *)
        echo "usage: $0 [--quick | --minutes N] [--build DIR]" >&2
        exit 2
        ;;
    esac
    shift
done
[[ $minutes =~ ^[1-9][0-9]*$ ]] || { echo "soak: --minutes takes a whole number of minutes" >&2; exit 2; }
build=$(cd "$build" && pwd)
sim=$build/tools/sim/vantoscope-sim
shot=$build/tools/shot/vantoscope-shot
[[ -x $sim && -x $shot ]] || cmake --build "$build" --target vantoscope-sim vantoscope-shot -j2 >/dev/null

model=Dogwood
period=10
interval=10
duration=$((minutes * 60))
# Start-up fills caches and pools; growth counts from here.
warmup=$((duration >= 240 ? 120 : 30))
growth_limit_kb=1024
cpu_limit=5

work=$build/soak-$(date -u +%Y%m%dT%H%M%S)
mkdir -p "$work"
cd "$work" # the settings file lands here
echo "soak: $model for $minutes min, faults 5% garbage, 2% bad checksum, 1% lost bytes," \
    "on and off every $period s; logs in $work"

"$sim" --model "$model" --garbage-rate 0.05 --corrupt-rate 0.02 --drop-rate 0.01 \
    --fault-period "$period" >sim.log 2>&1 &
sim_pid=$!
viewer_pid=""
cleanup() {
    kill "$sim_pid" 2>/dev/null || true
    [[ -n $viewer_pid ]] && kill "$viewer_pid" 2>/dev/null || true
}
trap cleanup EXIT
port=""
for _ in $(seq 100); do
    port=$(awk '$1 == "port:" { print $2; exit }' sim.log)
    [[ -n $port ]] && break
    sleep 0.1
done
[[ -n $port ]] || { echo "soak: the simulator did not start" >&2; exit 1; }

# The window outlives the simulator by a little, so every stretch the
# simulator reports ended while the window was still reading.
QT_QPA_PLATFORM=offscreen "$shot" --port "$port" --model "$model" \
    --seconds $((duration + 10)) --output last.png --log-scans scans.log >shot.log 2>&1 &
viewer_pid=$!

uptime_s() { awk '{ print $1 }' /proc/uptime; }
ticks=$(getconf CLK_TCK)
began=$(uptime_s)
echo "elapsed_s rss_kb cpu_ticks" >samples.log
for ((i = 1; i * interval <= duration; ++i)); do
    wait_s=$(awk -v b="$began" -v t=$((i * interval)) -v n="$(uptime_s)" \
        'BEGIN { w = b + t - n; print (w > 0 ? w : 0) }')
    sleep "$wait_s"
    if ! rss=$(awk '$1 == "VmRSS:" { print $2 }' "/proc/$viewer_pid/status" 2>/dev/null) ||
        ! cpu=$(awk '{ print $14 + $15 }' "/proc/$viewer_pid/stat" 2>/dev/null); then
        echo "soak: the window process ended after $((i * interval - interval)) s" >&2
        cat shot.log >&2
        exit 1
    fi
    now=$(uptime_s)
    echo "$(awk -v b="$began" -v n="$now" 'BEGIN { printf "%.2f", n - b }') $rss $cpu" >>samples.log
done
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
for _ in $(seq 60); do
    kill -0 "$viewer_pid" 2>/dev/null || break
    sleep 1
done
wait "$viewer_pid" 2>/dev/null || true
viewer_pid=""

# RSS and CPU from the samples.
read -r start_rss end_rss warm_rss growth cpu_pct warm_at < <(awk -v w="$warmup" -v tck="$ticks" '
    NR == 2 { start = $2 }
    NR > 1 && !warm && $1 >= w - 1 { warm = 1; wrss = $2; wt = $1; wc = $3 }
    NR > 1 { rss = $2; t = $1; c = $3 }
    END { printf "%d %d %d %d %.2f %.0f\n", start, rss, wrss, rss - wrss,
                 100 * (c - wc) / tck / (t - wt), wt }' samples.log)

# Scans on the fault-free stretches. The simulator gives for each stretch
# the times scans FIRST-1 and LAST were sent; the window publishes a scan
# a little after its last frame arrives, so the stretch is shifted by half a
# scan period P: publications in (FROM + P/2, TO + P/2] are scans FIRST..LAST.
# A publication within P/4 of either edge came far from its scan's time (a
# process was held up there) and leaves that stretch's count in doubt: such
# stretches are left out and counted. Only stretches that began after the
# window published its first scan count.
read -r stretches sent published mismatched doubtful < <(awk '
    BEGIN { k = 1 }
    FNR == NR { pub[++n] = $1; next }
    $1 == "clean" && n > 0 && $5 > pub[1] {
        p = ($6 - $5) / $4
        lo = $5 + p / 2; hi = $6 + p / 2; q = p / 4
        got = 0; doubt = 0
        for (; k <= n && pub[k] <= lo - q; ++k) {}
        for (j = k; j <= n && pub[j] < hi + q; ++j) {
            if ((pub[j] > lo - q && pub[j] < lo + q) || pub[j] > hi - q) doubt = 1
            if (pub[j] > lo && pub[j] <= hi) ++got
        }
        if (doubt) { ++doubtful; next }
        ++stretches; sent += $4; published += got
        if (got != $4) {
            ++bad
            printf "  stretch of scans %d..%d: sent %d, published %d\n", $2, $3, $4, got > "/dev/stderr"
        }
    }
    END { printf "%d %d %d %d %d\n", stretches, sent, published, bad, doubtful }' \
    <(sort -n scans.log) sim.log)
lost=$((sent - published))

mib() { awk -v k="$1" 'BEGIN { printf "%.2f MiB", k / 1024 }'; }
echo "RSS at start (first sample, ${interval} s): $start_rss kB ($(mib "$start_rss"))"
echo "RSS at end ($duration s): $end_rss kB ($(mib "$end_rss"))"
echo "RSS growth after warm-up (${warm_at} s .. $duration s): $growth kB ($(mib "$growth"))"
echo "mean CPU (${warm_at} s .. $duration s): ${cpu_pct}% of one core"
echo "fault-free stretches: $stretches; scans sent whole in them: $sent; published: $published;" \
    "lost: $lost; stretches that differ: $mismatched; left out (edge in doubt): $doubtful"

fail=0
((growth < growth_limit_kb)) || { echo "MISSED: RSS grew by 1 MiB or more"; fail=1; }
((stretches > 0 && stretches >= doubtful)) ||
    { echo "MISSED: too few fault-free stretches could be judged"; fail=1; }
((mismatched == 0)) || { echo "MISSED: scans lost (or extra) on fault-free stretches"; fail=1; }
awk -v c="$cpu_pct" -v l="$cpu_limit" 'BEGIN { exit !(c <= l) }' ||
    { echo "MISSED: CPU above $cpu_limit% of one core"; fail=1; }
((fail == 0)) && echo "soak: all targets met"
exit "$fail"
