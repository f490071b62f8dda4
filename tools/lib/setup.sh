# shellcheck shell=bash
# Installs what the build and the tests need on Debian 12, once.
# shellcheck source=common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PACKAGES=(cmake ninja-build ccache g++ googletest
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth x11-utils pulseaudio pulseaudio-utils ffmpeg imagemagick
  clang-format shellcheck clang libclang-rt-14-dev mediainfo)

setup_packages() {
  local wanted=("${PACKAGES[@]}") missing=() p
  # 32-bit Wine only where the host can run it.
  host_runs_32bit && wanted+=(wine32:i386)
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  case " ${missing[*]}" in *:i386*) $sudo dpkg --add-architecture i386 ;; esac
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" \
    || die "apt-get install failed"
}
