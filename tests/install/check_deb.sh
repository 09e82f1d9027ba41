#!/usr/bin/env bash
# Builds the Debian package from the install rules into a scratch folder and
# checks its dependencies, maintainer scripts and contents.
#   check_deb.sh <build-dir> <qt-major-version>
set -euo pipefail
build=$1
qt=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(ls "$out"/vantoscope_*.deb)
status=0
info=$(dpkg-deb -I "$deb")
# The runtime packages of the Qt the build used, and none of the other's.
case $qt in
5) wanted=(libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libqt5sql5-sqlite) other=libqt6 ;;
6) wanted=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6sql6-sqlite) other=libqt5 ;;
*) echo "unknown Qt version '$qt'"; exit 2 ;;
esac
for dep in "${wanted[@]}"; do
    grep -q "Depends:.*$dep" <<<"$info" || { echo "package does not depend on $dep"; status=1; }
done
if grep -q "Depends:.*$other" <<<"$info"; then
    echo "package depends on $other* although the build used Qt $qt"
    status=1
fi
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/Viewer ./usr/lib/udev/rules.d/70-vantoscope-cp210x.rules \
        ./usr/share/applications/org.vantoscope.Viewer.desktop; do
    grep -q " $file\$" <<<"$contents" || { echo "package lacks $file"; status=1; }
done
dpkg-deb -e "$deb" "$out/control"
grep -q 'udevadm control --reload-rules' "$out/control/postinst" || { echo "postinst does not reload udev rules"; status=1; }
[ $status -eq 0 ] && echo "package $(basename "$deb") checked"
exit $status
