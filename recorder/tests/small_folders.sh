#!/bin/bash
# Folders for the recording failure tests: "full" is a 32 MB file system
# that the tests fill, "readonly" one mounted read-only (the
# tests run as root, which writes into any folder a mode would protect).
# Usage: small_folders.sh setup|cleanup DIR
set -u
action=$1
dir=$2
case "$action" in
  setup)
    mkdir -p "$dir/full" "$dir/readonly" || exit 1
    mountpoint -q "$dir/full" || mount -t tmpfs -o size=32m tmpfs "$dir/full" || exit 1
    mountpoint -q "$dir/readonly" || mount -t tmpfs -o ro,size=1m tmpfs "$dir/readonly" || exit 1
    ;;
  cleanup)
    for sub in full readonly; do
      if mountpoint -q "$dir/$sub"; then umount "$dir/$sub" || exit 1; fi
    done
    ;;
  *)
    echo "usage: $0 setup|cleanup DIR" >&2
    exit 2
    ;;
esac
