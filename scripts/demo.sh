#!/usr/bin/env bash
# The tool's main job on a bundled sample: build, make a sample image, show what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
mkdir -p build/demo
build/bin/quorvane sample build/demo/box.dld --variant all
build/bin/quorvane info build/demo/box.dld
