#!/usr/bin/env bash
# tools/mux in a fresh checkout: no build folder yet. It configures and
# builds its driver there, then answers --help.
#   tools_mux_fresh_test.sh REPO_ROOT WORKDIR
set -uo pipefail
ROOT_DIR=$1
WORK=$2/tools_mux_fresh.$$
trap 'rm -rf "$WORK"' EXIT
out=$(BUILD_DIR="$WORK/build" "$ROOT_DIR/tools/mux" --help 2>&1)
rc=$?
if [ "$rc" -ne 0 ] || ! grep -q 'usage: mux' <<<"$out"; then
  printf 'FAIL: tools/mux --help in a fresh build folder exited %d:\n%s\n' "$rc" "$out" >&2
  exit 1
fi
out=$(BUILD_DIR="$WORK/build" "$ROOT_DIR/tools/mux" --bitrate abc "$WORK/o" "$WORK/i" 2>&1)
rc=$?
if [ "$rc" -ne 2 ]; then
  printf 'FAIL: tools/mux --bitrate abc exited %d:\n%s\n' "$rc" "$out" >&2
  exit 1
fi
echo "tools/mux builds its driver in a fresh build folder"
