#!/usr/bin/env bash
# Opens the served example site in headless Chromium, run on the optimised
# build. The page's own script writes "pass (stylesheet applied, image
# loaded)" once the stylesheet's colour is in effect and the logo decoded;
# the test reads that back from the DOM, checks the server sent every part of
# the page, and keeps a screenshot in build/artifacts/browser.png.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/serve-helpers.sh

chromium=${CHROMIUM:-chromium}
artifacts=build/artifacts
work=$(mktemp -d)
trap 'kill_server; rm -rf "$work"' EXIT
mkdir -p "$artifacts"

"$QUILLMAR_BUILD/quillmar-link" examples/site "$work/site.bin" >/dev/null
start_server "$work/site.bin" "$work/serve.log"

# A fresh profile per run; no network traffic of Chromium's own.
browse() {
  local profile
  profile=$(mktemp -d "$work/profile.XXXXXX")
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" "$@" \
    2>>"$work/chromium.err"
}

failed=0
if ! browse --dump-dom "$server_url" >"$work/dom.html"; then
  echo "chromium --dump-dom failed:" >&2
  tail -n 20 "$work/chromium.err" >&2
  failed=1
fi
result=$(grep -o '<strong id="result"[^<]*</strong>' "$work/dom.html" || true)
echo "browser: ${result:-no result in the page}"
case $result in
  *'>pass (stylesheet applied, image loaded)<'*) ;;
  *) failed=1 ;;
esac

if ! browse --screenshot="$PWD/$artifacts/browser.png" --window-size=900,700 "$server_url" >/dev/null ||
  [ ! -s "$artifacts/browser.png" ]; then
  echo "no screenshot" >&2
  failed=1
else
  echo "screenshot: $artifacts/browser.png"
fi
stop_server

for path in / /css/site.css /img/logo.gif /js/site.js; do
  if ! grep -q "^GET $path 200 " "$work/serve.log"; then
    echo "the server did not send $path" >&2
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "browser test FAILED; server log:" >&2
  cat "$work/serve.log" >&2
  exit 1
fi
