# shellcheck shell=bash
# Shared settings of the project scripts. Source it; it defines ROOT, the
# build folder and the Wine word size (wine_use_arch 32|64).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install dialogs: nothing of ours needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The control program's update check talks to this machine only: no name is
# looked up and nothing leaves it (a test may serve the answer itself).
export ZELBO_UPDATE_HOST=${ZELBO_UPDATE_HOST:-127.0.0.1}

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Why this host cannot run 32-bit programs, or nothing when it can. Some
# virtual machines run 64-bit user code only; there 32-bit Wine cannot start.
# KORVELL_NO_32BIT=1 pretends to be such a host.
host_32bit_refusal() {
  if [ -n "${KORVELL_NO_32BIT:-}" ]; then
    echo "KORVELL_NO_32BIT is set"
    return
  fi
  # A 32-bit ELF program that only exits with 0 (i386 exit system call):
  # run it and see whether the kernel takes it.
  local probe
  probe=$(mktemp "${TMPDIR:-/tmp}/korvell-ia32.XXXXXX") || { echo "no temporary file"; return; }
  python3 - "$probe" <<'PY'
import struct, sys
base = 0x08048000
code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # mov eax,1; xor ebx,ebx; int 0x80
size = 52 + 32 + len(code)
elf = b"\x7fELF\x01\x01\x01" + bytes(9)
elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
PY
  chmod +x "$probe"
  if ! "$probe" 2>/dev/null; then
    echo "the processor runs 64-bit user code only (IA-32 emulation off: a 32-bit program gives 'Exec format error')"
  fi
  rm -f "$probe"
}

host_runs_32bit() { [ -z "$(host_32bit_refusal)" ]; }

# Selects the Windows word size: its build folder, its own Wine prefix and the
# Wine loader and server of that size (never the 32-bit loader for 64 bits).
wine_use_arch() {
  WINE_ARCH=$1
  case "$WINE_ARCH" in
    32)
      WIN_PRESET=win32
      export WINEARCH=win32 WINEPREFIX=$BUILD_DIR/wineprefix
      WINE=/usr/lib/wine/wine
      WINESERVER_BIN=$(command -v wineserver || echo /usr/bin/wineserver)
      ;;
    64)
      WIN_PRESET=win64
      export WINEARCH=win64 WINEPREFIX=$BUILD_DIR/wineprefix64
      WINE=/usr/lib/wine/wine64
      WINESERVER_BIN=/usr/lib/wine/wineserver64
      ;;
    *) die "unknown word size '$WINE_ARCH' (32 or 64)" ;;
  esac
  export WINELOADER=$WINE WINESERVER=$WINESERVER_BIN WINE_ARCH
  export WIN_BUILD=$BUILD_DIR/$WIN_PRESET
}

# The word size for a program run: the one asked for, else 32-bit where the
# host runs it, else 64-bit.
wine_default_arch() {
  if [ -n "${1:-}" ]; then echo "$1"; elif host_runs_32bit; then echo 32; else echo 64; fi
}

# A host path as Windows sees it on drive Z:, without starting Wine.
win_path() {
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}

wine_run() { "$WINE" "$@"; }

# Prints the calling script's header comment (its usage) without the '#'.
print_usage() {
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
}
