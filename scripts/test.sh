#!/usr/bin/env bash
# Builds and runs every test: the optimised build, the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a bounded fuzzing run
# of the archive reader.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset release
cmake --workflow --preset asan
bash scripts/fuzz-reader.sh "${QUILLMAR_FUZZ_SECONDS:-60}"
