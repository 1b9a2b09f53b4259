#!/usr/bin/env bash
# Installs what is missing, builds the release preset, lays out a working directory for the engine
# under build/release/run and starts the engine in it. Extra arguments go to the engine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
scripts/layout-workdir.sh build/release build/release/run
cd build/release/run
exec ./engine "$@"
