#!/usr/bin/env bash
# Builds, once per machine, the emulated i386 Debian machine that runs the
# 32-bit saver under 32-bit Wine: a root disk (qcow2) with Wine, Xvfb and
# xdotool and a ready Wine prefix, the kernel, a tiny initrd made here, and
# the saved state of the machine ready for a test session, which every test
# run restores instead of booting. Everything comes from Debian's archive (the mirror of this machine's apt
# sources). The result is cached under
#   ${XDG_CACHE_HOME:-$HOME/.cache}/vellomire/i386-<hash of the recipe files>
# and the script does nothing when that exists. Prints the directory last.
# Needs root (mmdebstrap) and: mmdebstrap qemu-system-x86 qemu-utils
# qemu-user-static cpio e2fsprogs xz-utils python3.
# Nothing set on the host here (binfmt handler, mounts) outlives the script.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
recipe=("$here/build-image.sh" "$here/guest/initrd-init" "$here/guest/vellomire-init"
        "$here/guest/vellomire-agent" "$here/guest/setup.sh" "$here/guest/vellomire-session"
        "$here/vm.py")
# The saved state loads only into the qemu that saved it: its version counts.
hash=$({ for f in "${recipe[@]}"; do
           printf '%s  %s\n' "$(sha256sum < "$f" | cut -d' ' -f1)" "$(basename "$f")"
         done
         printf '%s\n' "$(qemu-system-i386 --version 2>/dev/null | head -1)"
       } | sha256sum | cut -c1-16)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vellomire
out=$cache/i386-$hash
ready() { [ -f "$out/disk.qcow2" ] && [ -f "$out/vmlinuz" ] && [ -f "$out/initrd.img" ] && [ -f "$out/state" ]; }
if ready; then
  echo "$out"
  exit 0
fi

# One build at a time on this machine; another may have finished meanwhile.
mkdir -p "$cache"
exec 9> "$cache/i386.lock"
flock 9
if ready; then
  echo "$out"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "build-image: must run as root (mmdebstrap)" >&2
  exit 1
fi
for tool in mmdebstrap qemu-system-i386 qemu-img qemu-i386-static cpio mke2fs xz python3; do
  command -v "$tool" >/dev/null || { echo "build-image: missing $tool (tools/install-deps.sh)" >&2; exit 1; }
done

suite=bookworm
mirror=${VELLOMIRE_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  # The first Debian main archive (not -security) named in the apt sources.
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
           awk '$1 == "deb" && / main/ { for (i = 2; i <= NF; i++) if ($i ~ /^https?:.*\/debian\/?$/) { print $i; exit } }' || true)
fi
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
           awk '/^URIs:/ && $2 ~ /^https?:.*\/debian\/?$/ { print $2; exit }' || true)
fi
[ -n "$mirror" ] || { echo "build-image: no Debian mirror in the apt sources" >&2; exit 1; }

mkdir -p "$cache"
work=$(mktemp -d "$cache/build-i386.XXXXXX")
root=$work/root
binfmt_name=vellomire-i386-$$
binfmt_dir=/proc/sys/fs/binfmt_misc
mounted_binfmt=0
registered=0

