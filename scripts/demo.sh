#!/usr/bin/env bash
# The tool's main job on a bundled sample: make a sample download file, give it the bundled
# boot logo, a new model id and an HTTP address, and show what the new download file holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
rm -rf build/demo
mkdir -p build/demo
build/bin/quorvane sample build/demo/box.dld --variant all
build/bin/quorvane build build/demo/box.dld --output-dir build/demo/out \
  --boot samples/logo.jpg --model-id "QV7100-DEMO" --http-manual-addr "http://updates.example.net/stb/"
build/bin/quorvane info build/demo/out/box_Merge.dld
