#!/usr/bin/env bash
# Runs the leaking canary under the suite's sanitizer options and checks
# that LeakSanitizer reports exactly its two leaks: both of ours, none of Qt's.
#   check_canary.sh <canary>
set -uo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$1" >"$log" 2>&1
status=$?
fail() {
    cat "$log"
    echo "check_canary: $*" >&2
    exit 1
}
[ $status -ne 0 ] || fail "the canary leaked and still exited 0: leak checks are off"
grep -q 'ERROR: LeakSanitizer: detected memory leaks' "$log" || fail "no leak report (exit $status)"
for leak in canaryLeakInTestFunction canaryLeakInEventLoop; do
    grep -q "in $leak" "$log" || fail "the leak in $leak is not reported: a suppression hides it"
done
direct=$(grep -c '^Direct leak' "$log")
[ "$direct" -eq 2 ] || fail "$direct direct leaks reported, expected the canary's 2: a leak outside ours is not suppressed"
grep -q '^Indirect leak' "$log" && fail "an indirect leak is reported: a leak outside ours is not suppressed"
echo "check_canary: both leaks of the canary reported, nothing else"
