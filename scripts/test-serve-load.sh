#!/usr/bin/env bash
# Load test for quillmar-serve on loopback, run on the optimised build: links
# the example site, serves it on a free port and has wrk fetch all of its
# documents over 16 connections for a few seconds. Any socket error, timeout
# or answer other than 200 fails the run; the rate is printed, never judged,
# because the machines are shared.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/serve-helpers.sh

seconds=${LOAD_SECONDS:-5}
work=$(mktemp -d)
trap 'kill_server; rm -rf "$work"' EXIT

"$QUILLMAR_BUILD/quillmar-link" examples/site "$work/site.bin" >/dev/null
start_server "$work/site.bin" "$work/serve.log"

cat >"$work/paths.lua" <<'LUA'
-- Every document of the example site in turn, on every connection.
local paths = {"/", "/css/site.css", "/js/site.js", "/img/logo.gif", "/docs/about.html"}
local at = 0
request = function()
  at = at % #paths + 1
  return wrk.format("GET", paths[at])
end
LUA

wrk -t2 -c16 -d"${seconds}s" --timeout 10s --latency -s "$work/paths.lua" "$server_url" | tee "$work/wrk.txt"
stop_server

failed=0
if grep -E 'Socket errors|Non-2xx' "$work/wrk.txt"; then
  failed=1
fi
requests=$(sed -n 's/^ *\([0-9][0-9]*\) requests in .*/\1/p' "$work/wrk.txt")
if [ -z "$requests" ] || [ "$requests" -eq 0 ]; then
  echo "wrk reported no requests" >&2
  failed=1
fi
# The server's own view: one line per request after the first, all 200.
logged=$(($(wc -l <"$work/serve.log") - 1))
not_ok=$(awk 'NR > 1 && $3 != 200' "$work/serve.log" | wc -l)
if [ "$logged" -lt "${requests:-0}" ] || [ "$not_ok" -ne 0 ]; then
  echo "server logged $logged requests, $not_ok of them not 200" >&2
  failed=1
fi

rate=$(sed -n 's/^Requests\/sec: *//p' "$work/wrk.txt")
p50=$(sed -n 's/^ *50% *//p' "$work/wrk.txt")
p99=$(sed -n 's/^ *99% *//p' "$work/wrk.txt")
echo "load: ${requests:-0} requests in ${seconds} s over 16 connections, ${rate:-?} requests/s," \
  "latency p50 ${p50:-?} p99 ${p99:-?}, server logged $logged, $not_ok not 200," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
if [ "$failed" -ne 0 ]; then
  echo "load test FAILED" >&2
  exit 1
fi