cleanup() {
  local rc=$?
  set +e
  # Any mount left inside the tree (mmdebstrap mounts proc, sys and dev there).
  if [ -d "$root" ]; then
    awk -v r="$root" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/mounts |
      sort -r | while read -r m; do umount -l "$m"; done
  fi
  if [ "$registered" = 1 ] && [ -e "$binfmt_dir/$binfmt_name" ]; then
    echo -1 > "$binfmt_dir/$binfmt_name"
  fi
  if [ "$mounted_binfmt" = 1 ]; then
    umount "$binfmt_dir"
  fi
  rm -rf "$work"
  [ "$rc" -eq 0 ] || rm -rf "$out.new"
  if [ "$rc" -ne 0 ]; then echo "build-image: failed ($rc)" >&2; fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

t0=$(date +%s)
stamp() { echo "build-image: $(( $(date +%s) - t0 )) s: $*" >&2; }

# 1. The root file system. apt resolves and downloads on the host (the
# packages kept in $cache/debs for the next build); the packages' own i386
# programs, dpkg's and their scripts, run under qemu-user, through a binfmt
# handler for qemu-i386 that lives as long as this step, where the kernel
# cannot run them. No stock initramfs (slow under emulation and not needed:
# the initrd is made here, and a stub stands in for update-initramfs), no
# documentation, no fsync for every file.
packages=linux-image-686,kmod,wine,wine32,xvfb,xdotool,procps,busybox-static,python3
mkdir -p "$cache/debs" "$work/sbin"
printf '#!/bin/sh\necho "update-initramfs: skipped (the test machine boots a host-made initrd)"\n' \
  > "$work/sbin/update-initramfs"
chmod 755 "$work/sbin/update-initramfs"
# Where the kernel runs 32-bit programs itself (the machine chosen anyway)
# no handler is needed, and none may stand between the host's own 32-bit
# Wine and the kernel while the tests run beside this build.
if [ "$(VELLOMIRE_I386_MACHINE= "$here/../../tools/win32-way.sh")" = machine ]; then
  if ! mountpoint -q "$binfmt_dir"; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir"
    mounted_binfmt=1
  fi
  printf ':%s:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:/usr/bin/qemu-i386-static:F\n' \
    "$binfmt_name" > "$binfmt_dir/register"
  registered=1
fi
stamp "mmdebstrap from $mirror"
mmdebstrap --mode=root --arch=i386 --variant=minbase --include="$packages" \
  --dpkgopt=force-unsafe-io --dpkgopt='path-exclude=/usr/sbin/update-initramfs' \
  --dpkgopt='path-exclude=/usr/sbin/mkinitramfs' --dpkgopt='path-exclude=/usr/share/doc/*' \
  --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/info/*' \
  --setup-hook='mkdir -p "$1/usr/sbin" "$1/var/cache/apt/archives"' \
  --setup-hook="copy-in $work/sbin/update-initramfs /usr/sbin" \
  --setup-hook="sync-in $cache/debs /var/cache/apt/archives" \
  --customize-hook="sync-out /var/cache/apt/archives $cache/debs" \
  "$suite" "$root" "$mirror" > "$work/mmdebstrap.log" 2>&1 || { tail -60 "$work/mmdebstrap.log" >&2; exit 1; }
if [ "$registered" = 1 ]; then echo -1 > "$binfmt_dir/$binfmt_name"; registered=0; fi
if [ "$mounted_binfmt" = 1 ]; then umount "$binfmt_dir"; mounted_binfmt=0; fi

# 2. The guest's own files.
install -m 755 "$here/guest/vellomire-init" "$root/usr/local/sbin/vellomire-init"
install -m 755 "$here/guest/vellomire-agent" "$root/usr/local/sbin/vellomire-agent"
install -m 755 "$here/guest/vellomire-session" "$root/usr/local/sbin/vellomire-session"
echo vellomire-i386 > "$root/etc/hostname"
printf '/dev/vda / ext4 rw 0 1\n' > "$root/etc/fstab"

# 3. Kernel and a tiny initrd: busybox, the virtio and ext4 modules, /init.
kver=$(ls "$root/lib/modules" | head -1)
[ -n "$kver" ] && [ -f "$root/boot/vmlinuz-$kver" ] || { echo "build-image: no kernel" >&2; exit 1; }
stage=$work/stage
mkdir -p "$stage/bin" "$stage/modules"
cp "$root/usr/bin/busybox" "$stage/bin/busybox"
install -m 755 "$here/guest/initrd-init" "$stage/init"
moddir=$root/lib/modules/$kver
declare -A seen=()
order=()
add_module() {  # $1: module file relative to $moddir; its dependencies first
  local rel=$1 dep
  [ -n "${seen[$rel]:-}" ] && return 0
  seen[$rel]=1
  for dep in $(awk -v m="$rel:" '$1 == m { $1 = ""; print }' "$moddir/modules.dep"); do
    add_module "$dep"
  done
  order+=("$rel")
}
for name in virtio_pci virtio_blk crc32c_generic ext4; do
  rel=$(awk -F: -v n="$name" '{ f = $1; sub(/.*\//, "", f); sub(/\.ko(\.xz|\.zst)?$/, "", f); gsub(/-/, "_", f); if (f == n) { print $1; exit } }' "$moddir/modules.dep")
  if [ -z "$rel" ]; then
    grep -q "/$name.ko" "$moddir/modules.builtin" || { echo "build-image: no module $name" >&2; exit 1; }
    continue
  fi
  add_module "$rel"
done
: > "$stage/modules.order"
for rel in "${order[@]}"; do
  base=$(basename "$rel")
  case "$base" in
    *.ko.xz) xz -dc "$moddir/$rel" > "$stage/modules/${base%.xz}"; base=${base%.xz} ;;
    *.ko.zst) zstd -dc "$moddir/$rel" > "$stage/modules/${base%.zst}"; base=${base%.zst} ;;
    *) cp "$moddir/$rel" "$stage/modules/$base" ;;
  esac
  echo "$base" >> "$stage/modules.order"
done
stamp "initrd modules: $(tr '\n' ' ' < "$stage/modules.order")"
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.img"
cp "$root/boot/vmlinuz-$kver" "$work/vmlinuz"

# 4. The disk, made without mounting anything.
stamp "making the disk"
mke2fs -q -t ext4 -L vellomire -d "$root" "$work/root.ext4" 4G
qemu-img convert -O qcow2 "$work/root.ext4" "$work/disk.qcow2"
rm -f "$work/root.ext4"
rm -rf "$root"

# 5. Boot it once to make the Wine prefix (on the disk), bring it to where a
# test session starts and save that state: the disk as it is then goes with it.
stamp "first boot: making the Wine prefix and the session's state"
python3 "$here/vm.py" --image "$work" --disk "$work/disk.qcow2" --setup "$here/guest/setup.sh" \
  --state "$work/state" > "$work/setup.log" 2>&1 || { cat "$work/setup.log" >&2; exit 1; }
grep -E '^vm:' "$work/setup.log" >&2 || true

mkdir -p "$out.new"
mv "$work/vmlinuz" "$work/initrd.img" "$work/disk.qcow2" "$work/state" "$out.new/"
cp "$work/setup.log" "$out.new/setup.log"
rm -rf "$out"
mv "$out.new" "$out"
stamp "done: $out ($(du -sh "$out" | cut -f1))"
echo "$out"
