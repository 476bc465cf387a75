#!/usr/bin/env bash
# Throwaway CardDAV/CalDAV servers (Radicale) for the sync tests.
#   dav-server.sh start DIR   starts two servers on free ports of 127.0.0.1 in a new temporary
#                             folder: one that takes any user name without a password (its address
#                             in DIR/url), and one that checks passwords against an htpasswd file
#                             (DIR/url-password, user "ann", password in DIR/password); or writes
#                             why there are none to DIR/unavailable
#   dav-server.sh stop DIR    stops them and removes their folder
set -euo pipefail
action=${1:?start or stop}
state=${2:?state folder}
mkdir -p "$state"
state=$(cd "$state" && pwd)

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

wait_for() {
  for _ in $(seq 1 100); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $1), 0.2)" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

case "$action" in
start)
  rm -f "$state/url" "$state/url-password" "$state/password" "$state/unavailable"
  if ! command -v radicale >/dev/null 2>&1; then
    echo "Radicale is not installed (scripts/install-deps.sh --test installs it)" | tee "$state/unavailable"
    exit 0
  fi
  "$0" stop "$state" >/dev/null 2>&1 || true
  dir=$(mktemp -d /tmp/kestrel-dav.XXXXXX)
  echo "$dir" >"$state/serverdir"
  password="kestrel-$RANDOM$RANDOM"
  printf 'ann:%s\n' "$password" >"$dir/htpasswd"
  open=$(free_port)
  checked=$(free_port)
  setsid radicale --storage-filesystem-folder="$dir/open" --auth-type none --rights-type owner_only \
    --server-hosts "127.0.0.1:$open" --logging-level warning >"$dir/open.log" 2>&1 &
  echo $! >"$dir/open.pid"
  setsid radicale --storage-filesystem-folder="$dir/checked" --auth-type htpasswd --auth-htpasswd-filename "$dir/htpasswd" \
    --auth-htpasswd-encryption plain --rights-type owner_only --server-hosts "127.0.0.1:$checked" \
    --logging-level warning </dev/null >"$dir/checked.log" 2>&1 &
  echo $! >"$dir/checked.pid"
  if ! wait_for "$open" || ! wait_for "$checked"; then
    cat "$dir"/*.log
    echo "Radicale did not start (see above)" | tee "$state/unavailable"
    exit 0
  fi
  echo "http://127.0.0.1:$open/" >"$state/url"
  echo "http://127.0.0.1:$checked/" >"$state/url-password"
  echo "$password" >"$state/password"
  echo "Radicale on 127.0.0.1:$open and 127.0.0.1:$checked, in $dir"
  ;;
stop)
  [[ -f "$state/serverdir" ]] || exit 0
  dir=$(cat "$state/serverdir")
  for pidfile in "$dir/open.pid" "$dir/checked.pid"; do
    [[ -f "$pidfile" ]] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  [[ "$dir" == /tmp/kestrel-dav.* ]] && rm -rf "$dir"
  rm -f "$state/serverdir" "$state/url" "$state/url-password" "$state/password"
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
