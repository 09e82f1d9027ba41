# Shared by the project's scripts: installs the Debian packages the build,
# the programs and the tests need, when they are missing. Sourced, not run.

# Building and running the programs (scripts/run); the results history
# needs Qt's SQLite driver, a shared history its PostgreSQL driver, and the
# batch report libpng.
VANTOSCOPE_RUN_PACKAGES=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev qtmultimedia5-dev
    libqt5sql5-sqlite libqt5sql5-psql
    fonts-dejavu-core
    libzstd-dev liblz4-dev zlib1g-dev
    libwebsocketpp-dev libasio-dev
    libpng-dev
)
# What the test suite, the benchmarks, the fuzzers and the package checks add
# (the results tests start a throwaway server of the postgresql package).
VANTOSCOPE_TEST_PACKAGES=(
    pkg-config
    libbenchmark-dev
    clang libclang-rt-dev
    xvfb xauth fonts-liberation fontconfig tcpdump wireshark-common
    desktop-file-utils appstream dpkg-dev file
    python3
    postgresql
)
# Building with Qt 6 (-DVANTOSCOPE_QT=6); Qt6Gui's CMake package wants the
# OpenGL headers.
VANTOSCOPE_QT6_PACKAGES=(
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-multimedia-dev qt6-websockets-dev libgl-dev
    libqt6sql6-sqlite libqt6sql6-psql
)
VANTOSCOPE_PACKAGES=("${VANTOSCOPE_RUN_PACKAGES[@]}" "${VANTOSCOPE_TEST_PACKAGES[@]}"
    "${VANTOSCOPE_QT6_PACKAGES[@]}")

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: need root (or sudo) to run: $*" >&2
        return 1
    fi
}

# install_missing_packages [package...]   (default: all of VANTOSCOPE_PACKAGES)
install_missing_packages() {
    local wanted=("$@")
    [ ${#wanted[@]} -gt 0 ] || wanted=("${VANTOSCOPE_PACKAGES[@]}")
    local missing=()
    local pkg
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The Node tests' clients (tests/package.json): Debian's nodejs and npm when
# the machine has no node or npm of its own, then exactly the versions
# tests/package-lock.json pins, into tests/node_modules.
install_node_clients() {
    if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
        install_missing_packages nodejs npm
    fi
    (cd "$VANTOSCOPE_ROOT/tests" && npm ci --no-audit --no-fund)
}

# configure_and_build <build-dir> [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$VANTOSCOPE_ROOT" -B "$dir" "$@" && cmake --build "$dir" -j"$(nproc)"
}

# Stages of a longer script, each with its result and time, summed up at the
# end by stage_summary. A failed stage does not stop the script.
#   stage NAME COMMAND...            runs it; sets last_stage_passed (yes/no)
#   stage_if yes|no NAME COMMAND...  the same, or "skipped" when given no
#   stage_summary TITLE              prints the table; returns 1 if any failed
stage_results=()
stage_failed=no
last_stage_passed=no

stage() {
    local name=$1 start result
    shift
    start=$(date +%s)
    echo "== $name =="
    if "$@"; then
        result=passed
        last_stage_passed=yes
    else
        result=FAILED
        last_stage_passed=no
        stage_failed=yes
    fi
    stage_results+=("$(printf '%-48s %-8s %5d s' "$name" "$result" $(($(date +%s) - start)))")
}

stage_if() {
    local run=$1 name=$2
    shift 2
    if [ "$run" = yes ]; then
        stage "$name" "$@"
    else
        echo "== $name: skipped (its build failed) =="
        stage_results+=("$(printf '%-48s %-8s %5s' "$name" skipped -)")
        last_stage_passed=no
    fi
}

stage_summary() {
    echo
    echo "== $1: summary =="
    printf '%s\n' "${stage_results[@]}"
    [ "$stage_failed" = no ]
}
