#!/bin/bash
# Starts or stops the stand-in update server around the update check test.
# Usage: update_server.sh start LOG PORT BEHAVIOUR... | stop LOG
set -u
action=$1
log=$2
shift 2
pidfile=$log.pid
case "$action" in
  start)
    rm -f "$log"
    setsid python3 "$(dirname "$0")/update_server.py" "$log" "$@" >"$log.out" 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 50); do
      grep -q listening "$log" 2>/dev/null && exit 0
      sleep 0.1
    done
    echo "the update server did not start:" >&2
    cat "$log.out" >&2
    exit 1
    ;;
  stop)
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
    rm -f "$pidfile"
    exit 0
    ;;
  *)
    echo "usage: $0 start LOG PORT BEHAVIOUR... | stop LOG" >&2
    exit 2
    ;;
esac
