#!/usr/bin/env bash
# The soak test: the engine runs headless for SECONDS (default 600) with a module that makes and unmakes
# layers, viewports, objects, meshes, images, textures, fonts and sounds and sends messages every frame;
# resident memory and the tables' counts must stay flat after the first minute. Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
cmake --preset dev > /dev/null
cmake --build build/dev --target soak_test
ENGINE_SOAK_SECONDS=${1:-600} build/dev/engine/core/tests/soak_test
