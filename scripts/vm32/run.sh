#!/bin/sh
# run.sh JOB: runs the shell script JOB inside the 32-bit test machine
# (image.sh) and exits with its exit status. The job's output appears here
# as it is printed; the project and the cache are at their own paths.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
cache=${QD_VM32_CACHE:-/var/cache/quorvane-vm32}
limit=${QD_VM32_TIMEOUT:-4800}
job=$1

case "$root$cache" in
*[!A-Za-z0-9_./-]*) echo "vm32: the project path $root and the cache path $cache must not hold spaces or special characters" >&2; exit 1 ;;
esac
kernel=$(ls "$cache"/root/boot/vmlinuz-* 2>/dev/null | tail -n 1)
initrd=$(ls "$cache"/root/boot/initrd.img-* 2>/dev/null | tail -n 1)
[ -n "$kernel" ] && [ -n "$initrd" ] || { echo "vm32: no test machine in $cache (scripts/vm32/image.sh makes it)" >&2; exit 1; }

mkdir -p "$root/build/vm32"
cp "$job" "$root/build/vm32/job.sh"
rm -f "$root/build/vm32/job.rc"
cpus=$(nproc 2>/dev/null || echo 2)
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose

# The serial console carries the firmware's screen, then the job's output
# between the "vm32: start" and "vm32: end" lines, and the machine's own
# "vm32:" lines. sed -u passes each line on as it comes: tr and mawk would
# hold the output back in their buffers until kilobytes had gathered.
timeout "$limit" qemu-system-x86_64 -m 4096 -smp "$cpus" -accel tcg,thread=multi \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=1 root=rootfs rootfstype=9p rootflags=$opts rw init=/qv-init qvproject=$root qvcache=$cache" \
    -fsdev local,id=rootfs,path="$cache/root",security_model=passthrough -device virtio-9p-pci,fsdev=rootfs,mount_tag=rootfs \
    -fsdev local,id=project,path="$root",security_model=passthrough -device virtio-9p-pci,fsdev=project,mount_tag=project \
    -fsdev local,id=cache,path="$cache",security_model=passthrough -device virtio-9p-pci,fsdev=cache,mount_tag=cache \
    </dev/null 2>&1 |
    sed -u -n -e 's/\r$//' -e '/vm32: start$/,/^vm32: end$/{/vm32: start$/d;/^vm32: end$/d;p;d}' -e '/vm32:/p'
status=$(cat "$root/build/vm32/job.rc" 2>/dev/null) || {
    echo "vm32: the machine stopped without finishing its job (crash, or over the limit of $limit s)" >&2
    exit 1
}
exit "$status"
