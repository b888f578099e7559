#!/bin/bash
# Boots Debian's own kernel in QEMU (software emulation) with an initramfs made
# here from busybox-static, the kernel's HID modules and the given programs (with
# the shared libraries they need), runs a scenario script inside and reads its
# verdict from the serial console.
#
#   run_vm_test.sh CACHE_DIR WORK_DIR SCENARIO PROGRAM...
#
# CACHE_DIR keeps the kernel and modules taken from the downloaded package;
# WORK_DIR gets the initramfs and the console log (console.log). The scenario
# runs as /scenario.sh under busybox sh with the programs in /bin; it passes by
# exiting 0. Exit status: 0 when the scenario passed, 1 otherwise.
set -eu

if [ $# -lt 4 ]; then
    echo "usage: $0 CACHE_DIR WORK_DIR SCENARIO PROGRAM..." >&2
    exit 1
fi
CACHE=$1
WORK=$2
SCENARIO=$3
shift 3
HERE=$(cd "$(dirname "$0")" && pwd)
# The modules the scenario needs; their dependencies come along.
MODULES="hid uhid hid-generic"
# Bounds: the whole VM run, and the scenario inside it.
VM_TIMEOUT=${QM_VM_TIMEOUT:-220}
SCENARIO_TIMEOUT=${QM_VM_SCENARIO_TIMEOUT:-180}

say() { echo "vm-test: $*"; }
die() {
    echo "vm-test: FAIL: $*" >&2
    exit 1
}

for tool in qemu-system-x86_64 busybox cpio dpkg-deb apt-get apt-cache timeout ldd strip; do
    command -v "$tool" >/dev/null 2>&1 ||
        die "$tool is missing (./tools/test.sh unit installs qemu-system-x86, busybox-static, cpio and xz-utils)"
done

# --- The kernel: Debian's linux-image package, downloaded once, not installed.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# Prints the module's file name (under the unpacked tree) for a module name.
module_file() {
    local name=$1 dashed underscored
    dashed=$(echo "$name" | tr _ -)
    underscored=$(echo "$name" | tr - _)
    find "$MODROOT/kernel" \( -name "$dashed.ko" -o -name "$dashed.ko.xz" -o -name "$dashed.ko.zst" \
        -o -name "$underscored.ko" -o -name "$underscored.ko.xz" -o -name "$underscored.ko.zst" \) |
        head -n 1
}

# Copies a module (decompressed) and, first, the modules it depends on, into
# $CACHE/modules, appending each to the load order.
LOAD_ORDER=""
add_module() {
    local name file target deps dep
    name=$(echo "$1" | tr _ -)
    case " $LOAD_ORDER " in *" $name "*) return 0 ;; esac
    file=$(module_file "$name")
    if [ -z "$file" ]; then
        if grep -q "/$name.ko\$\|/$(echo "$name" | tr - _).ko\$" "$MODROOT/modules.builtin" 2>/dev/null; then
            return 0 # built into the kernel
        fi
        die "module $name not found in the kernel package"
    fi
    target="$CACHE/modules/$name.ko"
    case "$file" in
    *.xz) xz -dc "$file" >"$target" ;;
    *.zst) zstd -qdc "$file" >"$target" ;;
    *) cp "$file" "$target" ;;
    esac
    deps=$(tr '\0' '\n' <"$target" | sed -n 's/^depends=//p' | head -n 1 | tr , ' ')
    for dep in $deps; do
        add_module "$dep"
    done
    LOAD_ORDER="$LOAD_ORDER $name"
}

