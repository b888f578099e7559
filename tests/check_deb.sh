#!/bin/bash
# Makes the Debian package with cpack and checks it: its control fields, with
# the dependencies dpkg-shlibdeps found; that apt would install it; that it
# holds exactly what cmake --install installs (the build's install tree);
# lintian's verdict; and that qm44xx-ctl runs from its unpacked contents.
#
#   check_deb.sh BUILD_DIR ROOT SCRATCH_DIR VERSION    (the build installed into ROOT/usr)
set -u
build=$1 root=$2 scratch=$3 version=$4
# shellcheck source=tests/check_lib.sh
source "$(dirname "$0")/check_lib.sh"
need dpkg-shlibdeps dpkg-dev
need lintian lintian
make_scratch "$scratch"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 || {
    cat "$scratch/cpack.log" >&2
    exit 1
}
deb=$scratch/qm44xx_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || {
    echo "cpack made no $deb:" "$scratch"/*.deb >&2
    exit 1
}

field() { dpkg-deb --field "$deb" "$1"; }

[[ $(field Package) == qm44xx ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Section) == electronics ]] || fail "Section: $(field Section)"
# dpkg-shlibdeps turns each shared library into the package that holds it.
depends=$(field Depends)
for package in libc6 libstdc++6 libhidapi-hidraw0 libqt5core5a libqt5gui5 libqt5widgets5; do
    [[ ", $depends" == *", $package ("* ]] || fail "Depends lacks $package: $depends"
done
dpkg-deb --info "$deb" >/dev/null || fail "dpkg-deb cannot read the control archive"
# apt accepts it as README's 'sudo apt install ./qm44xx_*.deb' gives it, here
# where the build's libraries are installed (a dry run: nothing changes).
apt-get install --simulate "$deb" >"$scratch/apt.log" 2>&1 ||
    fail "apt-get cannot install the package: $(cat "$scratch/apt.log")"

# The package's files are those cmake --install puts under /usr.
installed=$(cd "$root" && find . -type f | sort)
packaged=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[[ $packaged == "$installed" ]] ||
    fail "the package's files differ from the install:" \
        "$(diff <(echo "$installed") <(echo "$packaged") | grep '^[<>]')"

# The project has not chosen a licence yet, so there is no copyright file to
# ship; and it keeps no Debian changelog. Anything else lintian reports at
# warning level or above fails the check.
lintian --fail-on error,warning --suppress-tags no-copyright-file,no-changelog "$deb" ||
    fail "lintian finds faults in the package"

dpkg-deb -x "$deb" "$scratch/root" || exit 1
# The service runs the packaged program, whatever prefix the build had.
exec_start=$(sed -n 's/^ExecStart=//p' "$scratch/root/usr/lib/systemd/system/qm44xx-server.service")
[[ $exec_start == "/usr/bin/qm44xx-server \$QM44XX_SERVER_ARGS" ]] ||
    fail "the packaged unit runs: $exec_start"
ctl=$scratch/root/usr/bin/qm44xx-ctl
out=$("$ctl" --version)
[[ $out == "qm44xx-ctl $version" ]] || fail "the packaged qm44xx-ctl --version says: $out"
out=$("$ctl" --simulate=QM4422 'power on; detect' 2>&1) ||
    fail "the packaged qm44xx-ctl fails on a simulated board: $out"
[[ $out == *QM4422* ]] || fail "the packaged qm44xx-ctl does not detect the QM4422: $out"
verdict
