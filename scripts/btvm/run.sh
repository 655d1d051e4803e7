#!/bin/sh
# run.sh JOB: runs the shell script JOB inside the Bluetooth test machine
# (image.sh) once its stack is up (stack.sh) and exits with its exit status.
# The job's output appears here as it is printed; the project is at its own
# path. QD_BTVM_TIMEOUT bounds the whole machine (default 1100 s).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
cache=${QD_BTVM_CACHE:-/var/cache/quorvane-btvm}
limit=${QD_BTVM_TIMEOUT:-1100}
job=$1

case "$root" in
*[!A-Za-z0-9_./-]*) echo "btvm: the project path $root must not hold spaces or special characters" >&2; exit 1 ;;
esac
kernel=$(ls "$cache"/root/boot/vmlinuz-* 2>/dev/null | tail -n 1)
initrd=$(ls "$cache"/root/boot/initrd.img-* 2>/dev/null | tail -n 1)
[ -n "$kernel" ] && [ -n "$initrd" ] || { echo "btvm: no test machine in $cache (scripts/btvm/image.sh makes it)" >&2; exit 1; }

mkdir -p "$root/build/btvm"
cp "$job" "$root/build/btvm/job.sh"
rm -f "$root/build/btvm/job.rc"
cpus=$(nproc 2>/dev/null || echo 2)
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose
# QEMU's emulation. KVM only when asked for (QD_BTVM_ACCEL=kvm): on these
# machines /dev/kvm opens and a VM is created, but with "-cpu max" QEMU
# aborts setting an MSR, and with the default CPU the guest never prints a
# line (no CPU time used) until the time-out.
accel="-accel ${QD_BTVM_ACCEL:-tcg,thread=multi}"
cpu=${QD_BTVM_CPU:-max}

# The serial console carries the firmware's screen, then the job's output
# between the "btvm: start" and "btvm: end" lines, and the machine's own
# "btvm:" lines.
timeout "$limit" qemu-system-x86_64 -m 2048 -smp "$cpus" $accel -cpu $cpu \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=1 root=rootfs rootfstype=9p rootflags=$opts rw init=/qv-init qvproject=$root" \
    -fsdev local,id=rootfs,path="$cache/root",security_model=passthrough -device virtio-9p-pci,fsdev=rootfs,mount_tag=rootfs \
    -fsdev local,id=project,path="$root",security_model=passthrough -device virtio-9p-pci,fsdev=project,mount_tag=project \
    </dev/null 2>&1 |
    sed -u -n -e 's/\r$//' -e '/btvm: start$/,/^btvm: end$/{/btvm: start$/d;/^btvm: end$/d;p;d}' -e '/btvm:/p' -e '/qemu-system/p'
status=$(cat "$root/build/btvm/job.rc" 2>/dev/null) || {
    echo "btvm: the machine stopped without finishing its job (crash, or over the limit of $limit s)" >&2
    exit 1
}
exit "$status"
