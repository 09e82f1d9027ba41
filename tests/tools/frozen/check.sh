#!/usr/bin/env bash
# Decodes simulator captures of every model of both editions, with faults,
# at several chunk sizes, filter on and off, and compares a digest of each
# JSON-lines output with the table beside this script: any change in what
# the decoder prints shows up as a differing row.
#
#   check.sh SIM DECODE [--regenerate]
#
# The captures come from the simulator with fixed seeds. The decoder runs on
# its line clock so the scan rate does not follow the decoding pace.
set -euo pipefail
sim=$1
decode=$2
table="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/digests.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

editions=(full)
[[ -x "$(dirname "$decode")/vantoscope-decode-classic" ]] && editions+=(classic)

for edition in "${editions[@]}"; do
    models=$("$decode" --edition "$edition" --help | sed -n 's/^Models of this edition: //p' | tr -d ',')
    [[ -n "$models" ]] || { echo "no models listed for $edition" >&2; exit 1; }
    for model in $models; do
        capture="$work/$model.bin"
        [[ -f "$capture" ]] || "$sim" --model "$model" --output "$capture" -n 6 --seed 14 \
            --garbage-rate 0.05 --corrupt-rate 0.05 --drop-rate 0.05
        for chunk in 1 7 512; do
            for filter in on off; do
                args=(--edition "$edition" --model "$model" --chunk "$chunk")
                [[ $filter == off ]] && args+=(--no-filter)
                digest=$(VANTOSCOPE_DECODE_LINE_CLOCK=1 "$decode" "${args[@]}" "$capture" |
                    sha256sum | cut -c1-64)
                echo "$edition $model $chunk $filter $digest"
            done
        done
    done
done >"$work/actual.txt"

if [[ ${3:-} == --regenerate ]]; then
    cp "$work/actual.txt" "$table"
    echo "wrote $(wc -l <"$table") digests to $table"
    exit 0
fi
# Only the editions built here are compared.
grep -E "^($(IFS='|'; echo "${editions[*]}")) " "$table" >"$work/expected.txt"
if ! diff -u "$work/expected.txt" "$work/actual.txt"; then
    echo "decoder output differs from the recorded digests (rows above)" >&2
    exit 1
fi
echo "$(wc -l <"$work/actual.txt") outputs match"
