# Sourced by the scripts that test quillmar-serve from outside: starting it on
# a free loopback port and stopping it again.

QUILLMAR_BUILD=${QUILLMAR_BUILD:-build/release}
server_pid=
server_url=

# start_server TARGET LOG: serves TARGET with its output in LOG (standard
# error in LOG.err); sets server_pid and server_url from its first line.
start_server() {
  "$QUILLMAR_BUILD/quillmar-serve" "$1" --port 0 >"$2" 2>"$2.err" &
  server_pid=$!
  local line
  for _ in $(seq 200); do
    line=$(head -n 1 "$2")
    case $line in
      "listening on http://"*/)
        server_url=${line#listening on }
        return 0
        ;;
    esac
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "quillmar-serve did not start: $(cat "$2.err")" >&2
  return 1
}

# stop_server: SIGTERM, and the server must end with status 0.
stop_server() {
  local status=0
  kill -TERM "$server_pid"
  wait "$server_pid" || status=$?
  server_pid=
  if [ "$status" -ne 0 ]; then
    echo "quillmar-serve ended with status $status" >&2
    return 1
  fi
}

# For an EXIT trap: ends a server a failed run left behind.
kill_server() {
  if [ -n "$server_pid" ]; then
    kill -KILL "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
