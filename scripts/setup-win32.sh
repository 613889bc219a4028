#!/usr/bin/env bash
# Makes this machine able to run the shipped 32-bit (i686) Windows programs under Wine, for
# scripts/test-win32.sh. Idempotent: every step first looks whether it is already done. Needs root
# (or sudo) for the packages and for binfmt_misc.
#
# Why so many steps: this machine's kernel is 64-bit only (it runs no 32-bit ELF program), and a
# 32-bit Windows program needs the 32-bit Wine loader, itself a 32-bit Linux program. So the
# kernel hands every i386 ELF program to qemu-i386, a user-mode emulator, through binfmt_misc.
# It works, slowly: about a minute for each 32-bit process to start.
set -euo pipefail
cd "$(dirname "$0")/.."

# The 64-bit build tools, wine64 and the rest, as for every other run.
scripts/setup.sh

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync can fail one index (seen here: the security archive's i386
# list, "File has unexpected size"); apt then keeps the lists it has and says so. The install
# below fails plainly if what it needs is not in them, so an incomplete update is not fatal here.
apt_update() {
  "${sudo_cmd[@]}" apt-get update -qq ||
    echo "setup-win32: apt-get update reported errors (above); going on with the lists it read"
}

# 1. Debian's 32-bit packages: the i386 architecture must be known to dpkg before wine32:i386 can
#    be installed, and apt's lists must then be read again to include that architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup-win32: adding the i386 architecture to dpkg"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  apt_update
fi

# 2. wine32:i386 is the 32-bit half of Wine (its loader /usr/lib/wine/wine and the 32-bit DLLs);
#    it must be the same version as wine64, which apt takes care of. qemu-user-static brings
#    /usr/bin/qemu-i386-static, a static build that needs no 32-bit library of its own.
missing=()
for p in wine32:i386 qemu-user-static; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-win32: installing ${missing[*]} (a few minutes)"
  apt_update
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 3. binfmt_misc is the kernel's table of interpreters for executable formats. Outside systemd
#    (a container, this sandbox) nobody mounts it: do it here when it is not there.
BINFMT=/proc/sys/fs/binfmt_misc
if [ ! -e "$BINFMT/register" ]; then
  echo "setup-win32: mounting binfmt_misc at $BINFMT"
  "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$BINFMT"
fi

# 4. The entry that sends i386 ELF programs to qemu-i386-static. Debian's qemu-user-static ships
#    no such entry for an amd64 machine (one normally runs them itself), so it is written here:
#    the magic and mask match a 32-bit little-endian ELF executable or shared object for the 386
#    (e_machine 3), the same fields as Debian's entries for the other processors. Flag F opens the
#    interpreter now, so that it is found whatever the program's mount namespace or root; flag P
#    would hand it argv[0], which qemu-i386-static (not a -binfmt-P wrapper) does not expect.
QEMU=/usr/bin/qemu-i386-static
if [ ! -e "$BINFMT/qemu-i386" ]; then
  echo "setup-win32: registering $QEMU for i386 ELF programs"
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s\n' ":qemu-i386:M::$magic:$mask:$QEMU:F" | "${sudo_cmd[@]}" tee "$BINFMT/register" >/dev/null
fi
if [ "$(head -n1 "$BINFMT/qemu-i386")" != enabled ]; then
  echo "setup-win32: enabling the qemu-i386 entry"
  echo 1 | "${sudo_cmd[@]}" tee "$BINFMT/qemu-i386" >/dev/null
fi

# 5. Proof that it works: the 32-bit Wine loader now starts (it prints its version and exits).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "setup-win32: /usr/lib/wine/wine (32-bit) still does not run; binfmt_misc says:" >&2
  cat "$BINFMT/qemu-i386" >&2 || true
  exit 1
fi
echo "setup-win32: 32-bit Wine runs: $(/usr/lib/wine/wine --version 2>/dev/null)"
