#!/usr/bin/env bash
# Builds and runs every test: the optimised build, the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a bounded fuzzing run of
# the archive reader, then the suite against the Windows build under Wine.
# The server's load and browser tests run on the optimised build only.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset release
bash scripts/test-serve-load.sh
bash scripts/test-browser.sh
cmake --workflow --preset asan
bash scripts/fuzz-reader.sh "${QUILLMAR_FUZZ_SECONDS:-60}"
# The Windows build, cross-compiled and run against the same suite under Wine.
bash scripts/test-windows.sh