prepare_kernel() {
    local package deb unpacked
    package=$(kernel_package)
    if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq >/dev/null
        package=$(kernel_package)
    fi
    [ -n "$package" ] || die "cannot tell which linux-image package linux-image-amd64 stands for"
    rm -rf "$CACHE"
    mkdir -p "$CACHE/download" "$CACHE/modules"
    say "downloading $package"
    # apt's download user may not write here; download as the caller, quietly.
    (cd "$CACHE/download" && apt-get download -q -o APT::Sandbox::User="$(id -un)" "$package") \
        >"$CACHE/download.log" 2>&1 || {
        cat "$CACHE/download.log" >&2
        die "apt-get download $package failed"
    }
    deb=$(ls "$CACHE"/download/*.deb)
    unpacked="$CACHE/unpacked"
    dpkg-deb -x "$deb" "$unpacked"
    cp "$unpacked"/boot/vmlinuz-* "$CACHE/vmlinuz"
    MODROOT=$(ls -d "$unpacked"/lib/modules/* "$unpacked"/usr/lib/modules/* 2>/dev/null | head -n 1)
    [ -n "$MODROOT" ] || die "no modules in $deb"
    for module in $MODULES; do
        add_module "$module"
    done
    echo "$LOAD_ORDER" >"$CACHE/modules/order"
    echo "$package $MODULES" >"$CACHE/ready"
    rm -rf "$unpacked" "$CACHE/download"
}

if [ ! -f "$CACHE/ready" ] || [ "$(cut -d' ' -f2- "$CACHE/ready")" != "$MODULES" ]; then
    prepare_kernel
fi
say "kernel: $(cut -d' ' -f1 "$CACHE/ready"), modules:$(cat "$CACHE/modules/order")"

# --- The initramfs.
ROOT="$WORK/root"
rm -rf "$ROOT"
mkdir -p "$ROOT"/bin "$ROOT"/dev "$ROOT"/etc "$ROOT"/proc "$ROOT"/sys "$ROOT"/tmp "$ROOT"/run \
    "$ROOT"/modules

# Copies a program's shared libraries and the dynamic loader, at their paths.
copy_libraries() {
    local lib
    for lib in $(ldd "$1" 2>/dev/null | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'); do
        if [ ! -e "$ROOT$lib" ]; then
            mkdir -p "$ROOT$(dirname "$lib")"
            cp -L "$lib" "$ROOT$lib"
        fi
    done
}

BUSYBOX=$(command -v busybox)
cp "$BUSYBOX" "$ROOT/bin/busybox"
copy_libraries "$BUSYBOX" # none for busybox-static
for program in "$@"; do
    [ -x "$program" ] || die "$program is not a program"
    strip -o "$ROOT/bin/$(basename "$program")" "$program"
    copy_libraries "$program"
done
cp "$CACHE"/modules/*.ko "$CACHE/modules/order" "$ROOT/modules/"
cp "$HERE/init.sh" "$ROOT/init"
cp "$SCENARIO" "$ROOT/scenario.sh"
chmod 755 "$ROOT/init" "$ROOT/scenario.sh"
echo "$SCENARIO_TIMEOUT" >"$ROOT/scenario-timeout"
printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/sh\n' >"$ROOT/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$ROOT/etc/group"
(cd "$ROOT" && find . | cpio -o -H newc --quiet) >"$WORK/initramfs.cpio"
say "initramfs: $(du -m "$WORK/initramfs.cpio" | cut -f1) MB"

# --- The run.
CONSOLE="$WORK/console.log"
rm -f "$CONSOLE"
start=$(date +%s)
status=0
timeout --kill-after=10 "$VM_TIMEOUT" qemu-system-x86_64 \
    -accel tcg -cpu max -smp 1 -m 768 \
    -nodefaults -no-user-config -display none -no-reboot \
    -serial "file:$CONSOLE" \
    -kernel "$CACHE/vmlinuz" -initrd "$WORK/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 loglevel=4 rdinit=/init" </dev/null || status=$?
elapsed=$(($(date +%s) - start))
# Console lines end in CR LF.
tr -d '\r' <"$CONSOLE" >"$CONSOLE.txt" 2>/dev/null || true
cat "$CONSOLE.txt"
[ "$status" -ne 124 ] && [ "$status" -ne 137 ] || die "the VM did not finish within ${VM_TIMEOUT}s"
[ "$status" -eq 0 ] || die "qemu exited with $status"
grep -q '^VM-TEST: BEGIN$' "$CONSOLE.txt" || die "the VM did not reach the scenario"
grep -q '^VM-TEST: PASS$' "$CONSOLE.txt" || die "the scenario failed (after ${elapsed}s)"
say "passed in ${elapsed}s"
