#!/usr/bin/env bash
# Builds the archive reader's libFuzzer target with clang and runs it for a
# bounded time on a corpus grown from seeds that quillmar-link produced.
# Exits non-zero when the fuzzer finds a crash, a leak, a sanitizer report
# or an input that hangs; the input is left in build/fuzz/artifacts/.
#
# usage: scripts/fuzz-reader.sh [SECONDS]    (default 60)
set -euo pipefail

seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*)
    echo "usage: $0 [SECONDS]" >&2
    exit 2
    ;;
esac

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

cmake --preset fuzz
cmake --build --preset fuzz

# The corpus lives in the build tree and keeps growing from run to run; the
# committed seeds are copied in every time so it never starts empty.
corpus="$root/build/fuzz/corpus"
artifacts="$root/build/fuzz/artifacts"
mkdir -p "$corpus" "$artifacts"
cp "$root"/tests/reader/fuzz_seeds/* "$corpus"/

"$root/build/fuzz/tests/reader/quillmar_reader_fuzzer" \
  -max_total_time="$seconds" \
  -timeout=10 \
  -print_final_stats=1 \
  -artifact_prefix="$artifacts/" \
  "$corpus"
