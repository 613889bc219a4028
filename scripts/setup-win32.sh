#!/usr/bin/env bash
# Makes this machine able to run the shipped 32-bit (i686) Windows programs under Wine, for
# scripts/test-win32.sh. Idempotent: every step first looks whether it is already done. Needs root
# (or sudo) for the packages and for binfmt_misc.
#
# Why so many steps: a 32-bit Windows program needs the 32-bit Wine loader, itself a 32-bit Linux
# program. A kernel built with IA-32 emulation runs it directly. A 64-bit-only kernel runs no
# 32-bit ELF program: then the kernel must hand every i386 ELF program to qemu-i386, a user-mode
# emulator, through binfmt_misc. That works, slowly: about a minute for each 32-bit process to start.
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
#    it must be the same version as wine64, which apt takes care of.
WINE32=/usr/lib/wine/wine
install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "setup-win32: installing ${missing[*]} (a few minutes)"
  apt_update
  if ! "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # Seen here: the security archive's i386 list failed to download ("File has unexpected size"),
    # so apt knew only older i386 versions of libraries whose amd64 halves come from security
    # updates; a Multi-Arch library must be the same version for both architectures, so apt
    # found no solution ("pkgProblemResolver::Resolve generated breaks").
    echo "setup-win32: apt could not install ${missing[*]}; if apt-get update failed for an i386" \
         "list above, the mirror is incomplete: try again later" >&2
    exit 1
  fi
}
install_packages wine32:i386

# 3. Does this kernel run 32-bit programs itself? Then nothing more is needed (and qemu would only
#    slow it down: a binfmt_misc entry is tried before the kernel's own ELF loader).
if "$WINE32" --version >/dev/null 2>&1; then
  echo "setup-win32: $("$WINE32" --version) runs on this kernel"
  exit 0
fi

# 4. No: qemu-user-static brings /usr/bin/qemu-i386-static, a static build that needs no 32-bit
#    library of its own. binfmt_misc is the kernel's table of interpreters for executable formats;
#    outside systemd (a container, this sandbox) nobody mounts it: do it here when it is not there.
install_packages qemu-user-static
BINFMT=/proc/sys/fs/binfmt_misc
if [ ! -e "$BINFMT/register" ]; then
  echo "setup-win32: mounting binfmt_misc at $BINFMT"
  "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$BINFMT"
fi

# 5. The entry that sends i386 ELF programs to qemu-i386-static. Debian's qemu-user-static ships
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

# 6. Proof that it works: the 32-bit Wine loader now starts (it prints its version and exits).
if ! "$WINE32" --version >/dev/null 2>&1; then
  echo "setup-win32: $WINE32 (32-bit) still does not run; binfmt_misc says:" >&2
  cat "$BINFMT/qemu-i386" >&2 || true
  exit 1
fi
echo "setup-win32: $("$WINE32" --version) runs through qemu-i386"
