#!/usr/bin/env bash
# Builds the optimised linker and compares it with cat and tar on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target quillmar-link >/dev/null
python3 bench/bench.py --linker build/release/quillmar-link "$@"
