#!/usr/bin/env bash
# Stops the test mail servers that start.sh recorded in ENV_FILE and removes their run folder.
# Usage: stop.sh ENV_FILE
set -uo pipefail
env_file=$1
[ -f "$env_file" ] || exit 0
run=$(sed -n 's/^RUN_DIR=//p' "$env_file")
[ -n "$run" ] && [ -d "$run" ] || { rm -f "$env_file"; exit 0; }

# A process counts as gone once it has exited, also while it lingers as a zombie.
alive() {
  local state
  [ -r "/proc/$1/stat" ] || return 1
  state=$(sed 's/^.*) //' "/proc/$1/stat" | cut -d' ' -f1)
  [ "$state" != "Z" ]
}

pids=()
for f in "$run/smtpd.pid" "$run/dovecot/run/master.pid" "$run/dovecot-tls/run/master.pid"; do
  [ -f "$f" ] && pids+=("$(cat "$f")")
done
for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
for _ in $(seq 1 50); do
  any=0
  for p in "${pids[@]}"; do alive "$p" && any=1; done
  [ "$any" = 0 ] && break
  sleep 0.1
done
for p in "${pids[@]}"; do alive "$p" && kill -KILL "$p" 2>/dev/null; done

case "$run" in
  /tmp/corvane-mailservers.*) rm -rf "$run" ;;
esac
rm -f "$env_file"
exit 0
