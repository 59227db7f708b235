#!/usr/bin/env bash
# Installs what is missing, builds nolvi2, and runs its main job on the bundled sample picture.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOLVI2_TESTS=OFF >/dev/null
cmake --build build --target nolvi2-cli

mkdir -p out
./build/nolvi2-cli GammaPlus samples/sample.jpg out/sample-gamma.bmp --time
./build/nolvi2-cli Invert samples/sample.jpg out/sample-invert.jpg --select 160,120,480,360 --quality 85
echo "results: $(pwd)/out/sample-gamma.bmp and $(pwd)/out/sample-invert.jpg"
