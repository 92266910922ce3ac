#!/usr/bin/env bash
# Build kestrix (native release) and run it; arguments go to kestrix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target kestrix >/dev/null
exec ./build/release/kestrix "$@"
