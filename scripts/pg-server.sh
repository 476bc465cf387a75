#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests of the office database.
#   pg-server.sh start DIR   makes a cluster in a new temporary folder, starts it listening only on
#                            a Unix socket in that folder, and writes its libpq connection string
#                            to DIR/conninfo (or why there is none to DIR/unavailable)
#   pg-server.sh stop DIR    stops that server and removes its folder
# The server refuses to run as root: as root it runs as the user nobody, in a folder only nobody
# (and root) may enter.
# For the tests' speed the server does not sync its writes; with KESTREL_PG_DURABLE=1 it keeps the
# server's own defaults (fsync, synchronous commit, full page writes), as the benchmarks need:
# an office server that loses a committed change on a power cut is not the one to measure.
set -euo pipefail
action=${1:?start or stop}
state=${2:?state folder}
mkdir -p "$state"
state=$(cd "$state" && pwd)
# The server's user may not enter the caller's folder (a checkout under /root).
cd /

bindir=""
if command -v pg_config >/dev/null 2>&1 && [[ -x "$(pg_config --bindir)/initdb" ]]; then
  bindir=$(pg_config --bindir)
fi
if [[ -z "$bindir" ]]; then
  for d in /usr/lib/postgresql/*/bin; do
    [[ -x "$d/initdb" && -x "$d/pg_ctl" ]] && bindir=$d
  done
fi
if [[ -z "$bindir" ]] && command -v initdb >/dev/null 2>&1; then
  bindir=$(dirname "$(command -v initdb)")
fi

as_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

case "$action" in
start)
  rm -f "$state/conninfo" "$state/unavailable"
  if [[ -z "$bindir" ]]; then
    echo "PostgreSQL's initdb and pg_ctl are not installed (scripts/install-deps.sh installs them)" | tee "$state/unavailable"
    exit 0
  fi
  # An earlier run's server, left by an interrupted test run, is stopped first.
  "$0" stop "$state" >/dev/null 2>&1 || true
  dir=$(mktemp -d /tmp/kestrel-pg.XXXXXX)
  echo "$dir" >"$state/serverdir"
  [[ $(id -u) -eq 0 ]] && chown nobody "$dir"
  # The server keeps a zone whose date differs from this computer's as the tests run, so that a
  # day read in the server's zone rather than the office's shows.
  zone=Pacific/Kiritimati
  [[ $(TZ=$zone date +%F) == $(date +%F) ]] && zone=Pacific/Honolulu
  unsafe="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
  nosync="--no-sync"
  [[ "${KESTREL_PG_DURABLE:-0}" == 1 ]] && unsafe="" nosync=""
  as_owner "$bindir/initdb" -D "$dir/data" -U kestrel -A trust -E UTF8 --locale=C.UTF-8 $nosync >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log"; exit 1; }
  # The server outlives this script, so it keeps none of the caller's open files: a build lock
  # held by the test run would otherwise stay held by a server that was never stopped.
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      [[ $fd -gt 2 ]] && eval "exec $fd>&-"
    done 2>/dev/null
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $dir $unsafe -c max_connections=200 -c timezone=$zone" \
      start >/dev/null
  ) || { cat "$dir/server.log"; exit 1; }
  echo "host=$dir user=kestrel" >"$state/conninfo"
  echo "PostgreSQL server in $dir"
  ;;
stop)
  [[ -f "$state/serverdir" ]] || exit 0
  dir=$(cat "$state/serverdir")
  if [[ -n "$bindir" && -d "$dir/data" ]]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  [[ "$dir" == /tmp/kestrel-pg.* ]] && rm -rf "$dir"
  rm -f "$state/serverdir" "$state/conninfo"
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
