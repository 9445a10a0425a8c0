#!/bin/sh
# Runs a 32-bit Windows program under Wine for the tests.
#
#   run-under-wine.sh --probe          exit 0 when this machine can run one
#   run-under-wine.sh --start PREFIX   make a fresh Wine prefix, start its server
#   run-under-wine.sh --stop PREFIX    stop that server, remove the prefix
#   run-under-wine.sh PROGRAM ARGS...  run PROGRAM in $WINEPREFIX
#
# Wine's 32-bit loader is a 32-bit Linux program. Where the kernel cannot run
# those (a kernel built or booted without 32-bit emulation says "Exec format
# error"), the loader runs under qemu-i386 user emulation instead: inside a
# private user and mount namespace, so that the handler registered with
# binfmt_misc for 32-bit programs is seen by this run alone and the machine is
# left as it was; Wine's server, 64-bit there (package wine64), runs outside.
# Wine's own messages are off (WINEDEBUG=-all); what the
# program writes and its exit status pass through unchanged.
set -eu

export WINEDEBUG=-all
# Nothing a console program needs: .NET and the browser engine (whose
# installers would be offered), menu entries, Plug and Play and the device
# drivers. Under qemu-i386 the drivers fault and cost a 30 s time-out each.
export WINEDLLOVERRIDES="mscoree,mshtml,iexplore.exe,winemenubuilder.exe,plugplay.exe,winedevice.exe="
# Under qemu-i386 a guest address space of 2 GiB (all a 32-bit Windows
# program has) spares Wine a long search for free memory at each start.
# Without emulation the variable is read by nobody.
export QEMU_RESERVED_VA=0x7fff0000

QEMU=$(command -v qemu-i386-static || command -v qemu-i386 || true)
# The handler: any 32-bit x86 ELF program (executable or shared object).
I386_HANDLER=':wine-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

runs_32bit() { wine --version >/dev/null 2>&1; }

# Wine keeps the read-only attribute in the write permission bits, which
# root's capabilities override. Run as root, Wine and its server go without
# them, so that a read-only file refuses to be written as on Windows.
if [ "$(id -u)" = 0 ]; then
  AS_USER="setpriv --inh-caps=-all --ambient-caps=-all --bounding-set=-all --"
else
  AS_USER=""
fi

# Becomes "$@" where 32-bit programs run: here, or in a namespace of its own
# whose binfmt_misc hands them to qemu.
exec_32bit() {
  runs_32bit && exec "$@"
  exec unshare --user --map-root-user --mount sh -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
    printf "%s:%s:F\n" "$1" "$2" >/proc/sys/fs/binfmt_misc/register || exit 125
    shift 2
    exec "$@"' sh "$I386_HANDLER" "$QEMU" "$@"
}

case "${1:-}" in
  --probe)
    command -v wine >/dev/null || { echo "wine is not installed"; exit 1; }
    if runs_32bit; then
      echo "wine runs 32-bit programs natively"
      exit 0
    fi
    [ -n "$QEMU" ] || {
      echo "this kernel cannot run 32-bit programs and qemu-i386 is not installed"
      exit 1
    }
    wineserver --version >/dev/null 2>&1 || {
      echo "this kernel cannot run 32-bit programs, Wine's 32-bit server among them (install wine64)"
      exit 1
    }
    if (exec_32bit wine --version) >/dev/null 2>&1; then
      echo "this kernel cannot run 32-bit programs: wine runs under qemu-i386"
      exit 0
    fi
    echo "this kernel cannot run 32-bit programs, and no user namespace can give them to qemu-i386"
    exit 1
    ;;
  --start)
    export WINEPREFIX="$2" WINEARCH=win32
    # A server left by a run that was cut short goes with its prefix.
    if [ -d "$WINEPREFIX" ]; then wineserver --kill >/dev/null 2>&1 || true; fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # A server that stays up until --stop spares every run its start. It
    # opens the files for the programs, so it runs here, where it sees the
    # volumes a test mounts later; like the programs Wine starts in the
    # background, it must not hold the caller's output open.
    $AS_USER wineserver --persistent >/dev/null 2>&1
    (exec_32bit $AS_USER wineboot --init) >/dev/null 2>&1 || {
      echo "wineboot could not make a Wine prefix at $WINEPREFIX"
      exit 1
    }
    ;;
  --stop)
    export WINEPREFIX="$2"
    if [ -d "$WINEPREFIX" ]; then
      wineserver --kill >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX"
    fi
    ;;
  *)
    : "${WINEPREFIX:?WINEPREFIX must name the prefix made by --start}"
    exec_32bit $AS_USER wine "$@"
    ;;
esac
