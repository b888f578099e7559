# Shell helpers shared by the tools (sourced, not run). Plain POSIX sh.
#
#   qm_install PKG...          installs whichever of the Debian packages is missing
#   qm_build DIR [CMAKE_ARG...] configures and builds ROOT/DIR (Ninja); within one
#                              run of a tool each directory is set up only once;
#                              QM_TARGET, if set, names the one target to build
#   qm_ctest DIR [CTEST_ARG...] runs ctest in ROOT/DIR, QM_CTEST_JOBS tests at a
#                              time (twice the cores unless set)
#
# ROOT must be set by the caller to the repository's top folder.

# What configuring the project and building the panel need, with a font for the
# panel's texts; Qwt draws the telemetry plot, prometheus-cpp is the server's.
QM_PANEL_PACKAGES="build-essential cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools
    libhidapi-dev libqwt-qt5-dev prometheus-cpp-dev fonts-dejavu-core"
# What the ordinary build (every program, manual pages, tests, benchmarks) and
# its tests need besides: Prometheus and pyvisa are the server's real clients.
QM_PACKAGES="$QM_PANEL_PACKAGES python3 libbenchmark-dev help2man prometheus python3-pyvisa
    python3-pyvisa-py"
# What the packaging tests need besides: cpack's dependency search (dpkg-dev,
# file), lintian, man, the completion framework, the desktop validators and
# systemd's checks of the server's unit (systemd-analyze, systemd-sysusers).
QM_PACKAGING_PACKAGES="dpkg-dev file lintian man-db bash-completion desktop-file-utils appstream systemd"
# What the virtual-machine test needs besides: QEMU, a static busybox, cpio, xz.
QM_VM_PACKAGES="qemu-system-x86 busybox-static cpio xz-utils"

QM_BUILT=""

qm_install() {
    qm_missing=""
    for qm_p in "$@"; do
        dpkg-query -W -f='${Status}' "$qm_p" 2>/dev/null | grep -q "install ok installed" ||
            qm_missing="$qm_missing $qm_p"
    done
    [ -n "$qm_missing" ] || return 0
    echo "Installing:$qm_missing"
    qm_sudo=""
    [ "$(id -u)" -eq 0 ] || qm_sudo="sudo"
    $qm_sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $qm_sudo apt-get install -y -qq --no-install-recommends $qm_missing
}

qm_build() {
    qm_dir="$1"
    shift
    case " $QM_BUILT " in
    *" $qm_dir "*) return 0 ;;
    esac
    cmake -S "$ROOT" -B "$ROOT/$qm_dir" -G Ninja "$@" >/dev/null
    cmake --build "$ROOT/$qm_dir" -j "$(nproc)" ${QM_TARGET:+--target "$QM_TARGET"}
    QM_BUILT="$QM_BUILT $qm_dir"
}

# Many tests wait on other processes (the server's clients, Prometheus, lintian):
# twice as many at a time as there are cores keeps the cores busy.
qm_ctest() {
    qm_dir="$1"
    shift
    (cd "$ROOT/$qm_dir" && ctest --output-on-failure -j "${QM_CTEST_JOBS:-$((2 * $(nproc)))}" "$@")
}
