#!/usr/bin/env bash
# Builds and runs every test: the optimised build, then the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset release
bash scripts/test-serve-load.sh
bash scripts/test-browser.sh
cmake --workflow --preset asan
