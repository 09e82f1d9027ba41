#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that every expected
# file is there and that the desktop metadata validates.
#   check_install.sh <build-dir> <expected-files...>
set -euo pipefail
build=$1
shift
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

cmake --install "$build" --prefix "$stage/usr" >/dev/null

status=0
for file in "$@"; do
    if [ ! -e "$stage/usr/$file" ]; then
        echo "missing after install: $file"
        status=1
    fi
done
for program in "$stage"/usr/bin/*; do
    [ -x "$program" ] || { echo "not executable: $program"; status=1; }
done

for entry in "$stage"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || { echo "invalid desktop entry: $entry"; status=1; }
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [ -x "$stage/usr/bin/$exec_name" ] || { echo "$entry starts $exec_name, which is not installed"; status=1; }
    grep -q '^Exec=[^ ]* %f$' "$entry" || { echo "$entry does not pass a capture file on"; status=1; }
    grep -q '^MimeType=.*application/x-pcapng;' "$entry" || { echo "$entry does not open captures"; status=1; }
done
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml || status=1
grep -q 'ATTRS{idVendor}=="10c4"' "$stage"/usr/lib/udev/rules.d/*.rules || { echo "udev rule lacks the bridge vendor"; status=1; }
grep -q 'TAG+="uaccess"' "$stage"/usr/lib/udev/rules.d/*.rules || { echo "udev rule lacks uaccess"; status=1; }

if [ $status -eq 0 ]; then
    echo "install check: $# expected files present, metadata valid"
fi
exit $status
