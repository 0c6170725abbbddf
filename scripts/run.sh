#!/usr/bin/env bash
# Builds Quillon and starts the viewer. Without a viewer build yet, dumps a
# sample file with quillon-dump instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_TESTS=OFF
cmake --build build -j "$(nproc)"
if [[ -x build/app/quillon ]]; then
  exec build/app/quillon "$@"
fi
sample=${1:-/usr/lib/python3/dist-packages/pydicom/data/test_files/CT_small.dcm}
exec build/tools/quillon-dump "$sample"
