#!/usr/bin/env bash
# Prints how the shipped 32-bit saver is run on this machine, one word:
#   host     the kernel executes 32-bit x86 programs, so Debian's 32-bit
#            Wine (wine32:i386) runs it directly;
#   machine  it cannot, so 32-bit Wine runs in the emulated i386 machine
#            (e2e/i386).
# VELLOMIRE_I386_MACHINE=1 chooses the machine anyway, so that it can be
# checked on any machine. With --why, a sentence saying why goes to stdout
# after the word.
set -u
why=0
[ "${1:-}" = --why ] && why=1

say() {
  echo "$1"
  [ "$why" = 1 ] && echo "$2"
  exit 0
}

if [ -n "${VELLOMIRE_I386_MACHINE:-}" ]; then
  say machine "VELLOMIRE_I386_MACHINE is set"
fi

# A 96-byte i386 ELF program whose only work is exit(42): the kernel runs
# it only when it executes 32-bit code itself (IA-32 emulation). A qemu-i386
# handler in binfmt_misc would run it too, but not Wine well: none may be
# registered for the answer to count.
if grep -qs qemu-i386 /proc/sys/fs/binfmt_misc/*; then
  say machine "a qemu-i386 binfmt handler is registered, so a 32-bit program's run proves nothing"
fi
elf=$(mktemp)
trap 'rm -f "$elf"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$elf"
chmod +x "$elf"
"$elf" 2>/dev/null
if [ $? -eq 42 ]; then
  say host "the kernel runs 32-bit programs"
fi
say machine "the kernel cannot run 32-bit programs"
